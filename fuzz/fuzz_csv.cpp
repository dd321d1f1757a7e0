// The roster line reader and the member-line splitter on arbitrary bytes. The first input byte
// picks the reader's chunk size (1 to 16 bytes, so that every chunk boundary case comes up), the
// rest is the file. Checked for every input:
// - no line holds LF, CR or 0x1A;
// - the lines are exactly the file cut at 0x1A, without its CRs, split at LF, with nothing after a
//   final LF; the same with the default chunk size;
// - bytesRead grows with each line and never passes the file's size;
// - the eight values of a line are its first eight comma-separated fields, empty beyond the last.
#include "fuzz/FuzzCheck.h"
#include "roster/import/CsvLineReader.h"

#include <QBuffer>
#include <QByteArrayList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The lines a file must give, worked out the plain way on the whole file.
QByteArrayList expectedLines(const QByteArray& file)
{
    QByteArray text = file.left(file.indexOf('\x1a') >= 0 ? file.indexOf('\x1a') : file.size());
    text.replace('\r', QByteArray());
    if (text.isEmpty())
        return {};
    QByteArrayList lines = text.split('\n');
    if (text.endsWith('\n'))
        lines.removeLast();
    return lines;
}

void checkSplit(const QByteArray& line)
{
    const halvenna::MemberValues values = halvenna::splitMemberLine(line);
    const QByteArrayList fields = line.split(',');
    for (int k = 0; k < halvenna::kMemberValueCount; ++k) {
        FUZZ_CHECK(!values[k].contains(','));
        FUZZ_CHECK(values[k] == (k < fields.size() ? fields.at(k) : QByteArray()));
    }
}

QByteArrayList readLines(QByteArray file, qsizetype chunkSize, bool check)
{
    QBuffer buffer(&file);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    halvenna::CsvLineReader reader(buffer, QStringLiteral("fuzz.csv"), chunkSize);
    QByteArrayList lines;
    QByteArray line;
    qint64 previous = 0;
    while (reader.readLine(line)) {
        if (check) {
            FUZZ_CHECK(!line.contains('\n') && !line.contains('\r') && !line.contains('\x1a'));
            FUZZ_CHECK(reader.bytesRead() >= previous + line.size());
            FUZZ_CHECK(reader.bytesRead() <= file.size());
            checkSplit(line);
        }
        previous = reader.bytesRead();
        lines << line;
    }
    FUZZ_CHECK(line.isEmpty());
    FUZZ_CHECK(!reader.readLine(line));
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype chunkSize = 1 + data[0] % 16;
    const QByteArray file(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));

    const QByteArrayList lines = readLines(file, chunkSize, true);
    FUZZ_CHECK(lines == expectedLines(file));
    FUZZ_CHECK(lines == readLines(file, halvenna::CsvLineReader::kDefaultChunkSize, false));
    checkSplit(file);
    return 0;
}

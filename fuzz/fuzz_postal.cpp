// libFuzzer target: the postal-code readers on arbitrary bytes. The first input byte picks the
// reader (the package's dictionary, the postal service's list, the program's own file), the rest
// is the file. Whatever the input, a reader gives an index or an Error that names the file; every
// code of the input looks up without a crash (or an Error naming the file); a postal service list
// read is saved and read back with the same towns.
#include "data/Error.h"
#include "fuzz/FuzzCheck.h"
#include "roster/postal/PostalCodes.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <unistd.h>

namespace {

QString scratch(const char* name)
{
    return QDir::temp().filePath(QStringLiteral("fuzz_postal-%1-%2").arg(::getpid()).arg(QLatin1String(name)));
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The runs of seven ASCII digits in the input, the codes worth looking up (a few at most).
QStringList codesIn(const QByteArray& bytes)
{
    QStringList codes;
    int run = 0;
    for (qsizetype i = 0; i < bytes.size() && codes.size() < 16; ++i) {
        run = bytes[i] >= '0' && bytes[i] <= '9' ? run + 1 : 0;
        if (run == 7)
            codes << QString::fromLatin1(bytes.mid(i - 6, 7));
    }
    return codes;
}

QStringList lookup(const halvenna::PostalCodes& index, const QString& code, const QString& path)
{
    try {
        return index.lookup(code);
    } catch (const halvenna::Error& e) {
        FUZZ_CHECK(e.message().startsWith(path));
        return {QStringLiteral("<error>")};
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using halvenna::PostalCodes;
    if (size == 0)
        return 0;
    const int reader = data[0] % 3;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString path = scratch("input");
    FUZZ_CHECK(write(path, bytes));
    try {
        const PostalCodes index = reader == 0   ? PostalCodes::fromSkkDictionary(path)
                                  : reader == 1 ? PostalCodes::fromPostalServiceList(path)
                                                : PostalCodes::fromOwnFile(path);
        FUZZ_CHECK(index.size() > 0);
        FUZZ_CHECK(index.memoryBytes() >= 0);
        const QStringList codes = codesIn(bytes);
        for (const QString& code : codes)
            lookup(index, code, path);
        if (reader == 1) {
            // What the program keeps of a list reads back the same.
            const QString own = scratch("own");
            index.save(own);
            const PostalCodes again = PostalCodes::fromOwnFile(own);
            FUZZ_CHECK(again.size() == index.size());
            for (const QString& code : codes)
                FUZZ_CHECK(lookup(again, code, own) == lookup(index, code, path));
            QFile::remove(own);
        }
    } catch (const halvenna::Error& e) {
        FUZZ_CHECK(e.message().startsWith(path));
    }
    QFile::remove(path);
    return 0;
}

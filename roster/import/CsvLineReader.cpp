#include "roster/import/CsvLineReader.h"

#include "data/Error.h"

#include <QDir>
#include <QIODevice>

#include <cstring>

namespace halvenna {

namespace {

constexpr char kLf = '\n';
constexpr char kCr = '\r';
constexpr char kEndOfFile = '\x1a';

} // namespace

CsvLineReader::CsvLineReader(QIODevice& device, QString fileName, qsizetype chunkSize)
    : device_(device), fileName_(std::move(fileName)), chunkSize_(chunkSize > 0 ? chunkSize : kDefaultChunkSize)
{}

bool CsvLineReader::fill()
{
    if (chunk_.size() != chunkSize_)
        chunk_.resize(chunkSize_);
    const qint64 n = device_.read(chunk_.data(), chunkSize_);
    if (n < 0)
        throw Error(QStringLiteral("ファイル %1 を読めません (読み込みに失敗しました)")
                        .arg(QDir::toNativeSeparators(fileName_)));
    pos_ = 0;
    end_ = qsizetype(n);
    return n > 0;
}

bool CsvLineReader::readLine(QByteArray& line)
{
    line.resize(0);
    if (finished_)
        return false;
    // A line exists as soon as one byte of it other than a CR has been seen, or its LF.
    bool seen = false;
    for (;;) {
        if (pos_ == end_ && !fill()) {
            finished_ = true;
            return seen;
        }
        const char* const begin = chunk_.constData() + pos_;
        const char* const stop = chunk_.constData() + end_;
        const char* p = begin;
        while (p < stop && *p != kLf && *p != kCr && *p != kEndOfFile)
            ++p;
        if (p > begin) {
            line.append(begin, p - begin);
            seen = true;
        }
        pos_ += p - begin;
        consumed_ += p - begin;
        if (p == stop)
            continue;
        if (*p == kEndOfFile) {
            finished_ = true;
            return seen;
        }
        ++pos_;
        ++consumed_;
        if (*p == kLf)
            return true;
        // A CR: dropped, whatever follows it.
    }
}

QByteArray CsvLineReader::peek(qsizetype n)
{
    if (finished_ || n <= 0)
        return {};
    QByteArray ahead(chunk_.constData() + pos_, qMin(n, end_ - pos_));
    if (ahead.size() < n)
        ahead += device_.peek(n - ahead.size());
    return ahead;
}

MemberValues splitMemberLine(const QByteArray& line)
{
    MemberValues values;
    const char* const data = line.constData();
    const qsizetype size = line.size();
    qsizetype start = 0;
    for (int k = 0; k < kMemberValueCount; ++k) {
        const void* comma = std::memchr(data + start, ',', size_t(size - start));
        const qsizetype stop = comma ? static_cast<const char*>(comma) - data : size;
        if (stop > start)
            values[k] = QByteArray(data + start, stop - start);
        if (!comma)
            break;
        start = stop + 1;
    }
    return values;
}

} // namespace halvenna

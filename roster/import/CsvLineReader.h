#pragma once

#include <QByteArray>
#include <QString>

#include <array>

class QIODevice;

namespace halvenna {

// Reads a roster file one line at a time in fixed-size chunks, so that a file of any size is never
// held whole. The bytes are taken as they are (no conversion, no byte-order mark handling):
// - LF ends a line; a CR is never part of a line (before LF it belongs to the line end, anywhere
//   else it is dropped), so a file behaves as if its CRs were not there;
// - byte 0x1A ends the file: nothing after it is read;
// - the last line may lack its LF, and nothing follows a final LF;
// - a line has no length limit.
class CsvLineReader
{
public:
    static constexpr qsizetype kDefaultChunkSize = 64 * 1024;

    // device must be open for reading; fileName names it in error messages.
    CsvLineReader(QIODevice& device, QString fileName, qsizetype chunkSize = kDefaultChunkSize);
    CsvLineReader(const CsvLineReader&) = delete;
    CsvLineReader& operator=(const CsvLineReader&) = delete;

    // Sets line to the next line without its line end; false (line empty) when there is none.
    // A read error throws halvenna::Error naming the file.
    bool readLine(QByteArray& line);
    // Bytes of the file taken by the lines returned so far, line ends included.
    qint64 bytesRead() const { return consumed_; }
    // Up to n bytes that follow the lines returned so far, as the file holds them, without taking
    // them: what the reader holds, then what the device gives to a peek (on a pipe, that waits for
    // n bytes or the end of the input).
    QByteArray peek(qsizetype n);

private:
    bool fill();

    QIODevice& device_;
    QString fileName_;
    qsizetype chunkSize_;
    QByteArray chunk_;
    qsizetype pos_ = 0;
    qsizetype end_ = 0;
    qint64 consumed_ = 0;
    bool finished_ = false;
};

constexpr int kMemberValueCount = 8;
using MemberValues = std::array<QByteArray, kMemberValueCount>;

// The eight values of a roster line. Every "," separates (there is no quoting), values keep their
// spaces and quotes. A line with c commas gives its first c + 1 fields, in order; values it does
// not have are empty, and anything after an eighth comma is ignored.
MemberValues splitMemberLine(const QByteArray& line);

} // namespace halvenna

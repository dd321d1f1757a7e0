#pragma once

#include "data/Error.h"
#include "data/FieldValue.h"
#include "roster/import/CsvLineReader.h"

#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

class QIODevice;

namespace halvenna {

class Table;

// The run was stopped by the user between two lines.
class ImportCancelled : public Error
{
public:
    ImportCancelled();
};

// Merges a roster CSV file into the member table, line by line in file order (a file saved as UTF-8
// is taken as such, each line converted to code page 932 first): each line's member
// number is looked up, the member found is edited or a new one appended, the eight values are
// written and the row is posted (the table's before-post rule runs). A failure stops the run at its
// line: the lines before it stay stored, the failing row stays in edit or insert state as the table
// left it, and the lines after it are not read. Afterwards the table is in browse state on the last
// member written.
//
// Underneath, the stores are grouped into transactions of chunkLines() lines, so that a large file
// is not one commit per line; a crash or a full disk loses at most the chunk being written. Each
// commit waits for the disk, so chunks are large: a merge can simply be run again.
class MemberImport
{
public:
    // bytesRead: the file's bytes taken by the lines merged so far; fileSize: -1 when unknown.
    using Progress = std::function<void(qint64 bytesRead, qint64 fileSize)>;

    static constexpr int kDefaultChunkLines = 65536;
    // Members stored by one statement on an engine that stores in bulk.
    static constexpr size_t kBulkPage = 2000;
    static constexpr qint64 kDefaultProgressStep = 64 * 1024;

    explicit MemberImport(Table& members);

    // Called after a line whenever at least step bytes have been read since the last call, and
    // once at the end of a run that finished. It may call requestCancel().
    void setProgress(Progress progress, qint64 step = kDefaultProgressStep);
    // Lines per transaction.
    void setChunkLines(int lines);
    int chunkLines() const { return chunkLines_; }
    // Called once in a run, just before its first store: once the file is open and its first line
    // has been read and checked, so a file that cannot be opened, is empty or fails at its first
    // line never reaches it. An error it throws stops the run with nothing stored.
    void setBeforeFirstStore(std::function<void()> hook) { beforeFirstStore_ = std::move(hook); }
    // Bytes the reader takes from the file at a time.
    void setReadChunkSize(qsizetype bytes) { readChunkSize_ = bytes; }

    // Stops the run before the next line, as a failure at that line would (ImportCancelled).
    // Safe to call from another thread or from the progress callback; a request made before run()
    // starts is dropped when it starts.
    void requestCancel() { cancelRequested_ = true; }

    // Imports the file; returns the number of lines merged. The file is closed on every path; one
    // that cannot be opened gives an error naming it.
    int run(const QString& fileName);
    // Imports from a device that is open for reading; fileName names it in error messages.
    int run(QIODevice& device, const QString& fileName);

    // Whether a file that starts with these bytes is UTF-8: a byte-order mark, or text that reads as
    // UTF-8 and not as code page 932. Plain ASCII is the same in both and read as code page 932.
    static bool isUtf8(QByteArrayView start);
    // How much of a file decides it: this much from its first byte that is not ASCII, wherever
    // that is (the file is read ahead as far as needed, and read from its start again).
    static constexpr qint64 kSniffBytes = 64 * 1024;
    // The bytes that decide a device's encoding (see kSniffBytes), its position left as it was.
    // A device that cannot seek (a pipe) is not read ahead beyond kSniffBytes: its sample is then
    // ASCII only, and run() decides at the first line that is not (encodingSampleAt).
    static QByteArray encodingSample(QIODevice& device);
    // The bytes that decide from a line that is not ASCII on: from its first such byte, then what
    // follows it, kSniffBytes in all.
    static QByteArray encodingSampleAt(const QByteArray& line, CsvLineReader& reader);

    // Lines merged by the last run, also after a failure.
    int linesMerged() const { return linesMerged_; }
    // Lines the last run read, the one it stopped at included: after a failure or a cancel at a
    // line, that line's number (from 1).
    int lineNumber() const { return lineNumber_; }

private:
    void merge(const MemberValues& values);
    // On an engine that stores in bulk (a server): the line's member, converted and with its print
    // fields derived by the record rules' member rule (the one a post runs), waits in a page stored by one statement
    // (flush).
    void mergeLater(const MemberValues& values);
    void flush();
    // A line of a UTF-8 file in code page 932. Throws Error naming the line and the first character
    // that code page 932 does not have.
    QByteArray fromUtf8Line(const QByteArray& line) const;
    // Refuses the first line as a store would, before anything is stored.
    void checkLine(const MemberValues& values) const;
    // Rethrows the error being handled with the line's number in its message.
    [[noreturn]] void rethrowAtLine() const;

    Table& members_;
    Progress progress_;
    std::function<void()> beforeFirstStore_;
    qint64 progressStep_ = kDefaultProgressStep;
    int chunkLines_ = kDefaultChunkLines;
    qsizetype readChunkSize_ = CsvLineReader::kDefaultChunkSize;
    std::atomic_bool cancelRequested_ = false;
    int linesMerged_ = 0;
    int lineNumber_ = 0;
    // The page waiting to be stored, and the members in it (a member twice stores the page first).
    std::vector<std::vector<FieldValue>> pending_;
    QSet<qint32> pendingKeys_;
    std::vector<FieldValue> sources_; // a line's values the derived fields come from
    FieldValue lastKey_;
};

} // namespace halvenna

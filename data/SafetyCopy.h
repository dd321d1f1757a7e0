#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace halvenna {

// A safety copy of the roster's tables (members, waybill contents, amounts), taken before a change
// that touches many members at once, so that it can be undone.
struct SafetyCopyInfo
{
    QString folder;  // Dostrel/backup/<yyyyMMdd-HHmmss-zzz>
    QDateTime taken; // local time
    QString reason;  // what it was taken before: "全名簿データ消去", "CSV 読込 <file>"
    qint64 members = -1;
};

// The copies live in <tables>/backup/, one folder each, the ten newest kept. Each table is copied
// through SQLite's online backup, so the copy is consistent even while the program has it open.
class SafetyCopy
{
public:
    static constexpr int kKept = 10;
    // The tables copied and restored, by file name.
    static const QStringList& tableFiles();

    // Takes a copy of the tables in databaseDir. A copy that cannot be made (a full disk, a folder
    // that cannot be written) throws Error "安全のためのコピーを <folder> に作れません (...)" and leaves
    // no half copy behind; the caller then changes nothing.
    // With a server (a libpq connection string), the shared tables are read from it into the
    // copy's table files instead; the copy is still kept in databaseDir's backup folder.
    static SafetyCopyInfo take(const QString& databaseDir, const QString& reason, const QString& server = {});
    // The copies kept, newest first; a folder that is not a whole copy is left out.
    static QList<SafetyCopyInfo> list(const QString& databaseDir);
    // Puts a copy's tables in place of databaseDir's, each file replaced in one step. The tables
    // must be closed in this program; another program holding one fails with the in-use error
    // before anything is replaced. A copy that has gone or lost a table is an error naming it.
    // With a server, the copy's rows replace the server's shared tables instead, in one
    // transaction: every other PC sees the roster before or after, never between.
    static void restore(const QString& databaseDir, const SafetyCopyInfo& copy, const QString& server = {});
};

} // namespace halvenna

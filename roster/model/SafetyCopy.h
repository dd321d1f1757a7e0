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
    // A fingerprint of the rows of every table, alike for copies of the same roster; empty for a
    // copy that was taken without one.
    QByteArray checksum;
    // Set by check(): what is wrong with the copy's files, empty when they are sound.
    QString damage;
};

// The copies live in <tables>/backup/, one folder each, the ten newest kept, and beyond them the
// newest copy of a roster other than the one just copied, so that copies of an unchanged roster
// never push the last different one out. Each table is copied through SQLite's online backup, so
// the copy is consistent even while the program has it open.
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
    // keep names a copy that must stay whatever its age (the one about to be restored).
    static SafetyCopyInfo take(const QString& databaseDir, const QString& reason, const QString& server = {},
                               const QString& keep = {});
    // Removes a copy taken for a change that then changed nothing.
    static void discard(const SafetyCopyInfo& copy);
    // The copies kept, newest first; a folder that is not a whole copy is left out.
    static QList<SafetyCopyInfo> list(const QString& databaseDir);
    // What is wrong with a copy's table files ("コピー <folder> の <table> が壊れています"), empty
    // when nothing is: a quick look at each file's structure, or with thorough its whole check.
    static QString check(const SafetyCopyInfo& copy, bool thorough);
    // Puts a copy's tables in place of databaseDir's, each file replaced in one step. The tables
    // must be closed in this program; another program holding one fails with the in-use error
    // before anything is replaced. A copy that has gone, lost a table or is damaged (check,
    // thorough) is an error naming it, before anything is copied or replaced. The roster as it is
    // is copied first (take, reason "バックアップから復元"), so that a wrong restore can be undone.
    // With a server, the copy's rows replace the server's shared tables instead, in one
    // transaction: every other PC sees the roster before or after, never between.
    static void restore(const QString& databaseDir, const SafetyCopyInfo& copy, const QString& server = {});
};

} // namespace halvenna

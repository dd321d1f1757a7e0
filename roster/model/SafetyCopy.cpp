#include "roster/model/SafetyCopy.h"

#include "data/Error.h"
#include "data/sql/SqliteConnection.h"
#include "roster/model/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace halvenna {

namespace {

const QString kInfoFile = QStringLiteral("about.txt");
const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");

QString backupDir(const QString& databaseDir)
{
    return QDir(databaseDir).filePath(QStringLiteral("backup"));
}

Error cannotCopy(const QString& folder, const QString& why)
{
    return Error(
        QStringLiteral("安全のためのコピーを %1 に作れません (%2)").arg(QDir::toNativeSeparators(folder), why));
}

// Copies one table file through SQLite's online backup.
void copyTable(const QString& from, const QString& to, const QString& folder)
{
    const auto source = sql::SqliteConnection::open(from, QStringLiteral("backup"));
    const auto target = sql::SqliteConnection::open(to, QStringLiteral("backup"), sql::SqliteConnection::Mode::Create);
    sqlite3_backup* backup = sqlite3_backup_init(target->handle(), "main", source->handle(), "main");
    if (!backup)
        throw cannotCopy(folder, sql::sqliteWords(sqlite3_extended_errcode(target->handle())));
    // One step copies every page; a table another program holds has already had the connection's
    // busy wait, so it is reported, never waited on again.
    const int rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        throw cannotCopy(
            folder, QStringLiteral("テーブル %1 は他のプログラムが使用中です").arg(QDir::toNativeSeparators(from)));
    if (rc != SQLITE_DONE)
        throw cannotCopy(folder, sql::sqliteWords(rc));
}

qint64 memberCount(const QString& file)
{
    const auto db = sql::SqliteConnection::open(file, QStringLiteral("backup"));
    qint64 count = -1;
    sqlite3_exec(
        db->handle(), "SELECT count(*) FROM MemberMaster",
        [](void* out, int, char** values, char**) {
            *static_cast<qint64*>(out) = values[0] ? QByteArray(values[0]).toLongLong() : -1;
            return 0;
        },
        &count, nullptr);
    return count;
}

void writeInfo(const QString& folder, const SafetyCopyInfo& info)
{
    QSaveFile file(QDir(folder).filePath(kInfoFile));
    const QByteArray text = "taken=" + info.taken.toString(Qt::ISODateWithMs).toUtf8() +
                            "\nreason=" + info.reason.toUtf8() + "\nmembers=" + QByteArray::number(info.members) +
                            "\nchecksum=" + info.checksum + "\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw cannotCopy(folder, QStorageInfo(folder).bytesAvailable() < text.size() + 4096
                                     ? sql::sqliteWords(SQLITE_FULL)
                                     : QStringLiteral("%1 に書き込めません").arg(kInfoFile));
}

// 64-bit FNV-1a over one value, its kind first, so that 1 and '1' and NULL and '' differ.
void hashValue(quint64& h, int kind, const void* data, int size)
{
    const auto add = [&h](unsigned char byte) {
        h ^= byte;
        h *= 0x100000001b3ULL;
    };
    add(static_cast<unsigned char>(kind));
    for (int i = 0; i < 4; ++i)
        add(static_cast<unsigned char>(size >> (8 * i)));
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < size; ++i)
        add(bytes[i]);
}

// A fingerprint of every row of a copy's tables that does not depend on the order the rows were
// written in (a copy from a server writes them in the server's order): per table, the row count
// and the sum of each row's hash.
QByteArray checksumOf(const QString& folder)
{
    QByteArray text;
    for (const QString& table : SafetyCopy::tableFiles()) {
        sqlite3* db = nullptr;
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(table));
        quint64 sum = 0;
        qint64 rows = 0;
        bool ok = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
        sqlite3_stmt* st = nullptr;
        const QByteArray sql = "SELECT * FROM \"" + QFileInfo(table).completeBaseName().toUtf8() + "\"";
        ok = ok && sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK;
        int rc = SQLITE_DONE;
        while (ok && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            quint64 h = 0xcbf29ce484222325ULL;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const int kind = sqlite3_column_type(st, c);
                if (kind == SQLITE_NULL) {
                    hashValue(h, kind, nullptr, 0);
                    continue;
                }
                const unsigned char* value = sqlite3_column_text(st, c);
                hashValue(h, kind, value, sqlite3_column_bytes(st, c));
            }
            // Mixed once more, so that sums of similar rows do not cancel out.
            h ^= h >> 33;
            h *= 0xff51afd7ed558ccdULL;
            h ^= h >> 33;
            sum += h;
            ++rows;
        }
        ok = ok && rc == SQLITE_DONE;
        sqlite3_finalize(st);
        sqlite3_close(db);
        if (!ok)
            return {}; // unreadable: like no fingerprint, never taken for the same roster
        text += QByteArray::number(rows) + ':' + QByteArray::number(sum, 16) + ';';
    }
    return text;
}

std::optional<SafetyCopyInfo> readInfo(const QString& folder)
{
    for (const QString& table : SafetyCopy::tableFiles())
        if (!QFileInfo(QDir(folder).filePath(table)).isFile())
            return std::nullopt;
    QFile file(QDir(folder).filePath(kInfoFile));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    SafetyCopyInfo info;
    info.folder = folder;
    for (const QByteArray& line : file.read(64 * 1024).split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq);
        const QString value = QString::fromUtf8(line.mid(eq + 1));
        if (key == "taken")
            info.taken = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == "reason")
            info.reason = value;
        else if (key == "members")
            info.members = value.toLongLong();
        else if (key == "checksum")
            info.checksum = line.mid(eq + 1).trimmed();
    }
    if (!info.taken.isValid())
        return std::nullopt;
    return info;
}

} // namespace

const QStringList& SafetyCopy::tableFiles()
{
    static const QStringList files{QStringLiteral("MemberMaster.db"), QStringLiteral("Contents.db"),
                                   QStringLiteral("Account.db")};
    return files;
}

SafetyCopyInfo SafetyCopy::take(const QString& databaseDir, const QString& reason, const QString& server,
                                const QString& keep)
{
    const QDir root(backupDir(databaseDir));
    SafetyCopyInfo info;
    info.taken = QDateTime::currentDateTime();
    info.reason = reason;
    QString name = info.taken.toString(kStampFormat);
    for (int n = 2; root.exists(name); ++n)
        name = info.taken.toString(kStampFormat) + QStringLiteral("-%1").arg(n);
    const QString folder = root.filePath(name);
    // Written under a name no listing takes for a copy, and named only once whole.
    const QString partial = root.filePath(QStringLiteral(".partial-") + name);
    if (!QDir().mkpath(partial))
        throw cannotCopy(folder, QStringLiteral("フォルダを作れません"));
    try {
        if (!server.isEmpty())
            schema::copyRows(server, partial, false, false);
        else
            for (const QString& table : tableFiles())
                copyTable(QDir(databaseDir).filePath(table), QDir(partial).filePath(table), folder);
        info.members = memberCount(QDir(partial).filePath(tableFiles().at(0)));
        info.checksum = checksumOf(partial);
        writeInfo(partial, info);
        if (!QDir(root).rename(QStringLiteral(".partial-") + name, name))
            throw cannotCopy(folder, QStringLiteral("フォルダの名前を付けられません"));
    } catch (const Error& e) {
        QDir(partial).removeRecursively();
        if (e.message().startsWith(QStringLiteral("安全のためのコピーを")))
            throw;
        throw cannotCopy(folder, e.message());
    }
    info.folder = folder;
    // The ten newest stay, and the newest copy of a roster other than this one: copies of an
    // unchanged roster (imports that stored nothing, say) must not push out the copy taken before
    // it was cleared.
    const QList<SafetyCopyInfo> kept = list(databaseDir);
    bool differentKept = false;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        const SafetyCopyInfo& c = kept.at(i);
        QByteArray sum = c.checksum;
        if (!differentKept && sum.isEmpty() && i >= kKept)
            sum = checksumOf(c.folder); // a copy from before fingerprints were kept
        const bool different =
            c.members != info.members || sum.isEmpty() || info.checksum.isEmpty() || sum != info.checksum;
        const bool lastDifferent = different && !differentKept;
        differentKept = differentKept || different;
        if (i < kKept || lastDifferent || (!keep.isEmpty() && QFileInfo(c.folder) == QFileInfo(keep)))
            continue;
        QDir(c.folder).removeRecursively();
    }
    return info;
}

void SafetyCopy::discard(const SafetyCopyInfo& copy)
{
    if (!copy.folder.isEmpty())
        QDir(copy.folder).removeRecursively();
}

QList<SafetyCopyInfo> SafetyCopy::list(const QString& databaseDir)
{
    QList<SafetyCopyInfo> copies;
    const QDir root(backupDir(databaseDir));
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed))
        if (const auto info = readInfo(root.filePath(name)))
            copies.append(*info);
    // Newest first; copies of the same moment by their number ("-2", "-10") in the folder name.
    std::stable_sort(copies.begin(), copies.end(), [](const SafetyCopyInfo& a, const SafetyCopyInfo& b) {
        if (a.taken != b.taken)
            return a.taken > b.taken;
        if (a.folder.size() != b.folder.size())
            return a.folder.size() > b.folder.size();
        return a.folder > b.folder;
    });
    return copies;
}

QString SafetyCopy::check(const SafetyCopyInfo& copy, bool thorough)
{
    const QDir source(copy.folder);
    const QString folder = QDir::toNativeSeparators(copy.folder);
    for (const QString& table : tableFiles()) {
        const QString path = source.filePath(table);
        if (!QFileInfo(path).isFile())
            return QStringLiteral("コピー %1 に %2 がありません").arg(folder, table);
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        QString verdict;
        sqlite3_stmt* st = nullptr;
        if (rc == SQLITE_OK)
            rc = sqlite3_prepare_v2(db, thorough ? "PRAGMA integrity_check(1)" : "PRAGMA quick_check(1)", -1, &st,
                                    nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW)
                verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        }
        sqlite3_finalize(st);
        // The file must also hold its table: an empty or foreign database passes the checks.
        bool hasTable = false;
        if (verdict == QStringLiteral("ok")) {
            const QByteArray sql = "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = '" +
                                   QFileInfo(table).completeBaseName().toUtf8() + "'";
            if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW)
                hasTable = sqlite3_column_int(st, 0) == 1;
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        if (verdict == QStringLiteral("ok") && hasTable)
            continue;
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED || rc == SQLITE_NOMEM || (rc & 0xff) == SQLITE_IOERR)
            return QStringLiteral("コピー %1 の %2 を確かめられません (%3)").arg(folder, table, sql::sqliteWords(rc));
        return QStringLiteral("コピー %1 の %2 が壊れています").arg(folder, table);
    }
    return {};
}

void SafetyCopy::restore(const QString& databaseDir, const SafetyCopyInfo& copy, const QString& server)
{
    // A damaged copy is refused before anything is replaced.
    if (const QString damage = check(copy, true); !damage.isEmpty())
        throw Error(damage);
    const QDir source(copy.folder);
    // The roster as it is now is copied first, so that restoring the wrong copy can be undone; the
    // copy being restored stays whatever its age.
    take(databaseDir, QStringLiteral("バックアップから復元"), server, copy.folder);
    if (!server.isEmpty()) {
        schema::copyRows(server, copy.folder, true, true);
        return;
    }
    // Every live table locked first: another program holding one stops the restore before
    // anything is replaced.
    std::vector<std::unique_ptr<sql::SqliteConnection>> locks;
    for (const QString& table : tableFiles()) {
        locks.push_back(sql::SqliteConnection::open(QDir(databaseDir).filePath(table), table));
        locks.back()->execute(QStringLiteral("BEGIN EXCLUSIVE"), QStringLiteral("復元"));
    }
    // Each copy is first laid beside its table, then renamed over it in one step.
    QStringList staged;
    for (const QString& table : tableFiles()) {
        const QString next = QDir(databaseDir).filePath(table + QStringLiteral(".restoring"));
        QFile::remove(next);
        if (!QFile::copy(source.filePath(table), next)) {
            for (const QString& s : std::as_const(staged))
                QFile::remove(s);
            throw Error(QStringLiteral("%1 に書き込めません").arg(QDir::toNativeSeparators(next)));
        }
        staged << next;
    }
    // Replaced while the locks are held, so that no other program starts on a table between.
    for (qsizetype i = 0; i < tableFiles().size(); ++i) {
        const QString target = QDir(databaseDir).filePath(tableFiles().at(i));
        if (std::rename(QFile::encodeName(staged.at(i)).constData(), QFile::encodeName(target).constData()) != 0)
            throw Error(QStringLiteral("%1 に書き込めません").arg(QDir::toNativeSeparators(target)));
    }
    locks.clear();
}

} // namespace halvenna

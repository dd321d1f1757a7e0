#include "data/SafetyCopy.h"

#include "data/Error.h"
#include "data/Schema.h"
#include "data/sql/SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
        throw cannotCopy(folder, QString::fromUtf8(sqlite3_errmsg(target->handle())));
    // One step copies every page; a table another program holds has already had the connection's
    // busy wait, so it is reported, never waited on again.
    const int rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        throw cannotCopy(
            folder, QStringLiteral("テーブル %1 は他のプログラムが使用中です").arg(QDir::toNativeSeparators(from)));
    if (rc != SQLITE_DONE)
        throw cannotCopy(folder, QString::fromUtf8(sqlite3_errstr(rc)));
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
                            "\nreason=" + info.reason.toUtf8() + "\nmembers=" + QByteArray::number(info.members) + "\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw cannotCopy(folder, file.errorString());
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

SafetyCopyInfo SafetyCopy::take(const QString& databaseDir, const QString& reason, const QString& server)
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
    // The ten newest stay.
    const QList<SafetyCopyInfo> kept = list(databaseDir);
    for (qsizetype i = kKept; i < kept.size(); ++i)
        QDir(kept.at(i).folder).removeRecursively();
    return info;
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

void SafetyCopy::restore(const QString& databaseDir, const SafetyCopyInfo& copy, const QString& server)
{
    const QDir source(copy.folder);
    for (const QString& table : tableFiles())
        if (!QFileInfo(source.filePath(table)).isFile())
            throw Error(
                QStringLiteral("コピー %1 に %2 がありません").arg(QDir::toNativeSeparators(copy.folder), table));
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

#pragma once

// Faults a test can cause on purpose: a file or folder nobody may write, a table file another
// program holds a write lock on, and a disk that fills up while the tables are written.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QThread>

#include <sqlite3.h>
#include <unistd.h>

#include <cstring>

namespace faults {

// Makes a file or a folder unwritable for as long as it lives; undone when it goes, also when the
// test fails half-way. The immutable flag stops even root (the tests run as root in CI); where it
// cannot be set (a file system without it, no CAP_LINUX_IMMUTABLE) a user other than root is
// stopped by taking away the write permission. why() says what was tried when neither works.
class Unwritable
{
public:
    explicit Unwritable(QString path) : path_(std::move(path))
    {
        if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0) {
            how_ = How::Immutable;
            return;
        }
        why_ = QStringLiteral("chattr +i %1 failed (no such tool, a file system without the flag, or no "
                              "CAP_LINUX_IMMUTABLE)")
                   .arg(path_);
        if (geteuid() == 0) {
            why_ += QStringLiteral("; root writes whatever the permissions say");
            return;
        }
        permissions_ = QFile::permissions(path_);
        const auto noWrite = permissions_ & ~(QFileDevice::WriteOwner | QFileDevice::WriteUser |
                                              QFileDevice::WriteGroup | QFileDevice::WriteOther);
        if (QFile::setPermissions(path_, noWrite))
            how_ = How::Permissions;
        else
            why_ += QStringLiteral("; the write permission of %1 could not be taken away either").arg(path_);
    }
    ~Unwritable() { undo(); }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;

    bool isSet() const { return how_ != How::None; }
    const QString& why() const { return why_; }

    void undo()
    {
        if (how_ == How::Immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        else if (how_ == How::Permissions)
            QFile::setPermissions(path_, permissions_);
        how_ = How::None;
    }

private:
    enum class How { None, Immutable, Permissions };
    QString path_;
    How how_ = How::None;
    QFileDevice::Permissions permissions_;
    QString why_;
};

// True when another connection cannot start writing to dbFile at once: someone holds a reserved or
// stronger lock on it.
inline bool writeLocked(const QString& dbFile)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return (rc & 0xff) == SQLITE_BUSY;
}

// The sqlite3 command-line shell on one table file, another program as far as ours can tell. It
// reads what send() gives it until finish() or its destruction ends it.
class SqliteShell
{
public:
    explicit SqliteShell(QString dbFile) : dbFile_(std::move(dbFile))
    {
        shell_.setProcessChannelMode(QProcess::MergedChannels);
        shell_.start(QStringLiteral("sqlite3"), {dbFile_});
        started_ = shell_.waitForStarted(10000);
    }
    ~SqliteShell() { finish(); }
    SqliteShell(const SqliteShell&) = delete;
    SqliteShell& operator=(const SqliteShell&) = delete;

    bool started() const { return started_; }
    void send(const QByteArray& commands)
    {
        shell_.write(commands);
        shell_.waitForBytesWritten(5000);
    }
    // Waits until the shell holds a write lock (true) or ms have passed (false).
    bool waitUntilWriteLocked(int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (writeLocked(dbFile_))
                return true;
            QThread::msleep(20);
        }
        return false;
    }
    // Sends the last commands, ends the shell and returns everything it printed.
    QByteArray finish(const QByteArray& lastCommands = ".quit\n")
    {
        if (started_ && shell_.state() != QProcess::NotRunning) {
            send(lastCommands);
            shell_.closeWriteChannel();
            if (!shell_.waitForFinished(10000)) {
                shell_.kill();
                shell_.waitForFinished(5000);
            }
        }
        output_ += shell_.readAll();
        return output_;
    }

private:
    QString dbFile_;
    QProcess shell_;
    bool started_ = false;
    QByteArray output_;
};

// The result of PRAGMA integrity_check on a table file, read past the table layer.
inline QString integrityCheck(const QString& dbFile)
{
    sqlite3* db = nullptr;
    QString result = QStringLiteral("<cannot open>");
    if (sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        result = QStringLiteral("<cannot check>");
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK) {
            QStringList lines;
            while (sqlite3_step(st) == SQLITE_ROW)
                lines << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            result = lines.join(u'\n');
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
}

// A disk that fills up: a VFS put in front of the default one, which every table opened from then
// on uses. Writes that make the files whose names contain a given part (a table file and its
// journal) longer fail with SQLITE_FULL once their growth would go past a quota of bytes; other
// files are written as usual. One at a time; it takes itself away when it goes.
class FullDisk
{
public:
    explicit FullDisk(QByteArray fileNamePart, qint64 quota = -1)
    {
        sqlite3_initialize();
        State& s = state();
        s.real = sqlite3_vfs_find(nullptr);
        s.part = std::move(fileNamePart);
        s.quota = quota;
        s.written = 0;
        s.refused = 0;
        s.vfs = *s.real;
        s.vfs.iVersion = s.real->iVersion < 3 ? s.real->iVersion : 3;
        s.vfs.szOsFile = int(sizeof(File)) + s.real->szOsFile;
        s.vfs.zName = "halvenna-full-disk";
        s.vfs.pNext = nullptr;
        s.vfs.xOpen = &open;
        registered_ = sqlite3_vfs_register(&s.vfs, 1) == SQLITE_OK;
    }
    ~FullDisk()
    {
        State& s = state();
        if (registered_) {
            sqlite3_vfs_unregister(&s.vfs);
            sqlite3_vfs_register(s.real, 1);
        }
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool registered() const { return registered_; }
    // Bytes the files may still grow by from now on; -1: no limit.
    void setQuota(qint64 bytes)
    {
        state().quota = bytes;
        state().written = 0;
    }
    // Bytes the files grew by since the quota was set.
    qint64 written() const { return state().written; }
    int refused() const { return state().refused; }

private:
    struct State
    {
        sqlite3_vfs vfs{};
        sqlite3_vfs* real = nullptr;
        QByteArray part;
        qint64 quota = -1;
        qint64 written = 0;
        int refused = 0;
        sqlite3_io_methods methods{};
    };
    static State& state()
    {
        static State s;
        return s;
    }

    // Our handle, with the real VFS's handle right behind it.
    struct File
    {
        sqlite3_file base;
        bool counted;
        sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    };
    static sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real(); }

    static int open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags)
    {
        State& s = state();
        auto* f = reinterpret_cast<File*>(file);
        f->base.pMethods = nullptr;
        f->counted = name && std::strstr(name, s.part.constData()) != nullptr;
        std::memset(f->real(), 0, size_t(s.real->szOsFile));
        const int rc = s.real->xOpen(s.real, name, f->real(), flags, outFlags);
        if (f->real()->pMethods) {
            s.methods = methodsFor(f->real()->pMethods);
            f->base.pMethods = &s.methods;
        }
        return rc;
    }

    static sqlite3_io_methods methodsFor(const sqlite3_io_methods* r)
    {
        sqlite3_io_methods m{};
        m.iVersion = r->iVersion < 3 ? r->iVersion : 3;
        m.xClose = [](sqlite3_file* f) { return real(f)->pMethods->xClose(real(f)); };
        m.xRead = [](sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
            return real(f)->pMethods->xRead(real(f), b, n, o);
        };
        m.xWrite = [](sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
            State& s = state();
            if (reinterpret_cast<File*>(f)->counted) {
                // Only what makes a file longer takes space: rewriting a page in place does not,
                // so a rollback can always put the old pages back.
                sqlite3_int64 size = 0;
                if (real(f)->pMethods->xFileSize(real(f), &size) != SQLITE_OK)
                    size = 0;
                const qint64 growth = qMax<qint64>(0, o + n - size);
                if (growth > 0 && s.quota >= 0 && s.written + growth > s.quota) {
                    ++s.refused;
                    return SQLITE_FULL;
                }
                s.written += growth;
            }
            return real(f)->pMethods->xWrite(real(f), b, n, o);
        };
        m.xTruncate = [](sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); };
        m.xSync = [](sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); };
        m.xFileSize = [](sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); };
        m.xLock = [](sqlite3_file* f, int lock) { return real(f)->pMethods->xLock(real(f), lock); };
        m.xUnlock = [](sqlite3_file* f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); };
        m.xCheckReservedLock = [](sqlite3_file* f, int* out) {
            return real(f)->pMethods->xCheckReservedLock(real(f), out);
        };
        m.xFileControl = [](sqlite3_file* f, int op, void* arg) {
            return real(f)->pMethods->xFileControl(real(f), op, arg);
        };
        m.xSectorSize = [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); };
        m.xDeviceCharacteristics = [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); };
        if (m.iVersion >= 2) {
            m.xShmMap = [](sqlite3_file* f, int region, int size, int extend, void volatile** p) {
                return real(f)->pMethods->xShmMap(real(f), region, size, extend, p);
            };
            m.xShmLock = [](sqlite3_file* f, int offset, int n, int flags) {
                return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
            };
            m.xShmBarrier = [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); };
            m.xShmUnmap = [](sqlite3_file* f, int deleteFlag) {
                return real(f)->pMethods->xShmUnmap(real(f), deleteFlag);
            };
        }
        if (m.iVersion >= 3) {
            m.xFetch = [](sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
                return real(f)->pMethods->xFetch(real(f), o, n, p);
            };
            m.xUnfetch = [](sqlite3_file* f, sqlite3_int64 o, void* p) {
                return real(f)->pMethods->xUnfetch(real(f), o, p);
            };
        }
        return m;
    }

    bool registered_ = false;
};

} // namespace faults

#pragma once

// A PostgreSQL server of the test's own: Debian's initdb and postgres on a data folder in a temporary
// folder, listening on a unix socket in that folder and nowhere else (no TCP port), with a port
// number of its own, so it never meets the machine's own cluster nor another test's server. Durability
// is traded for speed (no fsync), which a fast stop still honours: everything committed is written
// out before the server ends.
//
//     PrivatePostgres pg;
//     QVERIFY2(pg.start(), qPrintable(pg.error()));
//     QVERIFY2(pg.psql(QStringLiteral("CREATE TABLE t (a int)")), qPrintable(pg.error()));
//     ... connect with pg.conninfo() ...
//     QVERIFY2(pg.stopServer(), qPrintable(pg.error()));   // the server goes away mid-work
//     QVERIFY2(pg.startAgain(), qPrintable(pg.error()));   // and comes back with its data
//
// Needs the packages postgresql and postgresql-client (scripts/deps.sh). postgres refuses to run as
// root, so under root (as in CI) initdb and the server run as the system user postgres (nobody where
// it is missing). The server ends with the process that started it, whoever it runs as.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVersionNumber>

#include <algorithm>
#include <utility>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

class PrivatePostgres
{
public:
    PrivatePostgres()
        : dir_(QStringLiteral("/tmp/halvenna-pg-XXXXXX")), // short: a socket path has room for 107 bytes
          port_(choosePort())
    {}
    ~PrivatePostgres()
    {
        if (!stopServer())
            kill();
        if (server_.state() != QProcess::NotRunning) {
            server_.kill();
            server_.waitForFinished(10000);
        }
    }
    PrivatePostgres(const PrivatePostgres&) = delete;
    PrivatePostgres& operator=(const PrivatePostgres&) = delete;

    // The folder holding the server's socket (libpq's host), its data folder and its log.
    QString socketDir() const { return dir_.path(); }
    QString dataDir() const { return path(QStringLiteral("data")); }
    int port() const { return port_; }
    // The postmaster's process id while it runs, else 0.
    qint64 serverPid() const { return server_.state() == QProcess::Running ? server_.processId() : 0; }
    bool isRunning() const { return server_.state() == QProcess::Running; }
    // The psql found by start(), for a session a test keeps open itself.
    const QString& psqlProgram() const { return psql_; }
    // What went wrong last, with the server's or psql's own words where they have some.
    const QString& error() const { return error_; }

    // A libpq connection string for the database halvenna (or another) as the user halvenna, who
    // owns the cluster and needs no password.
    QString conninfo() const { return conninfo(QStringLiteral("halvenna")); }
    QString conninfo(const QString& dbname) const
    {
        return QStringLiteral("host=%1 port=%2 dbname=%3 user=halvenna")
            .arg(quoted(socketDir()))
            .arg(port_)
            .arg(quoted(dbname));
    }

    // Makes the cluster, starts the server and makes the database halvenna; true once it is there.
    bool start()
    {
        if (!dir_.isValid())
            return fail(QStringLiteral("cannot make a temporary folder for postgres: ") + dir_.errorString());
        if (!findPrograms())
            return false;
        if (!chooseServerUser())
            return false;
        // The server's user makes the socket here; psql, run as the test's user, only passes through.
        const QByteArray dir = QFile::encodeName(socketDir());
        if (::chmod(dir.constData(), 0711) != 0 || (asOtherUser_ && ::chown(dir.constData(), uid_, gid_) != 0))
            return fail(QStringLiteral("cannot hand %1 to the user %2: %3")
                            .arg(socketDir(), serverUser_, QString::fromLocal8Bit(::strerror(errno))));

        QProcess initdb;
        prepare(initdb, true);
        initdb.setProcessChannelMode(QProcess::MergedChannels);
        initdb.start(initdb_, {QStringLiteral("-D"), dataDir(), QStringLiteral("--auth=trust"), QStringLiteral("-U"),
                               QStringLiteral("halvenna"), QStringLiteral("--encoding=UTF8"),
                               QStringLiteral("--locale=C"), QStringLiteral("-N")});
        if (!initdb.waitForFinished(120000) || initdb.exitStatus() != QProcess::NormalExit || initdb.exitCode() != 0)
            return fail(QStringLiteral("initdb (as %1) failed%2: %3")
                            .arg(serverUser_, exitNote(initdb), QString::fromLocal8Bit(initdb.readAll())));
        if (!runServer())
            return false;
        return createDatabase(QStringLiteral("halvenna"));
    }

    // Fast shutdown (SIGINT): open sessions are ended, what they committed is written out. True
    // once the server has ended (or was not running).
    bool stopServer() { return endServer(SIGINT, "fast", true); }

    // Immediate shutdown (SIGQUIT), as after a crash: the next start recovers from the WAL. With
    // synchronous_commit off, the last fraction of a second of commits may be lost; what a CHECKPOINT
    // has written is kept.
    bool kill() { return endServer(SIGQUIT, "immediate", false); }

    // Settings ("name=value") for the next start, after (and so over) the usual ones: a test that
    // needs TCP or TLS sets listen_addresses and ssl, then stops the server and starts it again.
    void setOptions(const QStringList& options) { options_ = options; }
    // Hands a file the test wrote in the data folder to the server's user, readable by it alone (a
    // key the server refuses otherwise).
    bool giveToServer(const QString& file)
    {
        const QByteArray f = QFile::encodeName(file);
        if (::chmod(f.constData(), 0600) != 0 || (asOtherUser_ && ::chown(f.constData(), uid_, gid_) != 0))
            return fail(QStringLiteral("cannot hand %1 to the user %2: %3")
                            .arg(file, serverUser_, QString::fromLocal8Bit(::strerror(errno))));
        return true;
    }

    // Starts the server again on the same data folder, socket and port.
    bool startAgain()
    {
        if (!QFileInfo::exists(path(QStringLiteral("data/PG_VERSION"))))
            return fail(QStringLiteral("there is no cluster to start again: start() first"));
        if (isRunning())
            return fail(QStringLiteral("the server is running already"));
        return runServer();
    }

    // A new, empty database owned by halvenna.
    bool createDatabase(const QString& name)
    {
        QString out;
        if (!psqlOn(QStringLiteral("postgres"),
                    QStringLiteral("CREATE DATABASE %1 OWNER halvenna").arg(identifier(name)), &out))
            return fail(QStringLiteral("cannot create the database %1: %2").arg(name, error_));
        return true;
    }

    // Runs SQL (any number of statements) with psql in the database halvenna, stopping at the first
    // error; rows come back unaligned, one a line, columns split by '|', without headers.
    bool psql(const QString& sql, QString* out = nullptr) { return psqlOn(QStringLiteral("halvenna"), sql, out); }
    bool psqlOn(const QString& dbname, const QString& sql, QString* out = nullptr)
    {
        if (psql_.isEmpty() && !findPrograms())
            return false;
        QProcess p;
        prepare(p, false);
        p.start(psql_, {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                        QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-At"), QStringLiteral("-d"),
                        conninfo(dbname), QStringLiteral("-f"), QStringLiteral("-")});
        if (!p.waitForStarted(10000))
            return fail(QStringLiteral("cannot start %1: %2").arg(psql_, p.errorString()));
        p.write(sql.toUtf8());
        p.closeWriteChannel();
        const bool finished = p.waitForFinished(60000);
        if (!finished) {
            p.kill();
            p.waitForFinished(5000);
        }
        QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
        if (stdOut.endsWith(u'\n'))
            stdOut.chop(1);
        if (out)
            *out = stdOut;
        if (!finished)
            return fail(QStringLiteral("psql did not finish within 60 s"));
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return fail(
                QStringLiteral("psql failed%1: %2").arg(exitNote(p), QString::fromUtf8(p.readAllStandardError())));
        return true;
    }

    // The end of the server's log, for a failure message.
    QString logTail(int lines = 20) const
    {
        QFile f(logFile());
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("(no server log: %1)").arg(f.errorString());
        QStringList all = QString::fromLocal8Bit(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
        if (all.size() > lines)
            all = all.mid(all.size() - lines);
        return QStringLiteral("--- %1:\n%2").arg(logFile(), all.join(u'\n'));
    }

private:
    static constexpr int switchUserFailed = 125; // exit code of a child that could not become the server's user

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString logFile() const { return path(QStringLiteral("server.log")); }

    bool fail(const QString& message)
    {
        error_ = message;
        return false;
    }

    // Each server listens only in its own folder, so ports cannot clash; a number of its own still
    // keeps the socket's name apart from the machine's cluster (5432) in any message.
    static int choosePort()
    {
        static int made = 0;
        return 20000 + int((qint64(::getpid()) * 8 + made++) % 40000);
    }

    // Highest version under /usr/lib/postgresql first (Debian keeps the server's programs there,
    // off PATH), then PATH.
    bool findPrograms()
    {
        QStringList dirs;
        const QDir lib(QStringLiteral("/usr/lib/postgresql"));
        QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) {
            return QVersionNumber::fromString(a) > QVersionNumber::fromString(b);
        });
        for (const QString& v : versions)
            dirs << lib.filePath(v + QStringLiteral("/bin"));
        auto find = [&](const char* name) {
            const QString found = QStandardPaths::findExecutable(QLatin1String(name), dirs);
            return !found.isEmpty() ? found : QStandardPaths::findExecutable(QLatin1String(name));
        };
        initdb_ = find("initdb");
        postgres_ = find("postgres");
        psql_ = find("psql");
        QStringList missing;
        for (const auto& [name, found] : {std::pair{"initdb", initdb_}, {"postgres", postgres_}, {"psql", psql_}})
            if (found.isEmpty())
                missing << QLatin1String(name);
        if (!missing.isEmpty())
            return fail(QStringLiteral("PostgreSQL's %1 not found (looked in /usr/lib/postgresql/*/bin and on PATH): "
                                       "the tests need the Debian packages postgresql and postgresql-client; "
                                       "scripts/deps.sh installs them, as CI does")
                            .arg(missing.join(QStringLiteral(", "))));
        return true;
    }

    bool chooseServerUser()
    {
        asOtherUser_ = ::geteuid() == 0;
        if (!asOtherUser_) {
            const passwd* pw = ::getpwuid(::geteuid());
            serverUser_ = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
            return true;
        }
        for (const char* name : {"postgres", "nobody"}) {
            if (const passwd* pw = ::getpwnam(name)) {
                serverUser_ = QLatin1String(name);
                uid_ = pw->pw_uid;
                gid_ = pw->pw_gid;
                return true;
            }
        }
        return fail(QStringLiteral("postgres will not run as root, and there is neither a user postgres (Debian "
                                   "package postgresql; scripts/deps.sh installs it) nor nobody to run it as"));
    }

    // A child of ours: no PG* settings of the caller's (they could point it at another server); for
    // initdb and the server, the unprivileged user and an end together with this process.
    void prepare(QProcess& p, bool asServer) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& key : env.keys())
            if (key.startsWith(QLatin1String("PG")))
                env.remove(key);
        env.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QStringLiteral("10"));
        env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
        p.setProcessEnvironment(env);
        if (!asServer)
            return;
        // initdb and postgres look for their own folder from the working one, which must be theirs.
        p.setWorkingDirectory(socketDir());
        const bool switchUser = asOtherUser_;
        const uid_t uid = uid_;
        const gid_t gid = gid_;
        const pid_t parent = ::getpid();
        p.setChildProcessModifier([switchUser, uid, gid, parent] {
            if (switchUser && (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
                ::_exit(switchUserFailed);
            // After the switch: a change of user clears the parent-death signal. SIGQUIT is the
            // server's immediate shutdown, which also ends its backends. The parent may have gone
            // before the signal was armed.
            ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
            if (::getppid() != parent)
                ::_exit(switchUserFailed);
        });
    }

    QString exitNote(const QProcess& p) const
    {
        if (p.exitStatus() != QProcess::NormalExit)
            return QStringLiteral(" (crashed)");
        if (asOtherUser_ && p.exitCode() == switchUserFailed)
            return QStringLiteral(" (could not become the user %1: exit code %2)").arg(serverUser_).arg(p.exitCode());
        return QStringLiteral(" (exit code %1)").arg(p.exitCode());
    }

    // The postmaster itself as our child (not pg_ctl's daemon), so it ends with this process.
    bool runServer()
    {
        server_.setProgram(postgres_);
        server_.setArguments(
            {QStringLiteral("-D"), dataDir(), QStringLiteral("-c"), QStringLiteral("listen_addresses="),
             QStringLiteral("-c"), QStringLiteral("unix_socket_directories=") + socketDir(), QStringLiteral("-c"),
             QStringLiteral("port=%1").arg(port_), QStringLiteral("-c"), QStringLiteral("fsync=off"),
             QStringLiteral("-c"), QStringLiteral("synchronous_commit=off"), QStringLiteral("-c"),
             QStringLiteral("full_page_writes=off"), QStringLiteral("-c"), QStringLiteral("shared_buffers=32MB")});
        for (const QString& option : options_)
            server_.setArguments(server_.arguments() << QStringLiteral("-c") << option);
        prepare(server_, true);
        server_.setStandardOutputFile(logFile(), QIODevice::Append);
        server_.setStandardErrorFile(logFile(), QIODevice::Append);
        server_.start();
        if (!server_.waitForStarted(10000))
            return fail(QStringLiteral("cannot start %1: %2").arg(postgres_, server_.errorString()));
        const QDeadlineTimer deadline(60000);
        QString last;
        while (!deadline.hasExpired()) {
            if (server_.state() != QProcess::Running)
                return fail(QStringLiteral("postgres (as %1) ended at start%2\n%3")
                                .arg(serverUser_, exitNote(server_), logTail()));
            if (psqlOn(QStringLiteral("postgres"), QStringLiteral("SELECT 1")))
                return true;
            last = error_;
            QTest::qWait(100);
        }
        return fail(
            QStringLiteral("postgres does not answer on %1 after 60 s: %2\n%3").arg(socketDir(), last, logTail()));
    }

    bool endServer(int signal, const char* how, bool cleanExit)
    {
        if (server_.state() == QProcess::NotRunning)
            return true;
        ::kill(pid_t(server_.processId()), signal);
        if (!server_.waitForFinished(60000))
            return fail(QStringLiteral("postgres did not end within 60 s of a %1 shutdown\n%2")
                            .arg(QLatin1String(how), logTail()));
        if (server_.exitStatus() != QProcess::NormalExit || (cleanExit && server_.exitCode() != 0))
            return fail(QStringLiteral("postgres ended badly on a %1 shutdown%2\n%3")
                            .arg(QLatin1String(how), exitNote(server_), logTail()));
        return true;
    }

    // libpq's quoting of a connection string's value, where one needs it.
    static QString quoted(QString value)
    {
        if (!value.isEmpty() && !value.contains(QRegularExpression(QStringLiteral("[\\s'\\\\]"))))
            return value;
        value.replace(u'\\', QLatin1String("\\\\")).replace(u'\'', QLatin1String("\\'"));
        return u'\'' + value + u'\'';
    }

    static QString identifier(QString name) { return u'"' + name.replace(u'"', QLatin1String("\"\"")) + u'"'; }

    QTemporaryDir dir_;
    int port_;
    QString initdb_, postgres_, psql_;
    bool asOtherUser_ = false; // the test runs as root: initdb and postgres run as serverUser_
    QString serverUser_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    QProcess server_;
    QString error_;
    QStringList options_;
};

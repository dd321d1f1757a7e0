// The tests' private PostgreSQL server: it runs unprivileged on its own socket, keeps what it is
// given across a stop, keeps databases apart, reports SQL errors in the server's words, and ends
// when the process that started it is killed.
#include "common/PrivatePostgres.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The environment variable that turns this program into a process that starts a server, prints its
// postmaster's pid and socket folder, and waits to be killed.
constexpr const char* orphanMode = "HALVENNA_PG_ORPHAN";

int runOrphan()
{
    auto* pg = new PrivatePostgres; // never destroyed: the process is killed with the server up
    if (!pg->start()) {
        std::fprintf(stderr, "%s\n", qPrintable(pg->error()));
        return 1;
    }
    // A session left open, so that a backend is there to be ended too.
    auto* session = new QProcess;
    session->start(pg->psqlProgram(), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"), pg->conninfo(),
                                       QStringLiteral("-c"), QStringLiteral("SELECT pg_sleep(600)")});
    QString backend;
    const QDeadlineTimer deadline(60000);
    while (backend.isEmpty() && !deadline.hasExpired()) {
        QTest::qWait(50);
        if (!pg->psql(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE query = 'SELECT pg_sleep(600)'"),
                      &backend)) {
            std::fprintf(stderr, "%s\n", qPrintable(pg->error()));
            return 1;
        }
    }
    std::printf("%lld %s %s\n", pg->serverPid(), qPrintable(backend), qPrintable(pg->socketDir()));
    std::fflush(stdout);
    for (;;)
        ::pause();
}

// The uid of a running process, or -1 where it is gone (a zombie counts as gone: its parent died
// and nobody reaped it).
long processUid(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size() || line[close + 2] == 'Z' || line[close + 2] == 'X')
        return -1;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& l : status.readAll().split('\n'))
        if (l.startsWith("Uid:"))
            return l.mid(4).simplified().split(' ').value(1).toLong(); // the effective uid
    return -1;
}

} // namespace

class TestPrivatePostgres : public QObject
{
    Q_OBJECT

private:
    PrivatePostgres pg_;

    QString query(const QString& sql, const QString& db = QStringLiteral("halvenna"))
    {
        QString out;
        if (!pg_.psqlOn(db, sql, &out))
            return QStringLiteral("<failed: %1>").arg(pg_.error());
        return out;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(pg_.start(), qPrintable(pg_.error())); }

    // The server's user is never root, owns the data folder, and the server listens on its own
    // socket and port only, with the settings that make it fast.
    void runsUnprivilegedOnItsOwnSocket()
    {
        const long uid = processUid(pg_.serverPid());
        QVERIFY2(uid >= 0, "the postmaster is not running");
        if (::geteuid() == 0)
            QVERIFY(uid != 0);
        else
            QCOMPARE(uid, long(::geteuid()));
        struct stat data
        {
        };
        QCOMPARE(::stat(QFile::encodeName(pg_.dataDir()).constData(), &data), 0);
        QCOMPARE(long(data.st_uid), uid);

        QCOMPARE(query(QStringLiteral("SHOW listen_addresses")), QString());
        QCOMPARE(query(QStringLiteral("SHOW port")), QString::number(pg_.port()));
        QCOMPARE(query(QStringLiteral("SHOW unix_socket_directories")), pg_.socketDir());
        QVERIFY(QFileInfo::exists(QStringLiteral("%1/.s.PGSQL.%2").arg(pg_.socketDir()).arg(pg_.port())));
        QCOMPARE(query(QStringLiteral("SELECT current_setting('fsync') || current_setting('synchronous_commit') || "
                                      "current_setting('full_page_writes')")),
                 QStringLiteral("offoffoff"));
        QCOMPARE(
            query(QStringLiteral("SELECT current_database() || ' ' || current_user || ' ' || "
                                 "pg_encoding_to_char(encoding) FROM pg_database WHERE datname = current_database()")),
            QStringLiteral("halvenna halvenna UTF8"));
        QCOMPARE(query(QStringLiteral("SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = 'halvenna'")),
                 QStringLiteral("halvenna"));
    }

    // Several statements in one go; Japanese text goes in and comes back as it was.
    void readsBackWhatItWrote()
    {
        QVERIFY2(pg_.psql(QStringLiteral("CREATE TABLE members (id int PRIMARY KEY, name text);\n"
                                         "INSERT INTO members VALUES (1, '山田 花子'), (2, 'ｶﾅ|パイプ');\n")),
                 qPrintable(pg_.error()));
        QCOMPARE(query(QStringLiteral("SELECT id, name FROM members ORDER BY id")),
                 QStringLiteral("1|山田 花子\n2|ｶﾅ|パイプ"));
        QCOMPARE(query(QStringLiteral("SELECT length(name) FROM members WHERE id = 1")), QStringLiteral("5"));
    }

    // psql stops at the first error, and the failure carries the server's words.
    void stopsAtTheFirstError()
    {
        QString out;
        QVERIFY(!pg_.psql(QStringLiteral("CREATE TABLE seen (a int);\n"
                                         "INSERT INTO seen VALUES (1);\n"
                                         "INSERT INTO no_such_table VALUES (1);\n"
                                         "INSERT INTO seen VALUES (2);\n"),
                          &out));
        QVERIFY2(pg_.error().contains(QStringLiteral("relation \"no_such_table\" does not exist")),
                 qPrintable(pg_.error()));
        QCOMPARE(query(QStringLiteral("SELECT string_agg(a::text, ',') FROM seen")), QStringLiteral("1"));
    }

    void databasesAreSeparate()
    {
        QVERIFY2(pg_.createDatabase(QStringLiteral("first")), qPrintable(pg_.error()));
        QVERIFY2(pg_.createDatabase(QStringLiteral("second one")), qPrintable(pg_.error()));
        QVERIFY(pg_.conninfo(QStringLiteral("second one")).contains(QStringLiteral("dbname='second one'")));
        QVERIFY2(
            pg_.psqlOn(QStringLiteral("first"), QStringLiteral("CREATE TABLE t (a text); INSERT INTO t VALUES ('a');")),
            qPrintable(pg_.error()));
        QVERIFY2(pg_.psqlOn(QStringLiteral("second one"),
                            QStringLiteral("CREATE TABLE t (a text); INSERT INTO t VALUES ('b'), ('c');")),
                 qPrintable(pg_.error()));
        QCOMPARE(query(QStringLiteral("SELECT string_agg(a, ',' ORDER BY a) FROM t"), QStringLiteral("first")),
                 QStringLiteral("a"));
        QCOMPARE(query(QStringLiteral("SELECT string_agg(a, ',' ORDER BY a) FROM t"), QStringLiteral("second one")),
                 QStringLiteral("b,c"));
        QCOMPARE(query(QStringLiteral("SELECT to_regclass('t') IS NULL")), QStringLiteral("t"));
        // A name taken already is refused.
        QVERIFY(!pg_.createDatabase(QStringLiteral("first")));
        QVERIFY2(pg_.error().contains(QStringLiteral("already exists")), qPrintable(pg_.error()));
    }

    // Taken away mid-work, the server refuses connections; started again, it has every committed row.
    void dataSurvivesAFastStop()
    {
        QVERIFY2(pg_.psql(QStringLiteral("CREATE TABLE kept (n int);\n"
                                         "INSERT INTO kept SELECT generate_series(1, 1000);\n")),
                 qPrintable(pg_.error()));
        const qint64 before = pg_.serverPid();
        QVERIFY2(pg_.stopServer(), qPrintable(pg_.error()));
        QVERIFY(!pg_.isRunning());
        QCOMPARE(processUid(before), -1L);

        QVERIFY(!pg_.psql(QStringLiteral("SELECT 1")));
        QVERIFY2(pg_.error().contains(QStringLiteral("connection to server on socket")), qPrintable(pg_.error()));

        QVERIFY2(pg_.startAgain(), qPrintable(pg_.error()));
        QVERIFY(pg_.serverPid() != before);
        QCOMPARE(query(QStringLiteral("SELECT count(*) || ' ' || sum(n) FROM kept")), QStringLiteral("1000 500500"));
        QCOMPARE(query(QStringLiteral("SELECT name FROM members WHERE id = 1")), QStringLiteral("山田 花子"));
        QVERIFY(!pg_.startAgain()); // already running
    }

    // After an immediate stop the server recovers; what a checkpoint wrote is there.
    void recoversFromAnImmediateStop()
    {
        QVERIFY2(pg_.psql(QStringLiteral("CREATE TABLE checkpointed (n int);\n"
                                         "INSERT INTO checkpointed SELECT generate_series(1, 10);\n"
                                         "CHECKPOINT;\n")),
                 qPrintable(pg_.error()));
        QVERIFY2(pg_.kill(), qPrintable(pg_.error()));
        QVERIFY(!pg_.psql(QStringLiteral("SELECT 1")));
        QVERIFY2(pg_.startAgain(), qPrintable(pg_.error()));
        QCOMPARE(query(QStringLiteral("SELECT sum(n) FROM checkpointed")), QStringLiteral("55"));
        QVERIFY2(pg_.logTail(200).contains(QStringLiteral("was not properly shut down")), qPrintable(pg_.logTail()));
    }

    // A test process killed outright (a timeout, a crash) takes its server and the server's backends
    // with it, even though the server runs as another user.
    void serverEndsWithTheTest()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(orphanMode), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
        QByteArray line;
        const QDeadlineTimer started(120000);
        while (!line.contains('\n') && child.state() == QProcess::Running && !started.hasExpired()) {
            child.waitForReadyRead(1000);
            line += child.readAllStandardOutput();
        }
        const QList<QByteArray> parts = line.trimmed().split(' ');
        QVERIFY2(parts.size() == 3, qPrintable(QString::fromLocal8Bit(line + child.readAllStandardError())));
        const qint64 postmaster = parts[0].toLongLong();
        const qint64 backend = parts[1].toLongLong();
        const QString folder = QString::fromLocal8Bit(parts[2]);
        QVERIFY(folder.startsWith(QStringLiteral("/tmp/halvenna-pg-")));
        QVERIFY(processUid(postmaster) >= 0);
        QVERIFY(processUid(backend) >= 0);

        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));

        // Bounded only against a server that never ends; it ends in well under a second.
        const QDeadlineTimer gone(60000);
        while ((processUid(postmaster) >= 0 || processUid(backend) >= 0) && !gone.hasExpired())
            QTest::qWait(50);
        const bool postmasterEnded = processUid(postmaster) < 0;
        const bool backendEnded = processUid(backend) < 0;
        if (!postmasterEnded) // not left behind by a failed run
            ::kill(pid_t(postmaster), SIGQUIT);
        QDir(folder).removeRecursively(); // the killed process could not remove it
        QVERIFY2(postmasterEnded, "the postmaster outlived the process that started it");
        QVERIFY2(backendEnded, "a backend outlived the process that started the server");
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(orphanMode))
        return runOrphan();
    TestPrivatePostgres test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_privatepostgres.moc"

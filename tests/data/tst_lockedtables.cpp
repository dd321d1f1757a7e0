// A table file another program is writing to: the sqlite3 shell, a real second process, holds a
// write transaction on it. Storing a row then fails with the engine's error within the busy
// timeout instead of hanging, the row stays pending with its changes, and once the other program
// has finished the same post goes through.
#include "common/DataFixture.h"
#include "common/FaultTools.h"
#include "data/Error.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QtTest>

using halvenna::FieldValue;
using halvenna::Table;
using halvenna::TableState;

namespace {

// A generous bound: the table layer gives up after its 3 s busy timeout; only a hang goes past this.
constexpr qint64 kNeverHangsMs = 15000;

QString storedName(const QString& dbFile, int id)
{
    sqlite3* db = nullptr;
    QString value = QStringLiteral("<none>");
    sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM MemberMaster WHERE id_no = ?", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_int(st, 1, id);
        if (sqlite3_step(st) == SQLITE_ROW)
            value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return value;
}

} // namespace

class TestLockedTables : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void postWaitsThenFailsAndWorksOnceTheOtherProgramEnds_data()
    {
        QTest::addColumn<QByteArray>("lock");
        QTest::addColumn<bool>("browsing"); // our member table stands on a row through a live cursor
        // A writer that has changed a row but not committed: it holds the reserved lock.
        QTest::newRow("reserved, while browsing")
            << QByteArray("BEGIN IMMEDIATE;\nUPDATE MemberMaster SET name = 'other' WHERE id_no = 2;\n") << true;
        // A writer with the exclusive lock shuts out readers too; it can only take it while no
        // reader holds the file, so our table lets go of its cursor first (a lookup does).
        QTest::newRow("exclusive") << QByteArray("BEGIN EXCLUSIVE;\n") << false;
    }
    void postWaitsThenFailsAndWorksOnceTheOtherProgramEnds()
    {
        QFETCH(QByteArray, lock);
        QFETCH(bool, browsing);

        DataFixture f;
        f.addMember(1, QStringLiteral("one"));
        f.addMember(2, QStringLiteral("two"));
        Table& t = f.dm->tbMemberMaster;
        const QString file = t.filePath();
        if (browsing)
            t.first();
        else
            QVERIFY(t.locate(QStringLiteral("id_no"), FieldValue::integer(1)));
        t.edit();
        t.setFieldValue(QStringLiteral("name"), FieldValue::text("mine"));

        faults::SqliteShell shell(file);
        QVERIFY2(shell.started(), "the sqlite3 shell does not start (scripts/deps.sh installs it)");
        shell.send(lock);
        QVERIFY(shell.waitUntilWriteLocked());

        QString message;
        QElapsedTimer timer;
        timer.start();
        try {
            t.post();
        } catch (const halvenna::Error& e) {
            message = e.message();
        }
        const qint64 waited = timer.elapsed();
        QVERIFY2(waited < kNeverHangsMs, qPrintable(QString::number(waited)));
        QCOMPARE(message, QStringLiteral("tbMemberMaster: テーブル %1 は他のプログラムが使用中です").arg(file));
        QCOMPARE(halvenna::errorBoxText(message), message + u'.');
        // Nothing was stored; the change is still there to be posted again.
        QCOMPARE(t.state(), TableState::Edit);
        QCOMPARE(f.str(t, "name"), QStringLiteral("mine"));

        // The other program ends (closing its connection drops its uncommitted change).
        shell.finish();
        QVERIFY(!faults::writeLocked(file));
        t.post();
        QCOMPARE(t.state(), TableState::Browse);
        QCOMPARE(storedName(file, 1), QStringLiteral("mine"));
        QCOMPARE(storedName(file, 2), QStringLiteral("two"));
        QCOMPARE(faults::integrityCheck(file), QStringLiteral("ok"));
    }

    // While our program only reads, another program holding the reserved lock can still commit
    // once we let go of the row we stand on; what it committed is what we then read.
    void anotherProgramsCommitIsSeenAfterwards()
    {
        DataFixture f;
        f.addMember(1, QStringLiteral("one"));
        Table& t = f.dm->tbMemberMaster;
        const QString file = t.filePath();
        faults::SqliteShell shell(file);
        QVERIFY(shell.started());
        shell.send("BEGIN IMMEDIATE;\nUPDATE MemberMaster SET name = 'other' WHERE id_no = 1;\n");
        QVERIFY(shell.waitUntilWriteLocked());
        QCOMPARE(f.str(t, "name"), QStringLiteral("one")); // readers are not stopped by a reserved lock
        QVERIFY(t.locate(QStringLiteral("id_no"), FieldValue::integer(1))); // lets go of the cursor
        shell.finish(".timeout 10000\nCOMMIT;\n.quit\n");
        QCOMPARE(storedName(file, 1), QStringLiteral("other"));
        t.first();
        QCOMPARE(f.str(t, "name"), QStringLiteral("other"));
    }

    // A member merely shown: once the program waits for the user again, another program can write
    // the file and commit at once (the shell does not wait for locks), and we read what it wrote.
    void anotherProgramWritesWhileARowIsShown()
    {
        DataFixture f;
        f.addMember(1, QStringLiteral("one"));
        f.addMember(2, QStringLiteral("two"));
        Table& t = f.dm->tbMemberMaster;
        const QString file = t.filePath();
        t.first();
        QCOMPARE(f.str(t, "name"), QStringLiteral("one"));

        QEventLoop idle; // waits as the program does between user actions
        QTimer::singleShot(20, &idle, &QEventLoop::quit);
        idle.exec();

        QProcess other;
        other.start(QStringLiteral("sqlite3"), {file, QStringLiteral("UPDATE MemberMaster SET name = 'other';")});
        QVERIFY2(other.waitForFinished(kNeverHangsMs), "the sqlite3 shell does not end");
        QCOMPARE(QString::fromUtf8(other.readAllStandardError()), QString());
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(storedName(file, 2), QStringLiteral("other"));

        // The row shown is still the current one, and moving on reads what the other program wrote.
        QCOMPARE(f.str(t, "id_no"), QStringLiteral("1"));
        t.next();
        QCOMPARE(f.str(t, "id_no"), QStringLiteral("2"));
        QCOMPARE(f.str(t, "name"), QStringLiteral("other"));
    }
};

QTEST_GUILESS_MAIN(TestLockedTables)
#include "tst_lockedtables.moc"

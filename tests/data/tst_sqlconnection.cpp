// The one owner of an SQLite file: how the engine's failures reach the user, transactions, the
// statement cache, and that nothing it opened stays open or locked once it lets go.
#include "common/FaultTools.h"
#include "common/StoredRows.h"
#include "data/sql/SqliteConnection.h"
#include "roster/model/Schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <stdexcept>

using halvenna::sql::Connection;
using halvenna::sql::EngineError;
using halvenna::sql::Failure;
using halvenna::sql::Query;
using halvenna::sql::SqliteConnection;
using halvenna::sql::Statement;

Q_DECLARE_METATYPE(halvenna::sql::Failure)

namespace {

const QString kLabel = QStringLiteral("tbMembers");
const QString kInsert = QStringLiteral("INSERT INTO MemberMaster (id_no, name) VALUES (?, ?)");

// A generous bound: the busy timeout is 3 s; only a hang goes past this.
constexpr qint64 kNeverHangsMs = 15000;

enum class Fault { InUse, Damaged, ReadOnly, DuplicateKey, DiskFull, Other };

// The four empty tables in a folder beside the test program, where the immutable flag can be set
// (a /tmp on tmpfs has none).
struct Tables
{
    QTemporaryDir dir{QCoreApplication::applicationDirPath() + QStringLiteral("/sqlconnection-XXXXXX")};
    QString members = dir.filePath(QStringLiteral("MemberMaster.db"));

    Tables() { halvenna::schema::createMissingTables(dir.path()); }
};

std::unique_ptr<SqliteConnection> openMembers(const Tables& t, const QString& label = kLabel)
{
    return SqliteConnection::open(t.members, label);
}

void insertMember(Connection& db, qint64 id, const QByteArray& name)
{
    Query q(db.prepare(kInsert));
    q->bindInteger(1, id);
    q->bindText(2, name);
    QVERIFY(!q->step(u"行を保存できません"));
}

// How many of this process's file descriptors are open on file.
int descriptorsOn(const QString& file)
{
    const QString target = QFileInfo(file).canonicalFilePath();
    int n = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System))
        if (fd.symLinkTarget() == target)
            ++n;
    return n;
}

QList<QStringList> storedIds(const Tables& t)
{
    return storedRows(t.members, "SELECT id_no FROM MemberMaster ORDER BY id_no");
}

} // namespace

class TestSqlConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failuresAreWordedAsTheUserKnowsThem_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Failure>("failure");
        // %1 the file, %2 the engine's words; what the user reads is Japanese, the engine's English
        // kept in the detail (a rule of the file speaks for itself).
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("engineSays");
        QTest::newRow("another connection holds a write lock")
            << Fault::InUse << Failure::InUse << QStringLiteral("tbMembers: テーブル %1 は他のプログラムが使用中です")
            << QStringLiteral("locked");
        QTest::newRow("damaged file")
            << Fault::Damaged << Failure::Damaged
            << QStringLiteral(
                   "tbMembers: テーブル %1 が壊れています (ファイルが壊れているか、テーブルのファイルではありません)")
            << QStringLiteral("not a database");
        QTest::newRow("read-only file") << Fault::ReadOnly << Failure::ReadOnly
                                        << QStringLiteral("tbMembers: %1 に書き込めません")
                                        << QStringLiteral("readonly");
        QTest::newRow("duplicate key") << Fault::DuplicateKey << Failure::DuplicateKey
                                       << QStringLiteral("tbMembers: キーが重複しています (MemberMaster.id_no)")
                                       << QStringLiteral("UNIQUE constraint failed: MemberMaster.id_no");
        QTest::newRow("disk full") << Fault::DiskFull << Failure::DiskFull
                                   << QStringLiteral("tbMembers: ディスクがいっぱいで %1 に書き込めません")
                                   << QStringLiteral("full");
        QTest::newRow("anything else") << Fault::Other << Failure::Other
                                       << QStringLiteral("tbMembers: 行を保存できません (%2)")
                                       << QStringLiteral("refused by a rule of the file");
    }
    void failuresAreWordedAsTheUserKnowsThem()
    {
        QFETCH(Fault, fault);
        QFETCH(Failure, failure);
        QFETCH(QString, message);
        QFETCH(QString, engineSays);
        Tables t;

        std::unique_ptr<SqliteConnection> other;
        std::unique_ptr<faults::Unwritable> unwritable;
        std::unique_ptr<faults::FullDisk> fullDisk;
        switch (fault) {
        case Fault::InUse:
            other = openMembers(t, QStringLiteral("other"));
            other->execute(QStringLiteral("BEGIN EXCLUSIVE"), u"BEGIN");
            break;
        case Fault::Damaged: {
            QFile file(t.members);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QByteArray(4096, '\x5a'));
            break;
        }
        case Fault::ReadOnly:
            unwritable = std::make_unique<faults::Unwritable>(t.members);
            if (!unwritable->isSet())
                QSKIP(qPrintable(unwritable->why()));
            break;
        case Fault::DuplicateKey:
            insertMember(*openMembers(t), 1, "first");
            break;
        case Fault::DiskFull:
            fullDisk = std::make_unique<faults::FullDisk>("MemberMaster.db", 0);
            QVERIFY(fullDisk->registered());
            break;
        case Fault::Other:
            // A constraint other than a key's: worded with the operation and the engine's words.
            openMembers(t)->execute(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON MemberMaster BEGIN "
                                                   "SELECT RAISE(ABORT, 'refused by a rule of the file'); END"),
                                    u"CREATE");
            break;
        }

        const auto db = openMembers(t);
        QElapsedTimer timer;
        timer.start();
        try {
            Query q(db->prepare(kInsert));
            q->bindInteger(1, 1);
            q->bindText(2, "second");
            q->step(u"行を保存できません");
            QFAIL("the insert went through");
        } catch (const EngineError& e) {
            QCOMPARE(e.failure(), failure);
            QVERIFY2(e.detail().contains(engineSays), qPrintable(e.detail()));
            QCOMPARE(
                e.message(),
                QString(message).replace(QStringLiteral("%1"), t.members).replace(QStringLiteral("%2"), e.detail()));
        }
        if (fault == Fault::InUse) {
            // It waited for the other connection before giving up, and did give up.
            QVERIFY2(timer.elapsed() >= 2000, qPrintable(QString::number(timer.elapsed())));
            QVERIFY2(timer.elapsed() < kNeverHangsMs, qPrintable(QString::number(timer.elapsed())));
        }
    }

    void openingAMissingFileNeverMakesIt()
    {
        Tables t;
        const QString missing = t.dir.filePath(QStringLiteral("Nothing.db"));
        try {
            SqliteConnection::open(missing, kLabel);
            QFAIL("a missing file was opened");
        } catch (const EngineError& e) {
            QCOMPARE(e.message(),
                     QStringLiteral("tbMembers: テーブル %1 を開けません (ファイルがありません)").arg(missing));
            QVERIFY(!e.detail().isEmpty());
        }
        QVERIFY(!QFileInfo::exists(missing));
        SqliteConnection::open(missing, kLabel, SqliteConnection::Mode::Create);
        QVERIFY(QFileInfo::exists(missing));
    }

    void beginCommitAndRollback()
    {
        Tables t;
        const auto db = openMembers(t);
        QVERIFY(!db->inTransaction());
        db->begin(u"開始");
        QVERIFY(db->inTransaction());
        insertMember(*db, 1, "dropped");
        db->rollback();
        QVERIFY(!db->inTransaction());
        QCOMPARE(storedIds(t), QList<QStringList>{});

        db->begin(u"開始");
        insertMember(*db, 2, "kept");
        QCOMPARE(storedIds(t), QList<QStringList>{}); // not visible before the commit
        db->commit(u"変更を保存できません");
        QVERIFY(!db->inTransaction());
        QCOMPARE(storedIds(t), QList<QStringList>{{"2"}});
        db->rollback(); // nothing to roll back: nothing happens
        QCOMPARE(storedIds(t), QList<QStringList>{{"2"}});
    }

    // The engine refuses the commit (a reader in another connection keeps its shared lock): the
    // transaction is rolled back, the caller's last look comes first, and the refusal is reported.
    void aRefusedCommitRollsBack()
    {
        Tables t;
        insertMember(*openMembers(t), 1, "before");
        const auto db = openMembers(t);
        db->begin(u"開始");
        insertMember(*db, 7, "refused");

        const auto reader = openMembers(t, QStringLiteral("reader"));
        Statement& reading = reader->prepare(QStringLiteral("SELECT id_no FROM MemberMaster"));
        QVERIFY(reading.step(u"読めません")); // stays on its row, holding the shared lock

        bool lookedFirst = false;
        try {
            db->commit(u"変更を保存できません", [&] {
                lookedFirst = db->inTransaction();
                throw std::runtime_error("a failure of the last look is dropped");
            });
            QFAIL("the commit went through");
        } catch (const EngineError& e) {
            QCOMPARE(e.failure(), Failure::InUse);
            QCOMPARE(e.message(), QStringLiteral("tbMembers: テーブル %1 は他のプログラムが使用中です").arg(t.members));
        }
        QVERIFY(lookedFirst);
        QVERIFY(!db->inTransaction());
        reading.reset();
        QCOMPARE(storedIds(t), QList<QStringList>{{"1"}});
        insertMember(*db, 8, "after"); // the connection works on
        QCOMPARE(storedIds(t), (QList<QStringList>{{"1"}, {"8"}}));
    }

    void statementsArePreparedOnceAndCursorsKeptApart()
    {
        Tables t;
        const auto db = openMembers(t);
        for (int id : {1, 2, 3})
            insertMember(*db, id, "m");
        const QString sql = QStringLiteral("SELECT id_no FROM MemberMaster ORDER BY id_no");
        Statement& query = db->prepare(sql);
        QCOMPARE(&db->prepare(sql), &query);
        Statement& cursor = db->prepare(sql, Connection::Use::Cursor);
        QVERIFY(&cursor != &query);
        QCOMPARE(&db->prepare(sql, Connection::Use::Cursor), &cursor);

        // A query of the same text runs to its end without disturbing the running cursor.
        QVERIFY(cursor.step(u"読めません"));
        QCOMPARE(cursor.integer(0), 1);
        int rows = 0;
        {
            Query q(db->prepare(sql));
            while (q->step(u"読めません"))
                ++rows;
        }
        QCOMPARE(rows, 3);
        QVERIFY(cursor.step(u"読めません"));
        QCOMPARE(cursor.integer(0), 2);
        cursor.reset();

        // Prepared again, a statement left half-way comes back from its start, its parameters cleared.
        Statement& echo = db->prepare(QStringLiteral("SELECT ?1 UNION ALL SELECT 2"));
        echo.bindInteger(1, 5);
        QVERIFY(echo.step(u"読めません"));
        QCOMPARE(echo.integer(0), 5);
        Statement& again = db->prepare(QStringLiteral("SELECT ?1 UNION ALL SELECT 2"));
        QCOMPARE(&again, &echo);
        QVERIFY(again.step(u"読めません"));
        QCOMPARE(again.type(0), halvenna::sql::ValueType::Null);
        again.reset();
    }

    // However a use of a statement ends, nothing of it keeps the file locked; nor does anything a
    // connection left running once the connection is gone.
    void nothingStaysLockedOnceLetGo()
    {
        Tables t;
        insertMember(*openMembers(t), 1, "m");
        auto db = openMembers(t);
        try {
            Query q(db->prepare(QStringLiteral("SELECT name FROM MemberMaster")));
            QVERIFY(q->step(u"読めません"));
            throw std::runtime_error("leaves the scope half-way");
        } catch (const std::runtime_error&) {
        }
        const auto writer = openMembers(t, QStringLiteral("writer"));
        writer->execute(QStringLiteral("BEGIN EXCLUSIVE"), u"BEGIN"); // no reader in the way
        writer->rollback();

        Statement& running = db->prepare(QStringLiteral("SELECT name FROM MemberMaster"), Connection::Use::Cursor);
        QVERIFY(running.step(u"読めません"));
        const int open = descriptorsOn(t.members);
        QVERIFY(open >= 2); // ours and the writer's
        db.reset();         // closes with a statement still on its row
        QCOMPARE(descriptorsOn(t.members), open - 1);
        writer->execute(QStringLiteral("BEGIN EXCLUSIVE"), u"BEGIN");
        writer->rollback();
    }

    void emptyTextIsStoredAsEmptyTextNotNull_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("copied") << false;
        QTest::newRow("in place") << true;
    }
    void emptyTextIsStoredAsEmptyTextNotNull()
    {
        QFETCH(bool, inPlace);
        Tables t;
        const auto db = openMembers(t);
        const QByteArray empty; // a null array: no data pointer at all
        {
            Query q(db->prepare(kInsert));
            q->bindInteger(1, 1);
            if (inPlace)
                q->bindTextInPlace(2, empty);
            else
                q->bindText(2, empty);
            q->step(u"行を保存できません");
        }
        QCOMPARE(storedRows(t.members, "SELECT quote(name) FROM MemberMaster"), QList<QStringList>{{"''"}});
    }

    void columnsKindsWidthsAndTheRowsIdentity_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("identity");
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("width");
        QTest::newRow("member number") << "MemberMaster" << 15 << 0 << "id_no" << int(halvenna::FieldKind::Integer)
                                       << 0;
        QTest::newRow("member zip") << "MemberMaster" << 15 << 0 << "zip" << int(halvenna::FieldKind::Text) << 10;
        QTest::newRow("member mark") << "MemberMaster" << 15 << 0 << "print" << int(halvenna::FieldKind::Logical) << 0;
        QTest::newRow("contents: a number, not the identity")
            << "Contents" << 11 << -1 << "id_no" << int(halvenna::FieldKind::Integer) << 0;
        QTest::newRow("staging rows have no key")
            << "PrintMember" << 26 << -1 << "amount_prn" << int(halvenna::FieldKind::Text) << 24;
    }
    void columnsKindsWidthsAndTheRowsIdentity()
    {
        QFETCH(QString, table);
        QFETCH(int, columns);
        QFETCH(int, identity);
        QFETCH(QString, column);
        QFETCH(int, kind);
        QFETCH(int, width);
        Tables t;
        const auto db = SqliteConnection::open(t.dir.filePath(table + QStringLiteral(".db")), kLabel);
        const halvenna::sql::TableColumns found = db->columns(table);
        QCOMPARE(found.columns.size(), columns);
        QCOMPARE(found.identity, identity);
        const auto it = std::find_if(found.columns.cbegin(), found.columns.cend(),
                                     [&](const halvenna::sql::Column& c) { return c.name == column; });
        QVERIFY(it != found.columns.cend());
        QCOMPARE(int(it->kind), kind);
        QCOMPARE(it->width, width);
        QCOMPARE(db->columns(QStringLiteral("Nothing")).columns.size(), 0);
    }

    void theLastInsertsIdentity()
    {
        Tables t;
        const auto db = SqliteConnection::open(t.dir.filePath(QStringLiteral("PrintMember.db")), kLabel);
        for (qint64 expected : {1, 2}) {
            Query q(db->prepare(QStringLiteral("INSERT INTO PrintMember (id_no) VALUES (7)")));
            q->step(u"行を保存できません");
            QCOMPARE(db->lastInsertId(), expected);
        }
        insertMember(*openMembers(t), 42, "m"); // another connection's insert is its own
        QCOMPARE(db->lastInsertId(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSqlConnection)
#include "tst_sqlconnection.moc"

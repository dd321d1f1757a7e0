// Where a current row's values are read from: they stay on the statement that stands on the row
// until a move, a store or letting go of the read lock needs them copied. Each of those keeps the
// values a caller reads, and no read lock outlives what needs it.
#include "common/DataFixture.h"
#include "data/Error.h"
#include "data/sql/SqliteConnection.h"

#include <QTest>

using namespace halvenna;

namespace {

// Another program on the same file: it takes the exclusive lock, which no reader may hold while it
// does, and gives it back. Throws "in use" after the busy timeout should one of our tables still
// hold a read lock.
void anotherProgramLocksExclusively(const QString& file)
{
    const auto other = sql::SqliteConnection::open(file, QStringLiteral("other"));
    other->execute(QStringLiteral("BEGIN EXCLUSIVE"), u"BEGIN");
    other->rollback();
}

} // namespace

class TestRowValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // An edited row whose store moves it in table order (a new identity, or a new value of the
    // field the rows are ordered by) keeps the values nobody wrote.
    void aStoreThatMovesTheRowKeepsItsOtherValues_data()
    {
        QTest::addColumn<bool>("contents"); // the contents, ordered by id_no; else the members by identity
        QTest::newRow("member renumbered") << false;
        QTest::newRow("contents moved to another member") << true;
    }
    void aStoreThatMovesTheRowKeepsItsOtherValues()
    {
        QFETCH(bool, contents);
        DataFixture f;
        for (int id : {1, 2, 3})
            f.addMember(id, QStringLiteral("m%1").arg(id), QStringLiteral("150-000%1").arg(id),
                        QStringLiteral("03-1234-000%1").arg(id));
        Table& c = f.dm->tbContents;
        c.liftMasterLink(true);
        for (int id : {1, 2, 3}) {
            c.append();
            c.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(id));
            c.setFieldValue(QStringLiteral("item"), DataFixture::text(QStringLiteral("品%1").arg(id)));
            c.post();
        }
        Table& t = contents ? c : f.dm->tbMemberMaster;
        const QString other = contents ? QStringLiteral("item") : QStringLiteral("name");
        t.first();
        t.next(); // read through the cursor, nothing copied
        const QString before = f.str(t, qPrintable(other));
        QCOMPARE(before, contents ? QStringLiteral("品2") : QStringLiteral("m2"));
        t.edit();
        t.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(9));
        t.post();
        QCOMPARE(f.str(t, qPrintable(other)), before);
        QCOMPARE(f.str(t, "id_no"), QStringLiteral("9"));
        if (!contents)
            QCOMPARE(f.str(t, "zip_f"), QStringLiteral("1  5  0")); // the rule read the unwritten zip
        t.next();
        QVERIFY(t.eof()); // 9 is the last now
        t.close();
        t.open();
        QVERIFY(t.locate(QStringLiteral("id_no"), FieldValue::integer(9)));
        QCOMPARE(f.str(t, qPrintable(other)), before);
    }

    // Rows found by a lookup inside a batch stay on their query until the batch ends; then they are
    // copied off it, and the table holds no read lock.
    void aRowFoundInABatchOutlivesItWithoutALock()
    {
        DataFixture f;
        for (int id : {1, 2, 3})
            f.addMember(id, QStringLiteral("m%1").arg(id));
        Table& t = f.dm->tbMemberMaster;
        {
            Table::Batch batch(t);
            QVERIFY(t.locate(QStringLiteral("id_no"), FieldValue::integer(2)));
            t.edit();
            t.setFieldValue(QStringLiteral("name"), FieldValue::text("renamed"));
            t.post();
            QVERIFY(t.locate(QStringLiteral("id_no"), FieldValue::integer(3)));
            QVERIFY(!t.locate(QStringLiteral("id_no"), FieldValue::integer(4))); // stays put
            QCOMPARE(f.str(t, "name"), QStringLiteral("m3"));
            QVERIFY(t.locate(QStringLiteral("id_no"), FieldValue::integer(3))); // the same query again
            QCOMPARE(f.str(t, "name"), QStringLiteral("m3"));
        }
        anotherProgramLocksExclusively(t.filePath());
        QCOMPARE(f.str(t, "name"), QStringLiteral("m3"));
        QCOMPARE(f.str(t, "id_no"), QStringLiteral("3"));
        t.prior();
        QCOMPARE(f.str(t, "name"), QStringLiteral("renamed"));
    }

    // Between user actions the table lets go of its read lock, also while a row is being edited:
    // what was written and what was not are both still there to be posted.
    void lettingGoOfTheReadLockKeepsARowBeingEdited()
    {
        DataFixture f;
        for (int id : {1, 2})
            f.addMember(id, QStringLiteral("m%1").arg(id), QStringLiteral("150-0001"));
        Table& t = f.dm->tbMemberMaster;
        t.first();
        t.next();
        t.edit();
        t.setFieldValue(QStringLiteral("name"), FieldValue::text("typed"));
        t.releaseReadLock();
        anotherProgramLocksExclusively(t.filePath());
        QCOMPARE(t.state(), TableState::Edit);
        QCOMPARE(f.str(t, "name"), QStringLiteral("typed"));
        QCOMPARE(f.str(t, "zip"), QStringLiteral("150-0001"));
        t.post();
        t.close();
        t.open();
        t.last();
        QCOMPARE(f.str(t, "name"), QStringLiteral("typed"));
        QCOMPARE(f.str(t, "zip"), QStringLiteral("150-0001"));
        QCOMPARE(f.str(t, "zip_f"), QStringLiteral("1  5  0"));
    }

    // A table closed while a batch is open keeps what the batch stored, as ending the batch would; a
    // commit the engine refuses is reported once the table has closed, and nothing of it is kept.
    void closingInsideABatchCommitsIt_data()
    {
        QTest::addColumn<bool>("readerInTheWay");
        QTest::newRow("committed") << false;
        QTest::newRow("refused") << true;
    }
    void closingInsideABatchCommitsIt()
    {
        if (engine::onServer())
            QSKIP("another program's read lock on a file: the server has no such lock");
        QFETCH(bool, readerInTheWay);
        DataFixture f;
        f.addMember(1, QStringLiteral("m1"));
        Table& t = f.dm->tbMemberMaster;
        const QString file = t.filePath();
        t.beginBatch();
        f.addMember(2, QStringLiteral("m2"));
        const auto reader = sql::SqliteConnection::open(file, QStringLiteral("reader"));
        sql::Statement& reading = reader->prepare(QStringLiteral("SELECT name FROM MemberMaster"));
        if (readerInTheWay)
            QVERIFY(reading.step(u"読めません")); // keeps a shared lock: the commit cannot finish
        QString message = QStringLiteral("<no error>");
        try {
            t.close();
        } catch (const Error& e) {
            message = e.message();
        }
        reading.reset();
        QVERIFY(!t.active());
        QCOMPARE(message, readerInTheWay
                              ? QStringLiteral("tbMemberMaster: テーブル %1 は他のプログラムが使用中です").arg(file)
                              : QStringLiteral("<no error>"));
        t.endBatch(); // the batch ended with the table: nothing left to end
        t.open();
        QCOMPARE(t.recordCount(), readerInTheWay ? 1 : 2);
    }

    // A walk reads each row's own values, also after a row on the way was edited and stored.
    void aWalkReadsEachRowAfterAStoreOnTheWay()
    {
        DataFixture f;
        for (int id : {1, 2, 3, 4})
            f.addMember(id, QStringLiteral("m%1").arg(id));
        Table& t = f.dm->tbMemberMaster;
        QStringList names;
        for (t.first(); !t.eof(); t.next()) {
            if (f.str(t, "id_no") == u"2") {
                t.edit();
                t.setFieldValue(QStringLiteral("print"), FieldValue::logical(true));
                t.post();
            }
            names << f.str(t, "name") + u':' + f.str(t, "print");
        }
        QCOMPARE(names, (QStringList{"m1:", "m2:True", "m3:", "m4:"}));
    }
};

QTEST_GUILESS_MAIN(TestRowValues)
#include "tst_rowvalues.moc"

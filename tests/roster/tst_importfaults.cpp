// The CSV import meeting a member table it cannot write: another program (the sqlite3 shell)
// holding a write lock, and a disk that fills up half-way. The standard error box says why, the
// members stored before stay whole, nothing is half-written, and the same import works once the
// cause is gone.
#include "app/Startup.h"
#include "common/DataFixture.h"
#include "common/ErrorBoxes.h"
#include "common/FaultTools.h"
#include "common/Seams.h"
#include "gui/DbControls.h"
#include "gui/ErrorReporter.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "roster/MemberMaster.h"
#include "roster/import/MemberImport.h"
#include "roster/model/SafetyCopy.h"
#include "roster/postal/PostalCodeLookup.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

using halvenna::FieldValue;
using halvenna::FileDialog;
using halvenna::MessageBox;
using halvenna::Table;

namespace {

constexpr qint64 kNeverHangsMs = 15000;

// Lines "<id>,name<id>,kana<id>,150-0001,<address>,,03-1234-5678,03-1234-5679" for ids first.. first+count-1.
QByteArray csvLines(int first, int count)
{
    QByteArray csv;
    for (int id = first; id < first + count; ++id)
        csv += QByteArray::number(id) + ",name" + QByteArray::number(id) + ",kana" + QByteArray::number(id) +
               ",150-0001,address " + QByteArray(40, char('a' + id % 26)) + ",,03-1234-5678,03-1234-5679\r\n";
    return csv;
}

// The members stored in the file, read past the table layer: id -> name.
QMap<int, QString> storedMembers(const QString& dbFile)
{
    QMap<int, QString> members;
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT id_no, name, tel_r FROM MemberMaster", -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            // A member is whole when its derived print field is there too.
            const QString telR = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)));
            members.insert(sqlite3_column_int(st, 0),
                           QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) +
                               (telR == u"5678" ? QString() : QStringLiteral(" <not whole>")));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return members;
}

} // namespace

class TestImportFaults : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataFixture> f_;
    // What the roster window is given besides the data module: no postal data, no folder.
    QString appDir_;
    halvenna::PostalCodeLookup postalCodes_{QString(), QString()};
    TMemberMasterForm* window_ = nullptr;

    Table& members() { return f_->dm->tbMemberMaster; }
    QString dbFile() { return members().filePath(); }
    QString writeCsv(const QByteArray& bytes)
    {
        const QString path = f_->dir.filePath(QStringLiteral("members.csv"));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            return QString();
        return path;
    }
    // The roster window's import of path; the boxes it asks for come back.
    QList<MessageBox::Request> importThroughTheWindow(const QString& path, bool expectBox)
    {
        MessageBox::seam().clearRequests();
        if (expectBox)
            MessageBox::seam().answer(QMessageBox::Ok);
        FileDialog::seam().answer(path);
        QTest::mouseClick(window_->findChild<QPushButton*>(QStringLiteral("btnMarge")), Qt::LeftButton);
        return MessageBox::seam().requests();
    }

private Q_SLOTS:
    void initTestCase() { halvenna::installJapaneseFont(); }

    void init()
    {
        f_ = std::make_unique<DataFixture>();
        window_ = new TMemberMasterForm(f_->dm.get(), appDir_, postalCodes_);
        f_->addMember(1, QStringLiteral("before"), QStringLiteral("150-0001"), QStringLiteral("03-1234-5678"));
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_));
        seams::begin();
    }

    void cleanup()
    {
        delete window_;
        window_ = nullptr;
        f_.reset();
        seams::end();
    }

    void aLockedTableStopsTheImportAtOnceAndTheRerunWorks_data()
    {
        QTest::addColumn<QByteArray>("lock");
        QTest::addColumn<bool>("copyStops");
        // A pending write still lets the safety copy read the table; the import's write is refused.
        QTest::newRow("reserved") << QByteArray("BEGIN IMMEDIATE;\nUPDATE MemberMaster SET notes = 'x';\n") << false;
        // Nothing can read it: the copy taken before the import is what stops it.
        QTest::newRow("exclusive") << QByteArray("BEGIN EXCLUSIVE;\n") << true;
    }
    void aLockedTableStopsTheImportAtOnceAndTheRerunWorks()
    {
        QFETCH(QByteArray, lock);
        QFETCH(bool, copyStops);
        const QString csv = writeCsv(csvLines(10, 50));
        // The grid has read its rows; the table stands on a row it has let go of, so that an
        // exclusive lock can be had at all.
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(1)));

        faults::SqliteShell shell(dbFile());
        QVERIFY2(shell.started(), "the sqlite3 shell does not start (scripts/deps.sh installs it)");
        shell.send(lock);
        QVERIFY(shell.waitUntilWriteLocked());

        QElapsedTimer timer;
        timer.start();
        const auto boxes = importThroughTheWindow(csv, true);
        QVERIFY2(timer.elapsed() < kNeverHangsMs, qPrintable(QString::number(timer.elapsed())));
        const QString inUse = QStringLiteral("テーブル %1 は他のプログラムが使用中です").arg(dbFile());
        if (copyStops) {
            const QString backup = QFileInfo(dbFile()).dir().filePath(QStringLiteral("backup"));
            errorboxes::expectOneMatching(
                boxes,
                QRegularExpression(QStringLiteral("安全のためのコピーを %1/[0-9-]+ に作れません \\(%2\\)")
                                       .arg(QRegularExpression::escape(backup), QRegularExpression::escape(inUse))));
            // No half copy is left behind to be offered later.
            QVERIFY(halvenna::SafetyCopy::list(QFileInfo(dbFile()).path()).isEmpty());
            QCOMPARE(QDir(backup).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        } else {
            errorboxes::expectOne(boxes, QStringLiteral("tbMemberMaster: %1.").arg(inUse));
        }

        shell.finish();
        QCOMPARE(storedMembers(dbFile()), (QMap<int, QString>{{1, QStringLiteral("before")}}));

        // The other program is gone: the same import stores every line.
        QVERIFY(importThroughTheWindow(csv, false).isEmpty());
        const auto stored = storedMembers(dbFile());
        QCOMPARE(stored.size(), 51);
        QCOMPARE(stored.value(10), QStringLiteral("name10"));
        QCOMPARE(stored.value(59), QStringLiteral("name59"));
        QCOMPARE(members().recordCount(), 51);
        QCOMPARE(faults::integrityCheck(dbFile()), QStringLiteral("ok"));
    }

    // The disk fills up while chunks of lines are committed: the chunks stored before stay, each
    // member whole; the chunk being written is not stored at all; the table knows what it holds.
    void aFullDiskKeepsTheChunksBefore()
    {
        constexpr int kLines = 400;
        constexpr int kChunk = 25;
        const QString csv = writeCsv(csvLines(100, kLines));
        members().close();
        qint64 quota = 0;
        {
            // What the whole import writes, measured on a copy of the table.
            DataFixture scratch;
            scratch.dm->tbMemberMaster.close();
            faults::FullDisk disk("MemberMaster.db");
            QVERIFY(disk.registered());
            scratch.dm->tbMemberMaster.open();
            halvenna::MemberImport import(scratch.dm->tbMemberMaster);
            import.setChunkLines(kChunk);
            QCOMPARE(import.run(csv), kLines);
            scratch.dm->tbMemberMaster.close();
            quota = disk.written() / 2;
        }
        QVERIFY(quota > 0);

        {
            faults::FullDisk disk("MemberMaster.db", quota);
            members().open();
            halvenna::MemberImport import(members());
            import.setChunkLines(kChunk);
            QString message;
            try {
                import.run(csv);
            } catch (const halvenna::Error& e) {
                message = e.message();
            }
            QCOMPARE(message, QStringLiteral("tbMemberMaster: ディスクがいっぱいで %1 に書き込めません").arg(dbFile()));
            QVERIFY(disk.refused() > 0);

            const auto stored = storedMembers(dbFile());
            const int imported = int(stored.size()) - 1;
            QVERIFY2(imported > 0 && imported < kLines && imported % kChunk == 0,
                     qPrintable(QString::number(imported)));
            QCOMPARE(stored.value(1), QStringLiteral("before"));
            for (int id = 100; id < 100 + imported; ++id)
                QCOMPARE(stored.value(id), QStringLiteral("name%1").arg(id));
            QVERIFY(!stored.contains(100 + imported));
            QCOMPARE(members().recordCount(), imported + 1);

            // Space again: running the same import once more stores every line.
            disk.setQuota(-1);
            QCOMPARE(import.run(csv), kLines);
            QCOMPARE(members().recordCount(), kLines + 1);
            members().close();
        }
        QCOMPARE(faults::integrityCheck(dbFile()), QStringLiteral("ok"));
        QCOMPARE(storedMembers(dbFile()).size(), kLines + 1);
        members().open();
    }

    // Through the roster window, where a whole import is one chunk: the box, the members stored
    // before it, and no trace of the import.
    void aFullDiskDuringTheImportIsShownAndStoresNothingHalfWay()
    {
        const QString csv = writeCsv(csvLines(100, 400));
        members().close();
        {
            faults::FullDisk disk("MemberMaster.db", 16 * 1024);
            members().open();
            const auto boxes = importThroughTheWindow(csv, true);
            errorboxes::expectOne(
                boxes, QStringLiteral("tbMemberMaster: ディスクがいっぱいで %1 に書き込めません.").arg(dbFile()));
            QCOMPARE(members().recordCount(), 1);
            members().close();
        }
        QCOMPARE(faults::integrityCheck(dbFile()), QStringLiteral("ok"));
        QCOMPARE(storedMembers(dbFile()), (QMap<int, QString>{{1, QStringLiteral("before")}}));
        members().open();
        QVERIFY(importThroughTheWindow(csv, false).isEmpty());
        QCOMPARE(storedMembers(dbFile()).size(), 401);
    }
};

QTEST_MAIN(TestImportFaults)
#include "tst_importfaults.moc"

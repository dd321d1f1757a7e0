// The print buttons meeting faults: a staging table another program (the sqlite3 shell) holds a
// write lock on, a disk that fills up while the sheets are staged, and a template file that is
// damaged, cut short, empty or a folder. Each time the standard error box says why, nothing is
// half-written, the report project is left closed, and the next print works.
#include "app/Program.h"
#include "app/Startup.h"
#include "common/DataFixture.h"
#include "common/ErrorBoxes.h"
#include "common/FaultTools.h"
#include "common/Seams.h"
#include "gui/MessageBox.h"
#include "printing/Invoice.h"
#include "report/ReportProject.h"
#include "report/dialogs/StandardReportOutput.h"
#include "settings/SenderSettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

using halvenna::FieldValue;
using halvenna::MessageBox;
using halvenna::ReportDocument;
using halvenna::ReportOutput;
using halvenna::Table;

namespace {

constexpr qint64 kNeverHangsMs = 15000;

// Takes the pages instead of showing the output dialog, so that a run is seen to have happened.
class KeepingOutput : public ReportOutput
{
public:
    int runs = 0;
    int pages = 0;
    void output(const ReportDocument& document) override
    {
        ++runs;
        pages = document.pageCount();
    }
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

qint64 stagedRows(const QString& dbFile)
{
    sqlite3* db = nullptr;
    qint64 n = -1;
    sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM PrintMember", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

} // namespace

class TestPrintFaults : public QObject
{
    Q_OBJECT

private:
    // What the windows are given: the program's folder, the sender settings, the remembered dates.
    halvenna::Program program_;
    std::unique_ptr<DataFixture> f_;
    QString appDir_;
    KeepingOutput keep_;

    QPushButton* button(const char* name) { return InvoiceForm->findChild<QPushButton*>(QLatin1String(name)); }
    QString staging() { return f_->dm->tbPrintMember.filePath(); }
    QString shipped(const QString& name) const
    {
        return QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates/") + name;
    }
    // Clicks a print button and returns the boxes it asked for (each answered OK).
    QList<MessageBox::Request> print(const char* name, bool expectBox)
    {
        MessageBox::seam().clearRequests();
        if (expectBox)
            MessageBox::seam().answer(QMessageBox::Ok);
        QTest::mouseClick(button(name), Qt::LeftButton);
        return MessageBox::seam().requests();
    }

private Q_SLOTS:
    void initTestCase()
    {
        halvenna::installJapaneseFont();
        f_ = std::make_unique<DataFixture>();
        appDir_ = f_->dir.path() + u'/';
        program_.appDir = appDir_;
        for (const QString& t : {QStringLiteral("Invoice.Rav"), QStringLiteral("Account.Rav")})
            QVERIFY(QFile::copy(shipped(t), appDir_ + t));
        program_.senderSettings.SenderName = halvenna::sjis::fromUnicode(QStringLiteral("佐藤商店"));
        // Enough marked members, with long texts, that staging them all takes a good many pages.
        Table& m = f_->dm->tbMemberMaster;
        {
            Table::Batch batch(m);
            for (int id = 1; id <= 300; ++id) {
                f_->addMember(id, QStringLiteral("会員%1").arg(id), QStringLiteral("150-0001"),
                              QStringLiteral("03-1234-5678"));
                m.edit();
                m.setFieldValue(QStringLiteral("address1"), FieldValue::fromString(QString(30, QChar(u'住'))));
                m.setFieldValue(QStringLiteral("print"), FieldValue::logical(true));
                m.post();
            }
        }
        m.first();
        InvoiceForm = new TInvoiceForm(f_->dm.get(), program_.senderSettings, program_.appDir, program_.fixedDates);
        InvoiceForm->rvpjInvoice->Engine = &keep_;
        InvoiceForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(InvoiceForm));
    }

    void cleanupTestCase()
    {
        delete InvoiceForm;
        InvoiceForm = nullptr;
        f_.reset();
    }

    void init()
    {
        keep_.runs = 0;
        seams::begin();
    }

    void cleanup() { seams::end(); }

    // The shell holds the staging file: emptying it fails at once, nothing is printed, the staging
    // table stays closed until the next job, which works once the shell has ended.
    void aLockedStagingTableStopsTheJob_data()
    {
        QTest::addColumn<QByteArray>("lock");
        QTest::newRow("reserved") << QByteArray("BEGIN IMMEDIATE;\nDELETE FROM PrintMember;\n");
        QTest::newRow("exclusive") << QByteArray("BEGIN EXCLUSIVE;\n");
    }
    void aLockedStagingTableStopsTheJob()
    {
        QFETCH(QByteArray, lock);
        QVERIFY(print("btnPrnCurrent", false).isEmpty());
        QCOMPARE(keep_.runs, 1);
        QCOMPARE(stagedRows(staging()), 1);

        // An exclusive lock can only be had while no reader holds the file: the staging table lets
        // go of the row it stands on (a lookup does).
        QVERIFY(f_->dm->tbPrintMember.locate(QStringLiteral("id_no"), FieldValue::integer(1)));
        faults::SqliteShell shell(staging());
        QVERIFY2(shell.started(), "the sqlite3 shell does not start (scripts/deps.sh installs it)");
        shell.send(lock);
        QVERIFY(shell.waitUntilWriteLocked());
        QElapsedTimer timer;
        timer.start();
        const auto boxes = print("btnPrnCurrent", true);
        QVERIFY2(timer.elapsed() < kNeverHangsMs, qPrintable(QString::number(timer.elapsed())));
        errorboxes::expectOne(
            boxes, QStringLiteral("tbPrintMember: テーブル %1 は他のプログラムが使用中です.").arg(staging()));
        QCOMPARE(keep_.runs, 1); // no report run
        QVERIFY(!f_->dm->tbPrintMember.active());
        QVERIFY(!InvoiceForm->rvpjInvoice->isOpen());

        shell.finish();
        QCOMPARE(stagedRows(staging()), 1); // what the last job staged is still there
        QVERIFY(print("btnPrnCurrent", false).isEmpty());
        QCOMPARE(keep_.runs, 2);
        QCOMPARE(stagedRows(staging()), 1);
        QCOMPARE(faults::integrityCheck(staging()), QStringLiteral("ok"));
    }

    // The disk fills up while the sheets are staged: one sheet, or the bulk job's rows stored in
    // one transaction. The box says so, the staging file stays sound and holds no half of it, no
    // report runs, and with space again the same job prints every sheet.
    void aFullDiskWhileStaging_data()
    {
        QTest::addColumn<QByteArray>("buttonName");
        QTest::addColumn<qint64>("quota");
        QTest::addColumn<int>("sheets");
        QTest::newRow("one waybill") << QByteArray("btnPrnCurrent") << qint64(0) << 1;
        QTest::newRow("bulk waybills") << QByteArray("btnInvoiceAllPrn") << qint64(16 * 1024) << 300;
        QTest::newRow("bulk payment slips") << QByteArray("btnAccountAllPrn") << qint64(16 * 1024) << 300;
    }
    void aFullDiskWhileStaging()
    {
        QFETCH(QByteArray, buttonName);
        QFETCH(qint64, quota);
        QFETCH(int, sheets);
        Table& p = f_->dm->tbPrintMember;
        p.close();
        p.emptyTable(); // nothing staged: the job's own emptying writes next to nothing
        {
            faults::FullDisk disk("PrintMember.db", quota);
            QVERIFY(disk.registered());
            p.open();
            const auto boxes = print(buttonName.constData(), true);
            errorboxes::expectOne(
                boxes, QStringLiteral("tbPrintMember: ディスクがいっぱいで %1 に書き込めません.").arg(staging()));
            QVERIFY(disk.refused() > 0);
            QCOMPARE(keep_.runs, 0);
            QVERIFY(!InvoiceForm->rvpjInvoice->isOpen());
            p.close();
        }
        QCOMPARE(faults::integrityCheck(staging()), QStringLiteral("ok"));
        QCOMPARE(stagedRows(staging()), 0);

        QVERIFY(print(buttonName.constData(), false).isEmpty());
        QCOMPARE(keep_.runs, 1);
        QCOMPARE(keep_.pages, sheets);
        QCOMPARE(stagedRows(staging()), sheets);
    }

    // A template that cannot be read: the reader's error naming the file and, where it has one,
    // the line; the project stays closed, and the next print with a sound template works.
    void aDamagedTemplateIsReportedAndTheNextPrintWorks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("buttonName");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("cutAfter"); // for "cut": where the file ends
        const QStringList files{QStringLiteral("Invoice.Rav"), QStringLiteral("Account.Rav")};
        for (const QString& file : files) {
            const QByteArray button = file == u"Invoice.Rav" ? "btnPrnCurrent" : "btnAccountPrn";
            const auto row = [&](const char* what) -> QTestData& {
                return QTest::newRow(qPrintable(file + u' ' + what));
            };
            row("cut inside the page line")
                << file << button << QStringLiteral("cut") << QStringLiteral("\npage width=");
            row("cut inside the report line")
                << file << button << QStringLiteral("cut") << QStringLiteral("\nreport name=");
            row("cut after a key") << file << button << QStringLiteral("cut")
                                   << QStringLiteral("\ntext field=zip_f x=");
            row("random bytes") << file << button << QStringLiteral("random") << QString();
            row("empty") << file << button << QStringLiteral("empty") << QString();
            row("a folder in its place") << file << button << QStringLiteral("folder") << QString();
        }
    }
    void aDamagedTemplateIsReportedAndTheNextPrintWorks()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, buttonName);
        QFETCH(QString, damage);
        QFETCH(QString, cutAfter);
        const QString path = appDir_ + file;
        const QString fullPath = QFileInfo(path).absoluteFilePath();
        const QByteArray good = fileBytes(shipped(file));
        QVERIFY(!good.isEmpty());

        int line = 0; // the line the reader names; 0: it names none
        QVERIFY(QFile::remove(path));
        if (damage == u"cut") {
            const qsizetype at = good.indexOf(cutAfter.toUtf8());
            if (at < 0)
                QSKIP(qPrintable(file + QStringLiteral(" has no '") + cutAfter + u'\''));
            const QByteArray cut = good.left(at + cutAfter.toUtf8().size());
            QVERIFY(writeBytes(path, cut));
            line = int(cut.count('\n')) + 1;
        } else if (damage == u"random") {
            QRandomGenerator random(20240611);
            QByteArray bytes(4096, Qt::Uninitialized);
            for (char& c : bytes)
                c = char(random.bounded(256));
            QVERIFY(writeBytes(path, bytes));
            line = -1; // some line: the first the reader cannot take
        } else if (damage == u"empty") {
            QVERIFY(writeBytes(path, {}));
            line = 1;
        } else {
            QVERIFY(QDir().mkdir(path));
        }

        const auto boxes = print(buttonName.constData(), true);
        QCOMPARE(boxes.size(), 1);
        const QString text = boxes.first().text;
        QCOMPARE(boxes.first().caption, QStringLiteral("Halvenna"));
        QVERIFY2(text.startsWith(fullPath + u' '), qPrintable(text));
        if (line > 0)
            QVERIFY2(text.startsWith(QStringLiteral("%1 の %2 行目: ").arg(fullPath).arg(line)), qPrintable(text));
        else if (line < 0)
            QVERIFY2(text.contains(QRegularExpression(QStringLiteral("^[^\\n]* の \\d+ 行目: "))), qPrintable(text));
        else
            QVERIFY2(text.startsWith(fullPath + QStringLiteral(" を読めません (")), qPrintable(text));
        QCOMPARE(keep_.runs, 0);
        QVERIFY(!InvoiceForm->rvpjInvoice->isOpen());
        QCOMPARE(stagedRows(staging()), 1); // the job's row stays staged

        // The sound template back in place: the same button prints.
        if (damage == u"folder")
            QVERIFY(QDir().rmdir(path));
        else
            QVERIFY(QFile::remove(path));
        QVERIFY(QFile::copy(shipped(file), path));
        QVERIFY(print(buttonName.constData(), false).isEmpty());
        QCOMPARE(keep_.runs, 1);
        QCOMPARE(keep_.pages, 1);
    }
};

QTEST_MAIN(TestPrintFaults)
#include "tst_printfaults.moc"

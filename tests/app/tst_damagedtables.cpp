// The program started on a table file that is missing, full of random bytes or cut short. The data
// module's creation shows the engine's error in the standard box and leaves that table and the ones
// opened after it closed; the program starts all the same, the roster and print windows open, and
// using them gives error boxes, never a crash.
#include "app/AboutBox.h"
#include "app/Program.h"
#include "app/Startup.h"
#include "app/Top.h"
#include "common/Seams.h"
#include "gui/MessageBox.h"
#include "printing/Invoice.h"
#include "roster/MemberMaster.h"
#include "roster/model/DataModule.h"
#include "roster/model/Schema.h"
#include "settings/SenderSettings.h"

#include <QApplication>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using halvenna::FieldValue;
using halvenna::MessageBox;

namespace {

const QStringList kTables{"MemberMaster", "Contents", "Account", "PrintMember"};

// Answers every real message box with OK, so that a run through the event loop never waits for a user.
class BoxCloser : public QObject
{
public:
    BoxCloser() { startTimer(20); }

protected:
    void timerEvent(QTimerEvent*) override
    {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    }
};

// Runs action while window is shown modally by open, then closes the window.
void insideModal(QDialog* window, const std::function<void()>& open, const std::function<void()>& action)
{
    QTimer::singleShot(0, window, [window, action] {
        action();
        window->close();
    });
    open();
}

QStringList boxTexts(qsizetype from)
{
    QStringList texts;
    const auto all = MessageBox::seam().requests();
    for (qsizetype i = from; i < all.size(); ++i)
        texts << all.at(i).text;
    return texts;
}

} // namespace

class TestDamagedTables : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { halvenna::installJapaneseFont(); }

    void startsAndEveryWindowStillWorks_data()
    {
        QTest::addColumn<int>("damaged"); // index into kTables
        QTest::addColumn<QString>("damage");
        for (int i = 0; i < kTables.size(); ++i)
            for (const char* damage : {"missing", "random bytes", "cut short"})
                QTest::newRow(qPrintable(kTables.at(i) + u' ' + QLatin1String(damage)))
                    << i << QString::fromLatin1(damage);
    }
    void startsAndEveryWindowStillWorks()
    {
        QFETCH(int, damaged);
        QFETCH(QString, damage);
        QTemporaryDir dir;
        const QString appDir = dir.path() + u'/';
        const QString tables = appDir + QStringLiteral("Dostrel");
        halvenna::schema::createMissingTables(tables);
        {
            // One member with waybill contents and an amount, so that every file holds rows.
            TDataModule1 dm(tables);
            dm.DataModuleCreate();
            dm.tbMemberMaster.append();
            dm.tbMemberMaster.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(1));
            dm.tbMemberMaster.post();
            dm.tbContents.append();
            dm.tbContents.setFieldValue(QStringLiteral("item"), FieldValue::text("apple"));
            dm.tbContents.post();
            dm.tbAccount.append();
            dm.tbAccount.setFieldValue(QStringLiteral("amount"), FieldValue::integer(100));
            dm.tbAccount.post();
            dm.DataModuleDestroy();
        }
        const QString table = kTables.at(damaged);
        const QString file = tables + u'/' + table + QStringLiteral(".db");
        if (damage == u"missing") {
            QVERIFY(QFile::remove(file));
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            if (damage == u"random bytes") {
                QRandomGenerator random(7 + damaged);
                QByteArray bytes(8192, Qt::Uninitialized);
                for (char& c : bytes)
                    c = char(random.bounded(256));
                QVERIFY(f.resize(0));
                QCOMPARE(f.write(bytes), bytes.size());
            } else {
                QVERIFY(f.size() > 4096);
                QVERIFY(f.resize(f.size() / 2));
            }
        }

        halvenna::StartupFactories factories = halvenna::defaultFactories();
        const auto makeTop = factories.topForm;
        factories.topForm = [makeTop, appDir](halvenna::Program& program) {
            TTopForm* top = makeTop(program);
            // The settings and the tables of this test, not the test executable's folder.
            program.setFolder(appDir);
            return top;
        };
        halvenna::Program program;

        BoxCloser closer;
        seams::begin();
        QStringList atStart;
        QList<bool> activeAtStart;
        QStringList fromRoster;
        int membersAfterRoster = -1;
        QStringList fromPrintWindow;
        bool printWindowOpened = false;
        bool rosterOpened = false;
        // Once start-up is over: every object made, the main window shown, no box still open.
        std::function<void()> whenStarted;
        std::function<void()> afterStart = [&] {
            if (!AboutBoxForm || !TopForm->isVisible() || QApplication::activeModalWidget()) {
                QTimer::singleShot(10, qApp, afterStart);
                return;
            }
            whenStarted();
        };
        whenStarted = [&] {
            atStart = boxTexts(0);
            for (halvenna::Table* t : {&DataModule1->tbMemberMaster, &DataModule1->tbContents, &DataModule1->tbAccount,
                                       &DataModule1->tbPrintMember})
                activeAtStart << t->active();

            qsizetype seen = MessageBox::seam().requests().size();
            insideModal(
                MemberMasterForm, [] { TopForm->btnMemberReg->click(); },
                [&] {
                    rosterOpened = MemberMasterForm->isVisible();
                    MemberMasterForm->findChild<QPushButton*>(QStringLiteral("btnAppend"))->click();
                    MemberMasterForm->findChild<QPushButton*>(QStringLiteral("btnMemberReg"))->click();
                    fromRoster = boxTexts(seen);
                    if (DataModule1->tbMemberMaster.active())
                        membersAfterRoster = DataModule1->tbMemberMaster.recordCount();
                });

            seen = MessageBox::seam().requests().size();
            insideModal(
                InvoiceForm, [] { TopForm->btnKelvaro->click(); },
                [&] {
                    printWindowOpened = InvoiceForm->isVisible();
                    InvoiceForm->findChild<QPushButton*>(QStringLiteral("btnAccountPrn"))->click();
                    fromPrintWindow = boxTexts(seen);
                });
            TopForm->close();
        };
        QTimer::singleShot(0, qApp, afterStart);
        const int code = halvenna::runApplication(*qApp, factories, program);
        QCOMPARE(code, 0);

        // Start-up: the engine's error for that file, once, in the standard box.
        QCOMPARE(atStart.size(), 1);
        QCOMPARE(MessageBox::seam().requests().first().caption, QStringLiteral("Halvenna"));
        QVERIFY2(atStart.first().startsWith(QStringLiteral("tb%1: ").arg(table)) && atStart.first().contains(file),
                 qPrintable(atStart.first()));
        if (damage == u"missing")
            QCOMPARE(atStart.first(), QStringLiteral("tb%1: テーブル ファイル %2 が見つかりません.").arg(table, file));
        QList<bool> expectedActive;
        for (int i = 0; i < kTables.size(); ++i)
            expectedActive << (i < damaged);
        QCOMPARE(activeAtStart, expectedActive);

        // The roster: without its table every action says the table is closed; with it, a new
        // member is numbered and stored.
        QVERIFY(rosterOpened);
        if (damaged == 0) {
            QCOMPARE(fromRoster, QStringList{QStringLiteral(
                                     "tbMemberMaster: データセットは閉じているため, この操作は実行できません.")});
        } else {
            QCOMPARE(fromRoster, QStringList());
            QCOMPARE(membersAfterRoster, 2);
        }

        // The print window: the payment slip needs all four tables; the first one missing says so.
        QVERIFY(printWindowOpened);
        QCOMPARE(fromPrintWindow.size(), 1);
        const QString expected[] = {QStringLiteral("tbMemberMaster: 項目 'id_no' が見つかりません."),
                                    QStringLiteral("tbContents: 項目 'item' が見つかりません."),
                                    QStringLiteral("tbAccount: 項目 'amount' が見つかりません."),
                                    QStringLiteral("tbPrintMember: ")};
        QVERIFY2(fromPrintWindow.first().startsWith(expected[damaged]), qPrintable(fromPrintWindow.first()));
        if (damaged == 3)
            QVERIFY2(fromPrintWindow.first().contains(file), qPrintable(fromPrintWindow.first()));

        // Nothing more at exit, and every reference is gone.
        QCOMPARE(MessageBox::seam().requests().size(), 1 + fromRoster.size() + fromPrintWindow.size());
        QVERIFY(!TopForm && !DataModule1 && !MemberMasterForm && !InvoiceForm);
    }
};

QTEST_MAIN(TestDamagedTables)
#include "tst_damagedtables.moc"

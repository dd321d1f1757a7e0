#include "app/AboutBox.h"
#include "app/Program.h"
#include "app/Sender.h"
#include "app/Startup.h"
#include "app/Top.h"
#include "common/GuiFixture.h"
#include "printing/Invoice.h"
#include "roster/MemberMaster.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"
#include "roster/model/Schema.h"

#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(FixedDatesData)

class TestShellWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        halvenna::installJapaneseFont();
        halvenna::installAccessibleNames();
    }

    void windows_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QSize>("clientSize");
        QTest::addColumn<bool>("resizable");
        QTest::newRow("MemberMasterForm") << "MemberMasterForm"
                                          << "名簿登録一覧" << QSize(797, 511) << true;
        QTest::newRow("InvoiceForm") << "InvoiceForm"
                                     << "Halvenna" << QSize(674, 573) << true;
        QTest::newRow("SenderForm") << "SenderForm"
                                    << "差出人データ" << QSize(368, 304) << false;
    }

    // Created hidden, as the shell makes them, with caption, size, border and font; the reference
    // points at the window.
    void windows()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QSize, clientSize);
        QFETCH(bool, resizable);
        halvenna::Program program;
        const halvenna::StartupFactories make = halvenna::defaultFactories();
        std::unique_ptr<QDialog> w;
        QDialog* reference = nullptr;
        if (name == u"MemberMasterForm") {
            w.reset(make.memberMasterForm(program));
            reference = MemberMasterForm;
        } else if (name == u"InvoiceForm") {
            w.reset(make.invoiceForm(program));
            reference = InvoiceForm;
        } else {
            w.reset(make.senderForm(program));
            reference = SenderForm;
        }
        QCOMPARE(reference, w.get());
        QCOMPARE(w->objectName(), name);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->windowTitle(), caption);
        // The client area lies below the menu bar of the windows that have one.
        const auto* menu = w->findChild<QMenuBar*>();
        QCOMPARE(w->size() - QSize(0, menu ? menu->sizeHint().height() : 0), clientSize);
        QCOMPARE(w->minimumSize() != w->maximumSize(), resizable);
        const Qt::WindowFlags flags = w->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(flags.testFlag(Qt::WindowMaximizeButtonHint), resizable);
        QCOMPARE(flags.testFlag(Qt::WindowMinimizeButtonHint), resizable);
        QCOMPARE(QFontInfo(w->font()).family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(QFontInfo(w->font()).pixelSize(), 12);
        w.reset();
        // The sender dialog lets go of its reference itself; the shell lets go of the others' when
        // it destroys them (tst_startup).
        QVERIFY(!SenderForm);
        MemberMasterForm = nullptr;
        InvoiceForm = nullptr;
    }

    // Every input of every window is read by assistive technology by what it is, not by the value
    // it holds.
    void everyInputHasAName_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* w : {"TopForm", "MemberMasterForm", "InvoiceForm", "SenderForm", "AboutBoxForm"})
            QTest::newRow(w) << QString::fromLatin1(w);
    }
    void everyInputHasAName()
    {
        QFETCH(QString, name);
        halvenna::Program program;
        std::unique_ptr<QWidget> w;
        if (name == u"TopForm")
            w.reset(new TTopForm(program));
        else if (name == u"MemberMasterForm")
            w.reset(new TMemberMasterForm(program.dataModule, program.appDir, program.postalCodes));
        else if (name == u"InvoiceForm")
            w.reset(new TInvoiceForm(program.dataModule, program.senderSettings, program.appDir, program.fixedDates));
        else if (name == u"SenderForm")
            w.reset(new TSenderForm(program));
        else
            w.reset(new TAboutBoxForm(program));
        QVERIFY2(unnamedInputs(w.get()).isEmpty(), qPrintable(unnamedInputs(w.get()).join(u", ")));
    }

    void initialFixedDates_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<FixedDatesData>("dates");
        QTest::newRow("plain day") << QDate(2024, 7, 5) << FixedDatesData{"2024", "7", "5", "2024", "7", "6"};
        QTest::newRow("month end") << QDate(2024, 4, 30) << FixedDatesData{"2024", "4", "30", "2024", "5", "1"};
        QTest::newRow("leap day") << QDate(2024, 2, 28) << FixedDatesData{"2024", "2", "28", "2024", "2", "29"};
        QTest::newRow("no leap day") << QDate(2023, 2, 28) << FixedDatesData{"2023", "2", "28", "2023", "3", "1"};
        QTest::newRow("year end") << QDate(2024, 12, 31) << FixedDatesData{"2024", "12", "31", "2025", "1", "1"};
    }

    // Today and tomorrow in decimal without leading zeros.
    void initialFixedDates()
    {
        QFETCH(QDate, today);
        QFETCH(FixedDatesData, dates);
        QCOMPARE(::initialFixedDates(today), dates);
    }

    // Creating the print window sets the remembered fixed dates to today and tomorrow.
    void printWindowCreationSetsDates()
    {
        halvenna::Program program;
        program.fixedDates = {"x", "x", "x", "x", "x", "x"};
        const QDate before = QDate::currentDate();
        TInvoiceForm w(program.dataModule, program.senderSettings, program.appDir, program.fixedDates);
        const QDate after = QDate::currentDate();
        QVERIFY(program.fixedDates == ::initialFixedDates(before) || program.fixedDates == ::initialFixedDates(after));
    }

    // Posting a member derives its print fields, with no roster window and with one; the window's
    // SplitZipAndTel is the same rule, run on the member being edited.
    void splitZipAndTel()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        halvenna::schema::createMissingTables(dir.path());
        TDataModule1 dm(dir.path());
        dm.DataModuleCreate();
        halvenna::Table& members = dm.tbMemberMaster;
        const auto expectDerived = [&](const char* zip, const char* tel) {
            const auto expected =
                halvenna::rules::splitZipAndTel(halvenna::FieldValue::text(zip), halvenna::FieldValue::text(tel));
            QCOMPARE(members.fieldValue(QStringLiteral("zip_f")).asText(), expected.zipF);
            QCOMPARE(members.fieldValue(QStringLiteral("zip_r")).asText(), expected.zipR);
            QCOMPARE(members.fieldValue(QStringLiteral("tel_f")).asText(), expected.telF);
            QCOMPARE(members.fieldValue(QStringLiteral("tel_m")).asText(), expected.telM);
            QCOMPARE(members.fieldValue(QStringLiteral("tel_r")).asText(), expected.telR);
            QVERIFY(!expected.zipF.isEmpty());
            QVERIFY(!expected.telR.isEmpty());
        };
        // No roster window.
        members.append();
        members.setFieldValue(QStringLiteral("id_no"), halvenna::FieldValue::integer(1));
        members.setFieldValue(QStringLiteral("zip"), halvenna::FieldValue::text("060-0001"));
        members.setFieldValue(QStringLiteral("tel"), halvenna::FieldValue::text("011-222-3333"));
        members.post();
        expectDerived("060-0001", "011-222-3333");

        halvenna::Program program;
        TMemberMasterForm roster(&dm, program.appDir, program.postalCodes);
        members.append();
        members.setFieldValue(QStringLiteral("id_no"), halvenna::FieldValue::integer(2));
        members.setFieldValue(QStringLiteral("zip"), halvenna::FieldValue::text("150-0001"));
        members.setFieldValue(QStringLiteral("tel"), halvenna::FieldValue::text("03-1234-5678"));
        members.post();
        expectDerived("150-0001", "03-1234-5678");

        // The window's operation, before any post.
        members.edit();
        members.setFieldValue(QStringLiteral("zip"), halvenna::FieldValue::text("231-0005"));
        members.setFieldValue(QStringLiteral("tel"), halvenna::FieldValue::text("09012345678"));
        roster.SplitZipAndTel();
        QCOMPARE(members.state(), halvenna::TableState::Edit);
        expectDerived("231-0005", "09012345678");
        members.cancel();
        dm.DataModuleDestroy();
    }
};

QTEST_MAIN(TestShellWindows)
#include "tst_shellwindows.moc"

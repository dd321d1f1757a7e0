// The four print buttons on the real print window: staged rows, the template run to a PDF whose
// text shows them, a missing template, a cancelled output.
#include "app/Program.h"
#include "app/Startup.h"
#include "common/DataFixture.h"
#include "common/PrintRoster.h"
#include "common/Seams.h"
#include "gui/MessageBox.h"
#include "printing/Invoice.h"
#include "report/dialogs/OutputOptionsDialog.h"
#include "report/dialogs/StandardReportOutput.h"
#include "settings/SenderSettings.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

using halvenna::FieldValue;
using halvenna::MessageBox;
using halvenna::OutputChoice;
using halvenna::StandardReportOutput;
using halvenna::Table;

namespace {

QString pdfText(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(30000))
        return QStringLiteral("<pdftotext did not finish>");
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestPrintButtons : public QObject
{
    Q_OBJECT

private:
    // What the windows are given: the program's folder, the sender settings, the remembered dates.
    halvenna::Program program_;
    std::unique_ptr<DataFixture> f_;
    QString appDir_;

    QPushButton* button(const char* name) { return InvoiceForm->findChild<QPushButton*>(QLatin1String(name)); }
    QString pdfPath() const { return appDir_ + QStringLiteral("out.pdf"); }
    void answerWithFile()
    {
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, pdfPath()});
    }

private Q_SLOTS:
    void initTestCase()
    {
        halvenna::installJapaneseFont();
        f_ = std::make_unique<DataFixture>();
        QVERIFY(printroster::setUp(*f_, program_, QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates")));
        appDir_ = program_.appDir;
        InvoiceForm = new TInvoiceForm(f_->dm.get(), program_.senderSettings, program_.appDir, program_.fixedDates);
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
        seams::begin();
        QFile::remove(pdfPath());
    }

    void bulkWaybillsGoToAPdfWithEverySheetInOrder()
    {
        answerWithFile();
        QTest::mouseClick(button("btnInvoiceAllPrn"), Qt::LeftButton);
        QVERIFY2(MessageBox::seam().requests().isEmpty(),
                 qPrintable(MessageBox::seam().requests().isEmpty() ? QString()
                                                                    : MessageBox::seam().requests().first().text));
        QVERIFY(QFile::exists(pdfPath()));
        const QStringList pages = pdfText(pdfPath()).split(u'\f', Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), 4); // two parcels for the first member, one each for the others
        QVERIFY(pages.at(0).contains(QStringLiteral("山田太郎")));
        QVERIFY(pages.at(1).contains(QStringLiteral("山田太郎")));
        QVERIFY(pages.at(2).contains(QStringLiteral("鈴木花子")));
        QVERIFY(pages.at(3).contains(QStringLiteral("田中一郎")));
        QVERIFY(pages.at(0).contains(QStringLiteral("佐藤商店"))); // the sender from the parameters
        QVERIFY(pages.at(0).contains(QStringLiteral("りんご")));
        QCOMPARE(f_->dm->tbMemberMaster.fieldValue(QStringLiteral("id_no")).asInteger(), 1);
    }

    void oneWaybillWithThePanelDates()
    {
        f_->dm->tbMemberMaster.last();
        InvoiceForm->findChild<QCheckBox*>(QStringLiteral("cbConstDate"))->setChecked(true);
        answerWithFile();
        QTest::mouseClick(button("btnPrnCurrent"), Qt::LeftButton);
        InvoiceForm->findChild<QCheckBox*>(QStringLiteral("cbConstDate"))->setChecked(false);
        QVERIFY(MessageBox::seam().requests().isEmpty());
        const QStringList pages = pdfText(pdfPath()).split(u'\f', Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages.at(0).contains(QStringLiteral("田中一郎")));
        QCOMPARE(f_->dm->tbMemberMaster.fieldValue(QStringLiteral("id_no")).asInteger(), 3); // unchanged
        Table& p = f_->dm->tbPrintMember;
        p.first();
        const FixedDatesData panel = InvoiceForm->panelTexts();
        QCOMPARE(p.fieldValue(QStringLiteral("delivery_day")).asText(), panel.DeliveryDay);
    }

    void paymentSlipsCarryTheAmount()
    {
        f_->dm->tbMemberMaster.first();
        Table& a = f_->dm->tbAccount;
        a.edit();
        a.setFieldValue(QStringLiteral("amount"), FieldValue::integer(3000));
        answerWithFile(); // the pending amount is posted by the job first
        QTest::mouseClick(button("btnAccountAllPrn"), Qt::LeftButton);
        QVERIFY(MessageBox::seam().requests().isEmpty());
        const QStringList pages = pdfText(pdfPath()).split(u'\f', Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), 3);
        QVERIFY(pages.at(0).contains(QStringLiteral("3 0 0 0")) || pages.at(0).contains(QStringLiteral("3000")));
        QVERIFY(pages.at(2).contains(QStringLiteral("田中一郎")));
    }

    void aCancelledOutputPrintsNothingAndSaysNothing()
    {
        StandardReportOutput::optionsSeam().answer(std::optional<OutputChoice>());
        QTest::mouseClick(button("btnAccountPrn"), Qt::LeftButton);
        QVERIFY(MessageBox::seam().requests().isEmpty());
        QVERIFY(!QFile::exists(pdfPath()));
        QVERIFY(!InvoiceForm->rvpjInvoice->isOpen());
        // The next print works as usual.
        answerWithFile();
        QTest::mouseClick(button("btnAccountPrn"), Qt::LeftButton);
        QVERIFY(QFile::exists(pdfPath()));
    }

    void aMissingTemplateIsReportedAndTheOtherFormStillPrints()
    {
        QVERIFY(QFile::rename(appDir_ + QStringLiteral("Account.Rav"), appDir_ + QStringLiteral("Account.away")));
        MessageBox::seam().answer(QMessageBox::Ok);
        QTest::mouseClick(button("btnAccountPrn"), Qt::LeftButton);
        const auto requests = MessageBox::seam().requests();
        QCOMPARE(requests.size(), 1);
        // The message ends with a quotation mark, so the box adds no full stop.
        QCOMPARE(requests.first().text,
                 QStringLiteral("The following reporting project does not exist:\n\"%1\"")
                     .arg(QFileInfo(appDir_ + QStringLiteral("Account.Rav")).absoluteFilePath()));
        QVERIFY(!InvoiceForm->rvpjInvoice->isOpen());
        answerWithFile();
        QTest::mouseClick(button("btnPrnCurrent"), Qt::LeftButton);
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QVERIFY(QFile::exists(pdfPath()));
        QVERIFY(QFile::rename(appDir_ + QStringLiteral("Account.away"), appDir_ + QStringLiteral("Account.Rav")));
    }
};

QTEST_MAIN(TestPrintButtons)
#include "tst_printbuttons.moc"

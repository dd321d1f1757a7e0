// The engine's own windows driven from the keyboard as a user drives them: "Output Options",
// "Report Status" and "Report Preview", alone and on the road of a real run.
#include "common/DataFixture.h"
#include "common/GuiFixture.h"
#include "common/Seams.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "gui/PrintSetup.h"
#include "printing/jobs/PrintJobs.h"
#include "report/ReportProject.h"
#include "report/ReportTestSupport.h"
#include "report/dialogs/OutputOptionsDialog.h"
#include "report/dialogs/ReportPreview.h"
#include "report/dialogs/ReportStatusDialog.h"
#include "report/dialogs/StandardReportOutput.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace halvenna;
using halvenna::PrintSetup;
using reporttest::sj;

namespace {

// A settings file that is not there: every form unmoved, no background under the preview.
QString noSettingsFile()
{
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("Kelvaro.ini"));
}

void showActive(QWidget* w)
{
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
}

std::shared_ptr<const ReportTemplate> nameTemplate()
{
    return std::make_shared<const ReportTemplate>(
        ReportTemplate::parse("page width=108 height=178\nreport name=R connection=rvtbPrintMaster\n"
                              "box x=5 y=5 width=98 height=30\ntext field=name x=10 y=10 size=20\n",
                              QStringLiteral("Names.Rav")));
}

ReportDocument nameDocument(int pages)
{
    ReportRows rows({QStringLiteral("name")});
    for (int i = 0; i < pages; ++i)
        rows.appendRow({sj(QStringLiteral("会員%1").arg(i + 1))});
    return ReportDocument(nameTemplate(), 0, {}, std::move(rows));
}

// The member on each page of a PDF from nameDocument: 1 for "会員1".
QList<int> membersByPage(const QString& pdf)
{
    QList<int> members;
    const int pages = reporttest::pdfPages(pdf);
    for (int page = 1; page <= pages; ++page) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("会員(\\d+)")).match(reporttest::pdfText(pdf, page));
        members << (m.hasMatch() ? m.captured(1).toInt() : 0);
    }
    return members;
}

// Setup in the print dialog as a user makes it, on a printer that writes a PDF file: a page range
// (0: all pages) and the copies.
void answerPdfSetup(const QString& pdf, int from, int to, int copies)
{
    PrintSetup::seam().answerWith([=](const PrintSetup::Request& r) {
        QPrinter& p = *r.printer;
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(pdf);
        p.setPrintRange(from > 0 ? QPrinter::PageRange : QPrinter::AllPages);
        if (from > 0)
            p.setFromTo(from, to);
        p.setCopyCount(copies);
        return true;
    });
}

// Runs an output with "Output Options" shown for real and answered with `keys` once it is up.
bool outputThroughOptions(StandardReportOutput& output, const ReportDocument& doc, const QString& keys)
{
    bool shown = false;
    QTimer poll;
    poll.setInterval(20);
    poll.callOnTimeout([&] {
        auto* options = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!options || options->windowTitle() != QStringLiteral("Output Options") || !options->isActiveWindow())
            return;
        poll.stop();
        shown = true;
        auto close = qScopeGuard([&] {
            if (options->isVisible())
                options->reject();
        });
        pressKeys(options, keys);
    });
    poll.start();
    output.output(doc);
    return shown;
}

} // namespace

class TestReportDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { reporttest::useFormFont(); }
    void init() { seams::begin(); }
    void cleanup() { seams::end(); }

    void outputOptionsFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("result"); // 1 accepted, 0 rejected, -1 still open
        QTest::addColumn<int>("destination");
        QTest::addColumn<int>("copies");
        QTest::addColumn<QString>("fileName");
        const int printer = int(OutputChoice::Destination::Printer);
        const int preview = int(OutputChoice::Destination::Preview);
        const int file = int(OutputChoice::Destination::File);
        const QString offered = QStringLiteral("/tmp/Names.pdf");

        QTest::newRow("Enter takes the preselected preview") << "Return" << 1 << preview << 1 << offered;
        QTest::newRow("Esc cancels") << "Escape" << 0 << preview << 1 << offered;
        QTest::newRow("Esc cancels after a change") << "Alt+F, Escape" << 0 << file << 1 << offered;
        QTest::newRow("Alt+F chooses the file") << "Alt+F, Return" << 1 << file << 1 << offered;
        QTest::newRow("Alt+N goes to the file name") << "Alt+F, Alt+N, Ctrl+A, type:/tmp/other.pdf, Return" << 1 << file
                                                     << 1 << QStringLiteral("/tmp/other.pdf");
        QTest::newRow("no file name, no OK")
            << "Alt+F, Alt+N, Ctrl+A, Backspace, Return" << -1 << file << 1 << QString();
        QTest::newRow("Alt+P chooses the printer, Alt+C the copies")
            << "Alt+P, Alt+C, Ctrl+A, type:3, Return" << 1 << printer << 3 << offered;
        QTest::newRow("Alt+V comes back to the preview") << "Alt+P, Alt+V, Return" << 1 << preview << 1 << offered;
        QTest::newRow("arrow keys move between destinations") << "Down, Return" << 1 << file << 1 << offered;
        QTest::newRow("up from the preview is the printer") << "Up, Return" << 1 << printer << 1 << offered;
    }
    void outputOptionsFromTheKeyboard()
    {
        QFETCH(QString, keys);
        QFETCH(int, result);
        QFETCH(int, destination);
        QFETCH(int, copies);
        QFETCH(QString, fileName);
        OutputOptionsDialog dialog(
            OutputChoice{OutputChoice::Destination::Preview, 1, QStringLiteral("/tmp/Names.pdf")},
            QStringLiteral("Names"), 3);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Output Options"));
        QVERIFY(dialog.findChild<QRadioButton*>(QStringLiteral("rbPreview"))->isChecked());
        QVERIFY(!dialog.findChild<QSpinBox*>(QStringLiteral("edCopies"))->isEnabled());
        showActive(&dialog);
        pressKeys(&dialog, keys);
        const int state = dialog.isVisible() ? -1 : dialog.result() == QDialog::Accepted ? 1 : 0;
        QCOMPARE(state, result);
        const OutputChoice c = dialog.choice();
        QCOMPARE(int(c.destination), destination);
        QCOMPARE(c.copies, copies);
        QCOMPARE(c.fileName, fileName);
        // Only the chosen destination's own settings can be edited.
        QCOMPARE(dialog.findChild<QSpinBox*>(QStringLiteral("edCopies"))->isEnabled(),
                 destination == int(OutputChoice::Destination::Printer));
        QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("edFileName"))->isEnabled(),
                 destination == int(OutputChoice::Destination::File));
    }

    // Every choice has its own mnemonic, and every editor a label that names it (its buddy), which
    // is also what assistive technology reads out.
    void everyOptionHasAKeyAndAName()
    {
        OutputOptionsDialog dialog(OutputChoice{}, QStringLiteral("Names"), 3);
        QStringList mnemonics;
        for (auto* b : dialog.findChildren<QAbstractButton*>())
            if (b->text().contains(u'&'))
                mnemonics << b->text().mid(b->text().indexOf(u'&') + 1, 1).toUpper();
        QList<QWidget*> named;
        for (auto* l : dialog.findChildren<QLabel*>())
            if (l->buddy()) {
                mnemonics << l->text().mid(l->text().indexOf(u'&') + 1, 1).toUpper();
                named << l->buddy();
            }
        mnemonics.sort();
        QCOMPARE(mnemonics, (QStringList{"B", "C", "F", "N", "P", "S", "V"}));
        for (QWidget* editor :
             std::initializer_list<QWidget*>{dialog.findChild<QSpinBox*>(QStringLiteral("edCopies")),
                                             dialog.findChild<QLineEdit*>(QStringLiteral("edFileName"))})
            QVERIFY2(named.contains(editor), qPrintable(editor->objectName()));
    }

    // Page navigation from the keyboard, starting on the first of five sheets.
    void previewPagesFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("page");
        QTest::newRow("Page Down") << "PgDown" << 1;
        QTest::newRow("Page Up after two Page Downs") << "PgDown, PgDown, PgUp" << 1;
        QTest::newRow("Page Up on the first stays") << "PgUp" << 0;
        QTest::newRow("Ctrl+End") << "Ctrl+End" << 4;
        QTest::newRow("Page Down on the last stays") << "Ctrl+End, PgDown" << 4;
        QTest::newRow("Ctrl+Home") << "Ctrl+End, Ctrl+Home" << 0;
        QTest::newRow("End on the sheet") << "End" << 4;
        QTest::newRow("Home on the sheet") << "End, Home" << 0;
        QTest::newRow("Alt+L last, Alt+R prior") << "Alt+L, Alt+R" << 3;
        QTest::newRow("Alt+N next") << "Alt+N, Alt+N" << 2;
        QTest::newRow("Alt+F first") << "End, Alt+F" << 0;
        QTest::newRow("Alt+G types a page number") << "Alt+G, Ctrl+A, type:4, Return" << 3;
    }
    void previewPagesFromTheKeyboard()
    {
        QFETCH(QString, keys);
        QFETCH(int, page);
        const ReportDocument doc = nameDocument(5);
        ReportPreview preview(doc);
        QCOMPARE(preview.windowTitle(), QStringLiteral("Report Preview"));
        QCOMPARE(preview.findChild<QLabel*>(QStringLiteral("lblPageCount"))->text(), QStringLiteral("of 5"));
        showActive(&preview);
        QCOMPARE(preview.currentPage(), 0);
        pressKeys(&preview, keys);
        QCOMPARE(preview.currentPage(), page);
        QCOMPARE(preview.findChild<QSpinBox*>(QStringLiteral("edPage"))->value(), page + 1);
        QCOMPARE(preview.findChild<QPushButton*>(QStringLiteral("btnFirst"))->isEnabled(), page > 0);
        QCOMPARE(preview.findChild<QPushButton*>(QStringLiteral("btnLast"))->isEnabled(), page < 4);
        pressKeys(&preview, QStringLiteral("Escape"));
        QVERIFY(!preview.isVisible());
    }

    // The sheet on screen is drawn for the page shown, at the zoom chosen, with the outline only
    // while it is asked for.
    void previewDrawsTheSheetShown()
    {
        const ReportDocument doc = nameDocument(2);
        ReportPreview preview(doc);
        showActive(&preview);
        auto* view = preview.findChild<PreviewPage*>(QStringLiteral("pvPage"));
        QVERIFY(view);
        QTRY_VERIFY(!view->image().isNull());
        const QImage first = view->image();
        QVERIFY(reporttest::inkPixels(first) > 0);
        QVERIFY(reporttest::darkPixels(first) > 0);
        pressKeys(&preview, QStringLiteral("PgDown"));
        view->repaint();
        QVERIFY(view->image() != first);
        const QSize atHundred = view->image().size();
        pressKeys(&preview, QStringLiteral("Ctrl+="));
        QCOMPARE(preview.findChild<QComboBox*>(QStringLiteral("cmbZoom"))->currentText(), QStringLiteral("125%"));
        view->repaint();
        QVERIFY(view->image().width() > atHundred.width());
        pressKeys(&preview, QStringLiteral("Alt+O")); // outline off
        QVERIFY(!preview.findChild<QCheckBox*>(QStringLiteral("cbOutline"))->isChecked());
        view->repaint();
        QCOMPARE(reporttest::inkPixels(view->image()), 0);
        QVERIFY(reporttest::darkPixels(view->image()) > 0);
    }

    void statusWindowCancelsOnEsc()
    {
        ReportStatusDialog status(QStringLiteral("Names"), QStringLiteral("/tmp/x.pdf"));
        QCOMPARE(status.windowTitle(), QStringLiteral("Report Status"));
        status.start();
        QVERIFY(status.step(1, 10));
        status.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&status));
        pressKeys(&status, QStringLiteral("Escape"));
        QVERIFY(!status.step(2, 10));
        QVERIFY(status.cancelled());
    }

    // Before anything is output, "Output Options" says how many sheets the run has and, where some
    // text did not fit its box, on how many sheets; the list names each one. Printing is not blocked.
    void optionsTellWhichSheetsDidNotFit()
    {
        auto templ = std::make_shared<const ReportTemplate>(
            ReportTemplate::parse("page width=108 height=178\nreport name=R connection=rvtbPrintMaster\n"
                                  "text field=name x=10 y=10 width=30 height=4 size=14\n",
                                  QStringLiteral("Names.Rav")));
        ReportRows rows({QStringLiteral("name"), QStringLiteral("id_no")});
        rows.appendRow({sj(QStringLiteral("山田")), "5"});
        rows.appendRow({sj(QString(40, u'漢')), "7"});
        rows.appendRow({sj(QStringLiteral("佐藤")), "9"});
        rows.appendRow({sj(QString(40, u'漢')), "12"});
        const ReportDocument doc(templ, 0, {}, std::move(rows), memberSheetRules());
        StandardReportOutput output(noSettingsFile());

        QString sheets;
        QString misfitLine;
        QStringList listed;
        bool listClosedByEsc = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* options = QApplication::activeModalWidget();
            auto close = qScopeGuard([&] {
                if (options && options->isVisible())
                    static_cast<QDialog*>(options)->reject();
            });
            QVERIFY(options && options->windowTitle() == QStringLiteral("Output Options"));
            QVERIFY(QTest::qWaitForWindowActive(options));
            auto* lblSheets = options->findChild<QLabel*>(QStringLiteral("lblSheets"));
            auto* lblMisfits = options->findChild<QLabel*>(QStringLiteral("lblMisfits"));
            QVERIFY(lblSheets && lblMisfits);
            sheets = lblSheets->text();
            misfitLine = lblMisfits->text();
            // The list opens once the button's click comes through: watch for it.
            QTimer watcher;
            watcher.setInterval(20);
            connect(&watcher, &QTimer::timeout, this, [&] {
                QWidget* list = QApplication::activeModalWidget();
                if (!list || list->objectName() != u"MisfitList" || !list->isActiveWindow())
                    return;
                watcher.stop();
                auto* lines = list->findChild<QListWidget*>(QStringLiteral("lstMisfits"));
                for (int i = 0; i < lines->count(); ++i)
                    listed << lines->item(i)->text();
                QTest::keyClick(list, Qt::Key_Escape);
                listClosedByEsc = !list->isVisible();
            });
            watcher.start();
            pressKeys(options, QStringLiteral("Alt+L"));
            QTRY_VERIFY(!watcher.isActive());
            pressKeys(options, QStringLiteral("Escape"));
        });
        output.output(doc);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(sheets, QStringLiteral("4 枚"));
        QCOMPARE(misfitLine, QStringLiteral("2 枚に収まらない文字があります"));
        QCOMPARE(listed, (QStringList{QStringLiteral("2 枚目 (ID 7): name"), QStringLiteral("4 枚目 (ID 12): name")}));
        QVERIFY(listClosedByEsc);
        // The same lines reach the seam, and a run where everything fits has none.
        StandardReportOutput::optionsSeam().answer(std::nullopt);
        output.output(doc);
        QCOMPARE(StandardReportOutput::optionsSeam().requests().last().misfits, listed);
        StandardReportOutput::optionsSeam().answer(std::nullopt);
        output.output(nameDocument(3));
        QVERIFY(StandardReportOutput::optionsSeam().requests().last().misfits.isEmpty());
    }

    // A file that is there is never replaced without the question, also when Output Options offers
    // the last file's name: "No" (the default) goes back to the options and leaves the file as it
    // was; "Yes" replaces it. A name the save dialog gave was asked about there and is not asked again.
    void anExistingFileIsReplacedOnlyWhenTheUserSaysSo()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("slips.pdf"));
        StandardReportOutput output(noSettingsFile());
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, pdf});
        output.output(nameDocument(5));
        QCOMPARE(reporttest::pdfPages(pdf), 5);
        QVERIFY(MessageBox::seam().requests().isEmpty());

        // The next run offers that file; answered as offered, the question comes, and "No" comes back
        // to the options, here cancelled.
        OutputChoice offeredSecond;
        StandardReportOutput::optionsSeam().answerWith([&](const StandardReportOutput::OptionsRequest& r) {
            offeredSecond = r.offered;
            return std::optional<OutputChoice>(OutputChoice{OutputChoice::Destination::File, 1, r.offered.fileName});
        });
        MessageBox::seam().answer(QMessageBox::No);
        StandardReportOutput::optionsSeam().answer(std::nullopt);
        output.output(nameDocument(1));
        QCOMPARE(offeredSecond.fileName, pdf);
        const auto asked = MessageBox::seam().requests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().caption, QStringLiteral("警告"));
        QCOMPARE(asked.first().text,
                 QStringLiteral("%1 は既に存在します。\n置き換えますか?").arg(QDir::toNativeSeparators(pdf)));
        QCOMPARE(asked.first().defaultButton, QMessageBox::No);
        QCOMPARE(asked.first().escapeButton, QMessageBox::No);
        const auto options = StandardReportOutput::optionsSeam().requests();
        QCOMPARE(options.size(), 3);
        QCOMPARE(options.last().offered.destination, OutputChoice::Destination::File);
        QCOMPARE(options.last().offered.fileName, pdf);
        QCOMPARE(reporttest::pdfPages(pdf), 5);

        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, pdf});
        MessageBox::seam().answer(QMessageBox::Yes);
        output.output(nameDocument(1));
        QCOMPARE(MessageBox::seam().requests().size(), 2);
        QCOMPARE(reporttest::pdfPages(pdf), 1);

        // Chosen in the save dialog, which asks itself: written without a second question.
        OutputChoice browsed{OutputChoice::Destination::File, 1, pdf};
        browsed.replaceConfirmed = true;
        StandardReportOutput::optionsSeam().answer(browsed);
        output.output(nameDocument(2));
        QCOMPARE(MessageBox::seam().requests().size(), 2);
        QCOMPARE(reporttest::pdfPages(pdf), 2);
    }

    // Output Options knows whether the name in its box is the one the save dialog gave.
    void theDialogSaysWhetherTheSaveDialogAsked()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("chosen.pdf"));
        OutputOptionsDialog d(OutputChoice{OutputChoice::Destination::File, 1, dir.filePath(QStringLiteral("a.pdf"))},
                              QStringLiteral("R"), 1);
        d.chooseFile = [&](QWidget*, const QString&) { return pdf; };
        showActive(&d);
        QVERIFY(!d.choice().replaceConfirmed);
        pressKeys(&d, QStringLiteral("Alt+B"));
        QCOMPARE(d.choice().fileName, pdf);
        QVERIFY(d.choice().replaceConfirmed);
        auto* name = d.findChild<QLineEdit*>(QStringLiteral("edFileName"));
        name->setFocus();
        QTest::keyClick(name, Qt::Key_End);
        QTest::keyClicks(name, QStringLiteral("x"));
        QVERIFY(!d.choice().replaceConfirmed);
        pressKeys(&d, QStringLiteral("Alt+V"));
        QVERIFY(!d.choice().replaceConfirmed);
    }

    // The preview marks, in red, the boxes whose text did not fit; the sheet printed has no mark.
    void previewMarksWhatDidNotFit()
    {
        auto templ = std::make_shared<const ReportTemplate>(
            ReportTemplate::parse("page width=108 height=178\nreport name=R connection=rvtbPrintMaster\n"
                                  "text field=name x=10 y=10 width=30 height=4 size=14\n",
                                  QStringLiteral("Names.Rav")));
        ReportRows rows({QStringLiteral("name")});
        rows.appendRow({sj(QString(40, u'漢'))});
        rows.appendRow({sj(QStringLiteral("山田"))});
        const ReportDocument doc(templ, 0, {}, std::move(rows));
        const auto redPixels = [&](int page, bool preview) {
            QImage image(1080, 1780, QImage::Format_RGB32);
            image.setDotsPerMeterX(10000);
            image.setDotsPerMeterY(10000);
            image.fill(Qt::white);
            QPainter p(&image);
            doc.drawPage(p, page, false, preview);
            p.end();
            int red = 0;
            for (int y = 90; y < 160; ++y)
                for (int x = 90; x < 410; ++x) {
                    const QColor c = image.pixelColor(x, y);
                    red += c.red() > 180 && c.green() < 80 && c.blue() < 80;
                }
            return red;
        };
        QVERIFY(redPixels(0, true) > 100);
        QCOMPARE(redPixels(0, false), 0);
        QCOMPARE(redPixels(1, true), 0);
        // The preview window draws its sheets so.
        ReportPreview preview(doc);
        preview.resize(800, 900);
        showActive(&preview);
        const QImage shown = preview.grab().toImage();
        int red = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QColor c = shown.pixelColor(x, y);
                red += c.red() > 180 && c.green() < 80 && c.blue() < 80;
            }
        QVERIFY2(red > 50, qPrintable(QString::number(red)));
        preview.reject();
    }

    // On the road of a run: the options dialog shown for real, answered from the keyboard.
    void runDrivenFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("setup");   // the printer's setup is answered: print to a PDF file
        QTest::addColumn<bool>("browse");  // the file dialog is answered
        QTest::addColumn<int>("pages");    // in the PDF written; 0 none
        QTest::addColumn<bool>("preview"); // the preview was shown
        QTest::newRow("Esc: nothing") << "Escape" << false << false << 0 << false;
        QTest::newRow("Enter: the preview, closed with Esc") << "Return" << false << false << 0 << true;
        QTest::newRow("file chosen with Browse") << "Alt+F, Alt+B, Return" << false << true << 3 << false;
        QTest::newRow("two copies on the printer set up to print to a file")
            << "Alt+P, Alt+C, Ctrl+A, type:2, Alt+S, Return" << true << false << 6 << false;
    }
    void runDrivenFromTheKeyboard()
    {
        QFETCH(QString, keys);
        QFETCH(bool, setup);
        QFETCH(bool, browse);
        QFETCH(int, pages);
        QFETCH(bool, preview);
        DataFixture fx;
        for (const char* name : {"山田太郎", "佐藤花子", "鈴木一郎"}) {
            fx.dm->tbPrintMember.append();
            fx.dm->tbPrintMember.setFieldValue(QStringLiteral("name"), DataFixture::text(QString::fromUtf8(name)));
            fx.dm->tbPrintMember.post();
        }
        QTemporaryDir dir;
        const QString templ = dir.filePath(QStringLiteral("Names.Rav"));
        {
            QFile f(templ);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("page width=108 height=178\nreport name=R connection=rvtbPrintMaster\n"
                    "text field=name x=10 y=10 size=20\n");
        }
        ReportConnection rvtbPrintMaster(QStringLiteral("rvtbPrintMaster"), &fx.dm->tbPrintMember);
        StandardReportOutput output(noSettingsFile());
        ReportProject rvpjInvoice(&output);
        rvpjInvoice.addConnection(rvtbPrintMaster);
        rvpjInvoice.ProjectFile = templ;
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        if (setup)
            halvenna::PrintSetup::seam().answerWith([&](const halvenna::PrintSetup::Request& r) {
                QPrinter& p = *r.printer;
                p.setOutputFormat(QPrinter::PdfFormat);
                p.setOutputFileName(pdf);
                return true;
            });
        if (browse)
            halvenna::FileDialog::seam().answer(pdf);

        bool optionsSeen = false;
        bool previewSeen = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* options = QApplication::activeModalWidget();
            auto close = qScopeGuard([&] {
                if (options && options->isVisible())
                    static_cast<QDialog*>(options)->reject();
            });
            QVERIFY(options);
            QCOMPARE(options->windowTitle(), QStringLiteral("Output Options"));
            optionsSeen = true;
            QVERIFY(QTest::qWaitForWindowActive(options));
            if (preview)
                QTimer::singleShot(0, this, [&] {
                    QWidget* w = QApplication::activeModalWidget();
                    if (w && w->windowTitle() == QStringLiteral("Report Preview")) {
                        previewSeen = true;
                        QVERIFY(QTest::qWaitForWindowActive(w));
                        pressKeys(w, QStringLiteral("PgDown, Escape"));
                    }
                });
            pressKeys(options, keys);
        });
        rvpjInvoice.RunReport();
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY(optionsSeen);
        QCOMPARE(previewSeen, preview);
        // Browse asks for the file through the program's one file-dialog seam, as a save dialog.
        const auto fileDialogs = halvenna::FileDialog::seam().requests();
        QCOMPARE(fileDialogs.size(), browse ? 1 : 0);
        if (browse) {
            QCOMPARE(fileDialogs.first().mode, halvenna::FileDialog::Mode::Save);
            QCOMPARE(fileDialogs.first().caption, QStringLiteral("Save Report As"));
        }
        QCOMPARE(QFile::exists(pdf), pages > 0);
        if (pages > 0)
            QCOMPARE(reporttest::pdfPages(pdf), pages);
        if (pages > 0)
            QVERIFY(reporttest::pdfText(pdf, pages).contains(QStringLiteral("鈴木一郎")));
    }

    // The copies box takes the copies chosen under Setup once it is accepted; Setup opens with the
    // box's copies.
    void setupGivesTheCopiesBox_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("answer"); // copies chosen under Setup; 0: Setup cancelled
        QTest::addColumn<int>("asked");  // the copies Setup opened with
        QTest::addColumn<int>("copies"); // in the box, and the choice, afterwards
        QTest::newRow("accepted") << "Alt+P, Alt+S" << 3 << 1 << 3;
        QTest::newRow("cancelled keeps the box") << "Alt+P, Alt+C, Ctrl+A, type:4, Alt+S" << 0 << 4 << 4;
        QTest::newRow("accepted after typing") << "Alt+P, Alt+C, Ctrl+A, type:4, Alt+S" << 2 << 4 << 2;
        QTest::newRow("typed after Setup") << "Alt+P, Alt+S, Alt+C, Ctrl+A, type:5" << 2 << 1 << 5;
    }
    void setupGivesTheCopiesBox()
    {
        QFETCH(QString, keys);
        QFETCH(int, answer);
        QFETCH(int, asked);
        QFETCH(int, copies);
        OutputOptionsDialog dialog(OutputChoice{}, QStringLiteral("Names"), 3);
        QList<int> opened;
        dialog.printerSetup = [&](QWidget*, int current) -> std::optional<int> {
            opened << current;
            return answer > 0 ? std::optional<int>(answer) : std::nullopt;
        };
        showActive(&dialog);
        pressKeys(&dialog, keys);
        QCOMPARE(opened, QList<int>{asked});
        QCOMPARE(dialog.findChild<QSpinBox*>(QStringLiteral("edCopies"))->value(), copies);
        pressKeys(&dialog, QStringLiteral("Return"));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.choice().copies, copies);
    }

    // "Printer" prints the page range chosen under Setup, as many times as the copies box says (on a
    // printer that makes no copies itself, each copy is drawn).
    void printerTakesSetupsPagesAndCopies_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("copies");
        QTest::addColumn<QList<int>>("members"); // page by page
        QTest::newRow("pages 2-2, 2 copies") << 2 << 2 << 2 << QList<int>{2, 2};
        QTest::newRow("pages 1-2, 1 copy") << 1 << 2 << 1 << QList<int>{1, 2};
        QTest::newRow("all pages, 2 copies") << 0 << 0 << 2 << QList<int>{1, 2, 3, 1, 2, 3};
        QTest::newRow("pages 3-9 end at the last") << 3 << 9 << 1 << QList<int>{3};
    }
    void printerTakesSetupsPagesAndCopies()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, copies);
        QFETCH(QList<int>, members);
        const ReportDocument doc = nameDocument(3);
        StandardReportOutput output(noSettingsFile());
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("printed.pdf"));
        answerPdfSetup(pdf, from, to, copies);
        QVERIFY(outputThroughOptions(output, doc, QStringLiteral("Alt+P, Alt+S, Return")));
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(PrintSetup::seam().requests().size(), 1);
        QCOMPARE(PrintSetup::seam().requests().first().pageCount, 3);
        QCOMPARE(membersByPage(pdf), members);
    }

    // A page range chosen under one output's Setup does not leave sheets out of the next output,
    // on the same printer, whose Setup was not opened.
    void aPageRangeCountsForItsOwnOutputOnly()
    {
        const ReportDocument doc = nameDocument(3);
        StandardReportOutput output(noSettingsFile());
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("printed.pdf"));
        answerPdfSetup(pdf, 2, 2, 1);
        QVERIFY(outputThroughOptions(output, doc, QStringLiteral("Alt+P, Alt+S, Return")));
        QCOMPARE(membersByPage(pdf), QList<int>{2});
        QVERIFY(QFile::remove(pdf));
        QVERIFY(outputThroughOptions(output, doc, QStringLiteral("Alt+P, Return")));
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(membersByPage(pdf), (QList<int>{1, 2, 3}));
    }

    void printingFromThePreview()
    {
        const ReportDocument doc = nameDocument(4);
        StandardReportOutput output(noSettingsFile());
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("printed.pdf"));
        halvenna::PrintSetup::seam().answerWith([&](const halvenna::PrintSetup::Request& r) {
            QPrinter& p = *r.printer;
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(pdf);
            p.setPrintRange(QPrinter::PageRange);
            p.setFromTo(2, 3);
            return true;
        });
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Preview, 1, {}});
        QTimer::singleShot(0, this, [&] {
            QWidget* w = QApplication::activeModalWidget();
            auto close = qScopeGuard([&] {
                if (w && w->isVisible())
                    static_cast<QDialog*>(w)->reject();
            });
            QVERIFY(w && w->windowTitle() == QStringLiteral("Report Preview"));
            QVERIFY(QTest::qWaitForWindowActive(w));
            pressKeys(w, QStringLiteral("Alt+P"));
            QTRY_VERIFY(QFile::exists(pdf));
        });
        output.output(doc);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(reporttest::pdfPages(pdf), 2);
        QVERIFY(reporttest::pdfText(pdf, 1).contains(QStringLiteral("会員2")));
        QVERIFY(reporttest::pdfText(pdf, 2).contains(QStringLiteral("会員3")));
    }
};

QTEST_MAIN(TestReportDialogs)
#include "tst_reportdialogs.moc"

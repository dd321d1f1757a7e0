// The print window's forms on a real print system: a private cupsd with PDF queues (cups-pdf),
// which the program reaches as Qt reaches any CUPS server; each job's PDF is read back with
// poppler's tools. Output Options is answered "Printer", the printer is the server's default or the
// one chosen under Setup.
#include "app/Program.h"
#include "app/Startup.h"
#include "common/DataFixture.h"
#include "common/ErrorBoxes.h"
#include "common/GuiFixture.h"
#include "common/PrintRoster.h"
#include "common/PrivateCups.h"
#include "common/Seams.h"
#include "gui/MessageBox.h"
#include "gui/PrintSetup.h"
#include "printing/Invoice.h"
#include "printing/PrintPosition.h"
#include "report/ReportTestSupport.h"
#include "report/dialogs/OutputOptionsDialog.h"
#include "report/dialogs/StandardReportOutput.h"
#include "settings/FormFitting.h"
#include "settings/SenderSettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QKeySequence>
#include <QLineF>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <tuple>

using halvenna::FieldValue;
using halvenna::MessageBox;
using halvenna::OutputChoice;
using halvenna::PrintSetup;
using halvenna::StandardReportOutput;
using halvenna::Table;

namespace {

const QString pdfQueue = QStringLiteral("halvenna-pdf");     // any sheet size, the default destination
const QString fixedQueue = QStringLiteral("halvenna-fixed"); // only its named sizes
const QString queueCalledPdf = QStringLiteral("PDF");        // as Debian's cups-pdf names its queue

// The setup a user makes in the print dialog: the printer, a page range (0: all pages), the copies.
struct Setup
{
    QString printer;
    int from = 0;
    int to = 0;
    int copies = 1;
};

void answerSetup(const Setup& s, int* copiesShown = nullptr)
{
    PrintSetup::seam().answerWith([s, copiesShown](const PrintSetup::Request& r) {
        QPrinter& p = *r.printer;
        if (copiesShown)
            *copiesShown = p.copyCount();
        p.setPrinterName(s.printer);
        if (s.from > 0) {
            p.setPrintRange(QPrinter::PageRange);
            p.setFromTo(s.from, s.to);
        } else {
            p.setPrintRange(QPrinter::AllPages);
        }
        p.setCopyCount(s.copies);
        p.setCollateCopies(true);
        return true;
    });
}

// The names on each page of a PDF, in the order of `names`' first appearance on it.
QStringList namesByPage(const QString& pdf, const QStringList& names)
{
    QStringList found;
    const int pages = reporttest::pdfPages(pdf);
    for (int page = 1; page <= pages; ++page) {
        const QString text = reporttest::pdfText(pdf, page);
        QString name = QStringLiteral("?");
        for (const QString& n : names)
            if (text.contains(n))
                name = n;
        found << name;
    }
    return found;
}

QSizeF pageSizeMm(const QString& pdf)
{
    const QSizeF pt = reporttest::pdfPageSizePt(pdf);
    return {pt.width() * 25.4 / 72, pt.height() * 25.4 / 72};
}

struct Word
{
    QString text;
    QRectF box; // in points from the page's top-left corner
};

// The words of one page (from 1) with their boxes, as `pdftotext -bbox` finds them; the page's
// height in *height.
QList<Word> words(const QString& pdf, int page, qreal* height)
{
    const QString html = QString::fromUtf8(reporttest::poppler(
        QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-f"), QString::number(page),
                                      QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")}));
    const QRegularExpression pageTag(QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\""));
    *height = pageTag.match(html).captured(2).toDouble();
    const QRegularExpression wordTag(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
    QList<Word> found;
    for (auto it = wordTag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        found.append({m.captured(5), QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                            QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))});
    }
    return found;
}

// Where each word of the printed page stands against the same page written to a file (moved by
// shiftMm, as the user fitted the form to the printer): the words
// of `printed` that the file does not have within 1 mm of the same place (turned a quarter to the
// left where the printer got the sheet turned), and how many words matched. A word the file has
// whole must stand where it does; a piece of one (the filters may split a word) inside its box.
// Glyphs the filters made into Type 3 fonts without their text (pdftocairo does so with some of
// a turned sheet's) come back as codes in empty boxes and are passed over.
QStringList misplacedWords(const QString& printed, const QString& file, int page, bool turned, int* matched,
                           QPointF shiftMm = {})
{
    qreal printedHeight = 0;
    qreal fileHeight = 0;
    const QList<Word> got = words(printed, page, &printedHeight);
    const QList<Word> want = words(file, page, &fileHeight);
    const qreal mm = 72 / 25.4;
    const auto onPrinted = [&](QRectF r) {
        r.translate(shiftMm * mm); // the user's fitting of the form to this printer
        return turned
                   ? QRectF(QPointF(r.top(), printedHeight - r.right()), QPointF(r.bottom(), printedHeight - r.left()))
                   : r;
    };
    QStringList misplaced;
    *matched = 0;
    for (const Word& w : got) {
        if (w.box.width() < 0.1 || w.box.height() < 0.1)
            continue;
        bool found = false;
        for (const Word& f : want) {
            const QRectF there = onPrinted(f.box);
            if (f.text == w.text)
                found = found || QLineF(there.center(), w.box.center()).length() <= mm;
            else if (f.text.contains(w.text))
                found = found || there.adjusted(-mm, -mm, mm, mm).contains(w.box);
        }
        if (found)
            ++*matched;
        else
            misplaced << QStringLiteral("'%1' at (%2, %3) mm")
                             .arg(w.text)
                             .arg(w.box.center().x() / mm, 0, 'f', 1)
                             .arg(w.box.center().y() / mm, 0, 'f', 1);
    }
    return misplaced;
}

} // namespace

class TestCupsPrinting : public QObject
{
    Q_OBJECT
public:
    explicit TestCupsPrinting(PrivateCups& cups) : cups_(cups) {}

private:
    PrivateCups& cups_;
    std::unique_ptr<DataFixture> f_;
    // What the windows are given: the program's folder, the sender settings, the remembered dates.
    halvenna::Program program_;
    UnansweredBoxes unanswered_;
    const QStringList members_ = printroster::memberNames();

    QPushButton* button(const QString& name) { return InvoiceForm->findChild<QPushButton*>(name); }

    // Clicks a print button and answers Output Options in the real dialog with `keys` once it shows;
    // what the copies box shows right after Setup in *copiesAfterSetup. The dialog is looked for
    // until it is up, since the print job runs events of its own before it opens it.
    void clickThroughOutputOptions(const QString& buttonName, const QString& keys, int* copiesAfterSetup)
    {
        const qsizetype setup = keys.indexOf(QStringLiteral("Alt+S"));
        QVERIFY(setup >= 0);
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
            pressKeys(options, keys.left(setup + 5));
            *copiesAfterSetup = options->findChild<QSpinBox*>(QStringLiteral("edCopies"))->value();
            pressKeys(options, keys.mid(setup + 5));
        });
        poll.start();
        QTest::mouseClick(button(buttonName), Qt::LeftButton);
        poll.stop();
        QVERIFY2(shown, "Output Options did not show");
        QVERIFY(!QTest::currentTestFailed());
    }

    void noErrorBox()
    {
        const auto boxes = MessageBox::seam().requests();
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.isEmpty() ? QString() : boxes.first().text));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(cups_.start(), qPrintable(QStringLiteral("cannot start the private cupsd: ") + cups_.error()));
        QVERIFY2(cups_.addPdfQueue(pdfQueue, {.customSizes = true, .makeDefault = true}),
                 qPrintable(QStringLiteral("cannot add the PDF queue: ") + cups_.error()));
        QVERIFY2(cups_.addPdfQueue(fixedQueue, {.customSizes = false, .makeDefault = false}),
                 qPrintable(QStringLiteral("cannot add the PDF queue without custom sizes: ") + cups_.error()));
        QVERIFY2(cups_.addPdfQueue(queueCalledPdf, {.customSizes = true, .makeDefault = false}),
                 qPrintable(QStringLiteral("cannot add the queue called PDF: ") + cups_.error()));

        halvenna::installJapaneseFont();
        f_ = std::make_unique<DataFixture>();
        QVERIFY(printroster::setUp(*f_, program_, QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates")));
        InvoiceForm = new TInvoiceForm(f_->dm.get(), program_.senderSettings, program_.appDir, program_.fixedDates);
        InvoiceForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(InvoiceForm));
    }

    void cleanupTestCase()
    {
        delete InvoiceForm;
        InvoiceForm = nullptr;
        f_.reset();
        cups_.stop();
    }

    void init()
    {
        seams::begin();
        f_->dm->tbMemberMaster.first();
        unanswered_.begin();
    }
    void cleanup()
    {
        seams::end();
        unanswered_.end();
    }

    // Both forms, every marked member, to the server's default destination: one job named after the
    // form, one page per sheet, each on the form's sheet as the printer is fed it, every word where
    // the same run written to a file has it. The payment slip is a landscape form: the printer gets
    // its sheet upright, 114 mm wide, and the slip turned onto it.
    void bothFormsPrintOnTheDefaultPrinter_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("names"); // page by page
        QTest::addColumn<QSizeF>("sheetMm");    // as fed
        QTest::addColumn<bool>("turned");
        QTest::newRow("bulk waybills") << "btnInvoiceAllPrn"
                                       << "Invoice" << QStringList{"山田太郎", "山田太郎", "鈴木花子", "田中一郎"}
                                       << QSizeF(108, 178) << false;
        QTest::newRow("bulk payment slips")
            << "btnAccountAllPrn"
            << "Account" << QStringList{"山田太郎", "鈴木花子", "田中一郎"} << QSizeF(114, 180) << true;
    }
    void bothFormsPrintOnTheDefaultPrinter()
    {
        QFETCH(QString, button);
        QFETCH(QString, title);
        QFETCH(QStringList, names);
        QFETCH(QSizeF, sheetMm);
        QFETCH(bool, turned);
        const QString file = f_->dir.filePath(title + QStringLiteral("-file.pdf"));
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, file});
        QTest::mouseClick(this->button(button), Qt::LeftButton);
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Printer, 1, {}});
        QTest::mouseClick(this->button(button), Qt::LeftButton);
        noErrorBox();
        QCOMPARE(InvoiceForm->reportOutput->printer().printerName(), pdfQueue);

        const QStringList pdfs = cups_.waitForPdfs(pdfQueue, 1);
        QVERIFY2(pdfs.size() == 1, qPrintable(cups_.error()));
        const QString printed = pdfs.first();
        QVERIFY2(QFileInfo(printed).fileName().endsWith(u'-' + title + QStringLiteral(".pdf")), qPrintable(printed));
        QCOMPARE(namesByPage(printed, members_), names);
        QCOMPARE(namesByPage(file, members_), names);
        const QSizeF size = pageSizeMm(printed);
        QVERIFY2(qAbs(size.width() - sheetMm.width()) < 1 && qAbs(size.height() - sheetMm.height()) < 1,
                 qPrintable(QStringLiteral("%1 x %2 mm").arg(size.width()).arg(size.height())));
        for (int page = 1; page <= names.size(); ++page) {
            int matched = 0;
            const QStringList misplaced = misplacedWords(printed, file, page, turned, &matched);
            QVERIFY2(misplaced.isEmpty(), qPrintable(QStringLiteral("page %1: ").arg(page) + misplaced.join(u"; ")));
            QVERIFY2(matched >= 5, qPrintable(QStringLiteral("page %1: %2 words read back").arg(page).arg(matched)));
        }
    }

    // The forms at their worst, every field full to its width with double-byte characters, come out
    // of the print system where the same run written to a file has them: the file's boxes are
    // checked one by one in tst_formsfit. Only this member is marked for the run.
    void worstCaseComesOutAsInTheFile_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("turned");
        QTest::newRow("waybill") << "btnInvoiceAllPrn"
                                 << "Invoice" << false;
        QTest::newRow("payment slip") << "btnAccountAllPrn"
                                      << "Account" << true;
    }
    void worstCaseComesOutAsInTheFile()
    {
        QFETCH(QString, button);
        QFETCH(QString, title);
        QFETCH(bool, turned);
        Table& m = f_->dm->tbMemberMaster;
        const auto setMarks = [&](bool others) {
            for (m.first(); !m.eof(); m.next()) {
                m.edit();
                m.setFieldValue(QStringLiteral("print"),
                                FieldValue::logical(others || m.fieldValue(QStringLiteral("id_no")).asInteger() == 99));
                m.post();
            }
            m.first();
        };
        const QString worstName = QString(20, u'漢');
        m.append();
        m.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(99));
        m.setFieldValue(QStringLiteral("name"), FieldValue::fromString(worstName));
        for (const char* f : {"address1", "address2"})
            m.setFieldValue(QLatin1String(f), FieldValue::fromString(QString(40, u'住')));
        m.setFieldValue(QStringLiteral("zip"), FieldValue::text("123-4567"));
        m.setFieldValue(QStringLiteral("tel"), FieldValue::text("03123456789012345678"));
        m.post();
        Table& a = f_->dm->tbAccount;
        a.edit();
        a.setFieldValue(QStringLiteral("amount"), FieldValue::integer(2147483647));
        a.post();
        setMarks(false);
        const auto restore = qScopeGuard([&] {
            if (m.locate(QStringLiteral("id_no"), FieldValue::integer(99)))
                m.deleteRecord();
            setMarks(true);
        });

        const QString file = f_->dir.filePath(title + QStringLiteral("-worst.pdf"));
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, file});
        QTest::mouseClick(this->button(button), Qt::LeftButton);
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Printer, 1, {}});
        QTest::mouseClick(this->button(button), Qt::LeftButton);
        noErrorBox();
        const QStringList pdfs = cups_.waitForPdfs(pdfQueue, 1);
        QVERIFY2(pdfs.size() == 1, qPrintable(cups_.error()));
        QCOMPARE(reporttest::pdfPages(pdfs.first()), 1);
        QVERIFY(reporttest::pdfText(file, 1).contains(worstName.left(5)));
        int matched = 0;
        const QStringList misplaced = misplacedWords(pdfs.first(), file, 1, turned, &matched);
        QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced.join(u"; ")));
        QVERIFY2(matched >= 5, qPrintable(QStringLiteral("%1 words read back").arg(matched)));
    }

    // The offsets fitted for a form on this printer move every item of the printed sheets by exactly
    // that much against the same run written to a file (whose own pair is zero); the other form
    // prints where its template says.
    void offsetsMoveThePrintOnThisPrinter()
    {
        const QString ini = halvenna::settingsFilePath(program_.appDir);
        QFile::remove(ini);
        halvenna::FormFitting::saveOffset(ini, QStringLiteral("Invoice"), pdfQueue, {3.0, 2.0});
        const auto removeSettings = qScopeGuard([&] { QFile::remove(ini); });
        for (const auto& [button, title, shift] : {std::tuple{"btnInvoiceAllPrn", "Invoice", QPointF(3.0, 2.0)},
                                                   std::tuple{"btnAccountAllPrn", "Account", QPointF(0, 0)}}) {
            const QString file = f_->dir.filePath(QLatin1String(title) + QStringLiteral("-fit.pdf"));
            StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, file});
            QTest::mouseClick(this->button(QLatin1String(button)), Qt::LeftButton);
            StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Printer, 1, {}});
            QTest::mouseClick(this->button(QLatin1String(button)), Qt::LeftButton);
            noErrorBox();
            const QStringList pdfs = cups_.waitForPdfs(pdfQueue, 1);
            QVERIFY2(pdfs.size() == 1, qPrintable(cups_.error()));
            const bool turned = QLatin1String(title) == u"Account";
            int matched = 0;
            const QStringList misplaced = misplacedWords(pdfs.first(), file, 1, turned, &matched, shift);
            QVERIFY2(misplaced.isEmpty(),
                     qPrintable(QLatin1String(title) + QStringLiteral(": ") + misplaced.join(u"; ")));
            QVERIFY2(matched >= 5, qPrintable(QStringLiteral("%1 words read back").arg(matched)));
            if (!shift.isNull()) {
                // Not where the unmoved file has them.
                const QStringList unmoved = misplacedWords(pdfs.first(), file, 1, turned, &matched);
                QVERIFY(unmoved.size() >= 5);
            }
        }
    }

    // 印字位置調整 on a queue called "PDF": the queue's own pair is shown (not the PDF file's), and
    // テスト印刷 goes to that queue, not to a file.
    void testSheetOnAQueueCalledPdfGoesToThatQueue()
    {
        const QString ini = halvenna::settingsFilePath(program_.appDir);
        QFile::remove(ini);
        const auto removeSettings = qScopeGuard([&] { QFile::remove(ini); });
        halvenna::FormFitting::saveOffset(ini, QStringLiteral("Account"), halvenna::FormFitting::pdfPrinter(),
                                          {5.0, 5.0});
        halvenna::FormFitting::saveOffset(ini, QStringLiteral("Account"), queueCalledPdf, {1.0, -1.0});
        TPrintPositionForm d(InvoiceForm->reportOutput.get(), program_.appDir, InvoiceForm);
        d.cmbForm->setCurrentIndex(d.cmbForm->findData(QStringLiteral("Account")));
        const int queue = d.cmbPrinter->findData(queueCalledPdf);
        QVERIFY(queue >= 0);
        QVERIFY(queue != d.cmbPrinter->findData(halvenna::FormFitting::pdfPrinter()));
        d.cmbPrinter->setCurrentIndex(queue);
        QCOMPARE(d.shownOffset(), (halvenna::PrintOffset{1.0, -1.0}));
        std::optional<OutputChoice::Destination> offered;
        StandardReportOutput::optionsSeam().answerWith([&](const StandardReportOutput::OptionsRequest& r) {
            offered = r.offered.destination;
            return std::optional<OutputChoice>(r.offered);
        });
        d.btnTestSheetClick();
        QCOMPARE(offered, std::optional<OutputChoice::Destination>(OutputChoice::Destination::Printer));
        noErrorBox();
        const QStringList pdfs = cups_.waitForPdfs(queueCalledPdf, 1);
        QVERIFY2(pdfs.size() == 1, qPrintable(cups_.error()));
        QCOMPARE(reporttest::pdfPages(pdfs.first()), 1);
    }

    // The page range and the copies chosen under Setup are what the printer gets, and the copies
    // box shows Setup's copies; copies typed into the box afterwards win.
    void setupChoosesThePagesAndTheCopies_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("from"); // Setup's page range, 0: all
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("copies"); // chosen under Setup
        QTest::addColumn<int>("boxAfterSetup");
        QTest::addColumn<QStringList>("names"); // page by page
        const QString y = QStringLiteral("山田太郎"), s = QStringLiteral("鈴木花子"), t = QStringLiteral("田中一郎");
        QTest::newRow("pages 2-2, 2 copies") << "Alt+P, Alt+S, Return" << 2 << 2 << 2 << 2 << QStringList{s, s};
        QTest::newRow("pages 2-3, 1 copy") << "Alt+P, Alt+S, Return" << 2 << 3 << 1 << 1 << QStringList{s, t};
        QTest::newRow("all pages, 2 copies collated")
            << "Alt+P, Alt+S, Return" << 0 << 0 << 2 << 2 << QStringList{y, s, t, y, s, t};
        QTest::newRow("pages 1-2, 3 copies, then 1 typed")
            << "Alt+P, Alt+S, Alt+C, Ctrl+A, type:1, Return" << 1 << 2 << 3 << 3 << QStringList{y, s};
    }
    void setupChoosesThePagesAndTheCopies()
    {
        QFETCH(QString, keys);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, copies);
        QFETCH(int, boxAfterSetup);
        QFETCH(QStringList, names);
        int copiesShown = 0;
        answerSetup({pdfQueue, from, to, copies}, &copiesShown);
        int box = 0;
        clickThroughOutputOptions(QStringLiteral("btnAccountAllPrn"), keys, &box);
        noErrorBox();
        QCOMPARE(copiesShown, 1); // Setup opens with the box's copies
        QCOMPARE(box, boxAfterSetup);
        const auto asked = PrintSetup::seam().requests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().pageCount, 3); // a range of the run's sheets may be chosen

        const QStringList pdfs = cups_.waitForPdfs(pdfQueue, 1);
        QVERIFY2(pdfs.size() == 1, qPrintable(cups_.error()));
        QCOMPARE(namesByPage(pdfs.first(), members_), names);
    }

    // A printer whose driver has no sheet of the form's size is refused in the standard box, naming
    // the printer and the size, and gets no job; so too after the same form printed on a printer
    // that has the sheet, whose setting the printer object still holds when the other is chosen.
    void aRefusedSheetSizeIsAnErrorAndSendsNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("size");
        QTest::newRow("waybill") << "btnPrnCurrent"
                                 << "108 × 178 mm";
        QTest::newRow("payment slip, fed landscape") << "btnAccountPrn"
                                                     << "180 × 114 mm";
    }
    void aRefusedSheetSizeIsAnErrorAndSendsNothing()
    {
        QFETCH(QString, button);
        QFETCH(QString, size);
        int box = 0;
        answerSetup({pdfQueue});
        clickThroughOutputOptions(button, QStringLiteral("Alt+P, Alt+S, Return"), &box);
        noErrorBox();
        const QStringList pdfs = cups_.waitForPdfs(pdfQueue, 1);
        QVERIFY2(pdfs.size() == 1, qPrintable(cups_.error()));
        QCOMPARE(reporttest::pdfPages(pdfs.first()), 1);

        answerSetup({fixedQueue});
        MessageBox::seam().answer(QMessageBox::Ok);
        clickThroughOutputOptions(button, QStringLiteral("Alt+P, Alt+S, Return"), &box);
        errorboxes::expectOne(MessageBox::seam().requests(),
                              QStringLiteral("プリンタ %1 は %2 の用紙に印刷できません.").arg(fixedQueue, size));
        QCOMPARE(cups_.jobIds(fixedQueue), QList<int>());
        QVERIFY(!InvoiceForm->rvpjInvoice->isOpen());
    }
};

int main(int argc, char** argv)
{
    // The server is reached through CUPS_SERVER, which libcups reads once: set before anything of
    // Qt's starts; the server itself starts in initTestCase, where a failure is reported.
    PrivateCups cups;
    cups.exportServer();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestCupsPrinting test(cups);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cupsprinting.moc"

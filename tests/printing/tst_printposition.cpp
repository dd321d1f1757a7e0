// Fitting the forms to a printer: "印字位置調整" in the print window's ファイル menu, offsets per form and
// printer stored in the settings file, every item of a printed sheet moved by exactly that much,
// and the test sheet with its ruler and crosshairs.
#include "app/Program.h"
#include "common/DataFixture.h"
#include "common/GuiFixture.h"
#include "common/PrintRoster.h"
#include "common/Seams.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "printing/Invoice.h"
#include "printing/PrintPosition.h"
#include "report/BackgroundImage.h"
#include "report/ReportTestSupport.h"
#include "report/dialogs/BackgroundPointsDialog.h"
#include "report/dialogs/ReportPreview.h"
#include "report/dialogs/StandardReportOutput.h"
#include "settings/FormFitting.h"
#include "settings/SenderSettings.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

using halvenna::BackgroundPointsDialog;
using halvenna::FormFitting;
using halvenna::MessageBox;
using halvenna::OutputChoice;
using halvenna::PrintOffset;
using halvenna::StandardReportOutput;

namespace {

constexpr double kMmPerPt = 25.4 / 72;

struct Word
{
    QString text;
    QPointF centreMm;
};

// The words of a PDF's first page and where their middles stand, mm from the sheet's top-left.
QList<Word> words(const QString& pdf)
{
    const QString html = QString::fromUtf8(
        reporttest::poppler(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-l"),
                                                          QStringLiteral("1"), pdf, QStringLiteral("-")}));
    static const QRegularExpression word(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
    QList<Word> found;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QPointF a(m.captured(1).toDouble(), m.captured(2).toDouble());
        const QPointF b(m.captured(3).toDouble(), m.captured(4).toDouble());
        found.append({m.captured(5), (a + b) / 2 * kMmPerPt});
    }
    return found;
}

// Dark pixels along a short line of the page image (254 dpi: 10 pixels a millimetre).
int darkAlong(const QImage& image, QPointF fromMm, QPointF toMm)
{
    int dark = 0;
    const int steps = 40;
    for (int i = 0; i <= steps; ++i) {
        const QPointF p = (fromMm + (toMm - fromMm) * (double(i) / steps)) * 10;
        // A hairline is a pixel wide and softened: the darkest pixel next to the point counts.
        int darkest = 255;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const QPoint px(qRound(p.x()) + dx, qRound(p.y()) + dy);
                if (image.rect().contains(px))
                    darkest = qMin(darkest, qGray(image.pixel(px)));
            }
        if (darkest < 180)
            ++dark;
    }
    return dark;
}

} // namespace

class TestPrintPosition : public QObject
{
    Q_OBJECT

private:
    // What the windows are given: the program's folder, the sender settings, the remembered dates.
    halvenna::Program program_;
    std::unique_ptr<DataFixture> f_;
    QString ini() const { return halvenna::settingsFilePath(program_.appDir); }

    // Prints a form's marked members to a PDF through the print window's button.
    QString printToPdf(const char* button, const QString& name)
    {
        const QString pdf = f_->dir.filePath(name);
        QFile::remove(pdf);
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::File, 1, pdf});
        QTest::mouseClick(InvoiceForm->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
        return pdf;
    }

    TPrintPositionForm* openDialog()
    {
        auto* dialog = new TPrintPositionForm(InvoiceForm->reportOutput.get(), program_.appDir, InvoiceForm);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        if (!makeActive(dialog))
            QTest::qFail("the dialog did not come up", __FILE__, __LINE__);
        return dialog;
    }

    static void choose(QComboBox* combo, const QString& data)
    {
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        for (int guard = 0; combo->currentData().toString() != data && guard < 50; ++guard)
            QTest::keyClick(combo, Qt::Key_Down);
    }

    static void retype(QDoubleSpinBox* box, const QString& text)
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, text);
    }

private Q_SLOTS:
    void initTestCase()
    {
        reporttest::useFormFont();
        halvenna::installAccessibleNames();
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
    }

    void init()
    {
        seams::begin();
        QFile::remove(ini());
    }

    void cleanup() { seams::end(); }

    // The menu item stands after the printer's setup; the dialog is keyboard-complete.
    void menuAndDialog()
    {
        const QList<QAction*> file = InvoiceForm->N1->menu()->actions();
        QCOMPARE(file.indexOf(InvoiceForm->mnuPrintPosition), file.indexOf(InvoiceForm->N2) + 1);
        QCOMPARE(InvoiceForm->mnuPrintPosition->text(), QStringLiteral("印字位置調整..."));
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            auto* d = qobject_cast<TPrintPositionForm*>(QApplication::activeModalWidget());
            if (!d)
                return;
            const auto close = qScopeGuard([d] { d->reject(); });
            shown = makeActive(d);
            QTRY_COMPARE(QApplication::focusWidget(), d->cmbForm);
            QCOMPARE(d->windowTitle(), QStringLiteral("印字位置調整"));
            for (QLabel* l : {d->lblForm, d->lblPrinter, d->lblX, d->lblY})
                QVERIFY2(l->buddy(), qPrintable(l->text()));
            QVERIFY2(unnamedInputs(d).isEmpty(), qPrintable(unnamedInputs(d).join(u", ")));
            QStringList order;
            for (int i = 0; i < 8; ++i) {
                order << QApplication::focusWidget()->objectName();
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
            // The background's resolution and place wait until there is a background.
            QCOMPARE(order, (QStringList{"cmbForm", "cmbPrinter", "edX", "edY", "edBackground", "btnBackground",
                                         "btnTestSheet", "btnOk"}));
            QCOMPARE(d->cmbPrinter->itemText(d->cmbPrinter->count() - 1), QStringLiteral("PDF ファイル"));
            QTest::keyClick(d, Qt::Key_Escape);
            QVERIFY(!d->isVisible());
        });
        InvoiceForm->mnuPrintPosition->trigger();
        QVERIFY(shown);
        QVERIFY(!QFile::exists(ini()));
    }

    // Values typed for a form and a printer are stored for that pair only, and are there on the
    // next opening; Esc stores nothing; out of range or no number is refused as it is typed.
    void typedOffsetsAreStoredPerFormAndPrinter()
    {
        TPrintPositionForm* d = openDialog();
        choose(d->cmbForm, QStringLiteral("Account"));
        choose(d->cmbPrinter, FormFitting::pdfPrinter());
        retype(d->edX, QStringLiteral("-1.5"));
        retype(d->edY, QStringLiteral("2.3"));
        choose(d->cmbForm, QStringLiteral("Invoice"));
        QCOMPARE(d->shownOffset(), PrintOffset{});
        retype(d->edX, QStringLiteral("25"));
        QVERIFY(d->edX->value() <= FormFitting::kLimit);
        retype(d->edY, QStringLiteral("abc"));
        QCOMPARE(d->edY->value(), 0.0);
        retype(d->edX, QStringLiteral("0.7"));
        QTest::keyClick(d->edX, Qt::Key_Return);
        QTRY_VERIFY(!d->isVisible());
        FormFitting stored = FormFitting::load(ini());
        QCOMPARE(stored.offset(QStringLiteral("Account"), FormFitting::pdfPrinter()), (PrintOffset{-1.5, 2.3}));
        QCOMPARE(stored.offset(QStringLiteral("Invoice"), FormFitting::pdfPrinter()), (PrintOffset{0.7, 0}));

        d = openDialog();
        choose(d->cmbForm, QStringLiteral("Account"));
        choose(d->cmbPrinter, FormFitting::pdfPrinter());
        QCOMPARE(d->shownOffset(), (PrintOffset{-1.5, 2.3}));
        retype(d->edX, QStringLiteral("9"));
        const QByteArray before = [&] {
            QFile file(ini());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        QTest::keyClick(d->edX, Qt::Key_Escape);
        QTRY_VERIFY(!d->isVisible());
        QFile file(ini());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    // Every item of every sheet sits exactly the offset away from its place, for the form whose pair
    // is set; the other form is not moved.
    void offsetsMoveEveryItemOfThatFormOnly()
    {
        const QString waybill0 = printToPdf("btnInvoiceAllPrn", QStringLiteral("waybill0.pdf"));
        const QString slip0 = printToPdf("btnAccountAllPrn", QStringLiteral("slip0.pdf"));
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), FormFitting::pdfPrinter(), {1.5, -2.0});
        FormFitting::saveOffset(ini(), QStringLiteral("Invoice"), QStringLiteral("some-printer"), {9, 9});
        const QString waybill1 = printToPdf("btnInvoiceAllPrn", QStringLiteral("waybill1.pdf"));
        const QString slip1 = printToPdf("btnAccountAllPrn", QStringLiteral("slip1.pdf"));

        const auto compare = [](const QString& before, const QString& after, QPointF shift) {
            const QList<Word> a = words(before);
            const QList<Word> b = words(after);
            QCOMPARE(a.size(), b.size());
            QVERIFY(a.size() > 10);
            for (int i = 0; i < a.size(); ++i) {
                QCOMPARE(b.at(i).text, a.at(i).text);
                const QPointF moved = b.at(i).centreMm - a.at(i).centreMm;
                QVERIFY2(
                    qAbs(moved.x() - shift.x()) < 0.05 && qAbs(moved.y() - shift.y()) < 0.05,
                    qPrintable(QStringLiteral("'%1' moved %2, %3 mm").arg(a.at(i).text).arg(moved.x()).arg(moved.y())));
            }
        };
        compare(waybill0, waybill1, {1.5, -2.0});
        compare(slip0, slip1, {0, 0});
    }

    // A field moved by keys in the preview's 配置調整 and saved is read from the template by the next
    // run: the member's name prints 2 mm right and 1 mm lower, every other text where it was.
    void aFieldMovedInThePreviewPrintsThereNextTime()
    {
        const QString shipped = QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates/Invoice.Rav");
        const auto putBack = qScopeGuard([&] {
            QFile::remove(program_.appDir + QStringLiteral("Invoice.Rav"));
            QFile::copy(shipped, program_.appDir + QStringLiteral("Invoice.Rav"));
        });
        const QString before = printToPdf("btnInvoiceAllPrn", QStringLiteral("layout0.pdf"));
        bool laidOut = false;
        QTimer::singleShot(0, this, [&] {
            auto* preview = qobject_cast<halvenna::ReportPreview*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            const auto close = qScopeGuard([preview] { preview->done(QDialog::Rejected); });
            QVERIFY(makeActive(preview));
            pressKeys(preview, QStringLiteral("Ctrl+L, Alt+I"));
            auto* items = preview->findChild<QComboBox*>(QStringLiteral("cmbItem"));
            for (int guard = 0; items->currentText() != QStringLiteral("name") && guard < 100; ++guard)
                QTest::keyClick(items, Qt::Key_Down);
            pressKeys(preview, QStringLiteral("Tab, Shift+Right, Shift+Right, Shift+Down, Alt+S, Escape"));
            QTRY_VERIFY(!preview->isVisible());
            laidOut = true;
        });
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Preview, 1, QString()});
        QTest::mouseClick(InvoiceForm->findChild<QPushButton*>(QStringLiteral("btnInvoiceAllPrn")), Qt::LeftButton);
        QVERIFY(laidOut);
        QVERIFY(halvenna::MessageBox::seam().requests().isEmpty());

        const QString after = printToPdf("btnInvoiceAllPrn", QStringLiteral("layout1.pdf"));
        const QList<Word> a = words(before);
        const QList<Word> b = words(after);
        QCOMPARE(b.size(), a.size());
        // The words by text, in their order on the sheet: moving one changes where it is read.
        QHash<QString, QList<QPointF>> at;
        for (const Word& w : b)
            at[w.text].append(w.centreMm);
        int names = 0;
        for (const Word& w : a) {
            const bool name = printroster::memberNames().contains(w.text);
            names += name ? 1 : 0;
            QVERIFY2(!at.value(w.text).isEmpty(), qPrintable(w.text));
            const QPointF want = name ? QPointF(2, 1) : QPointF();
            const QPointF moved = at[w.text].takeFirst() - w.centreMm;
            QVERIFY2((moved - want).manhattanLength() < 0.05,
                     qPrintable(QStringLiteral("'%1' moved %2, %3 mm").arg(w.text).arg(moved.x()).arg(moved.y())));
        }
        QCOMPARE(names, 1);
    }

    // A scan chosen in the dialog (300 dpi, its corner 5 mm right and 3 mm down) lies under the
    // preview at true scale: its two marks land where they belong on the sheet, paper between them
    // stays white. It is in no output: the PDF of the same run holds no image.
    void backgroundLiesUnderThePreviewOnly()
    {
        QImage scan(1200, 900, QImage::Format_RGB32);
        scan.fill(Qt::white);
        scan.setDotsPerMeterX(11811);
        scan.setDotsPerMeterY(11811);
        const QList<QPoint> marks{{118, 118}, {1100, 800}}; // 30 px squares, top-left corners
        {
            QPainter p(&scan);
            for (const QPoint& m : marks)
                p.fillRect(QRect(m, QSize(30, 30)), Qt::black);
        }
        const QString path = f_->dir.filePath(QStringLiteral("blank-waybill.png"));
        QVERIFY(scan.save(path));

        TPrintPositionForm* d = openDialog();
        halvenna::FileDialog::seam().answer(path);
        QTest::mouseClick(d->btnBackground, Qt::LeftButton);
        QCOMPARE(d->edBackground->text(), path);
        QCOMPARE(d->edDpi->value(), 300.0);
        retype(d->edLeft, QStringLiteral("5"));
        retype(d->edTop, QStringLiteral("3"));
        QTest::mouseClick(d->btnOk, Qt::LeftButton);
        const halvenna::FormBackground stored = FormFitting::load(ini()).background(QStringLiteral("Invoice"));
        QCOMPARE(stored.path, path);
        QVERIFY(std::abs(stored.mmPerPixel - 25.4 / 300) < 1e-6);
        QCOMPARE(QPointF(stored.left, stored.top), QPointF(5, 3));
        QVERIFY(FormFitting::load(ini()).background(QStringLiteral("Account")).path.isEmpty());

        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* preview = qobject_cast<halvenna::ReportPreview*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            const auto close = qScopeGuard([preview] { preview->done(QDialog::Rejected); });
            auto* page = preview->findChild<halvenna::PreviewPage*>(QStringLiteral("pvPage"));
            QVERIFY(page->hasBackground());
            page->setOutline(false);
            QVERIFY(QTest::qWaitForWindowExposed(preview));
            page->setPage(2); // the third member: no contents row under the marks
            page->repaint();
            QVERIFY(!page->image().isNull());
            const QImage sheet = page->image();
            const double perMm = 96.0 / 25.4 * sheet.devicePixelRatio();
            const auto grayAt = [&](QPointF mm) { return qGray(sheet.pixel((mm * perMm).toPoint())); };
            for (const QPoint& m : marks) {
                const QPointF centre = QPointF(5, 3) + QPointF(m + QPoint(15, 15)) * 25.4 / 300;
                QVERIFY2(grayAt(centre) < 160, qPrintable(QStringLiteral("%1, %2").arg(centre.x()).arg(centre.y())));
                QVERIFY(grayAt(centre + QPointF(3, 0)) > 200);
            }
            seen = true;
        });
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Preview, 1, QString()});
        QTest::mouseClick(InvoiceForm->findChild<QPushButton*>(QStringLiteral("btnInvoiceAllPrn")), Qt::LeftButton);
        QVERIFY(seen);

        const QString pdf = printToPdf("btnInvoiceAllPrn", QStringLiteral("with-background.pdf"));
        const QStringList images =
            QString::fromUtf8(reporttest::poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}))
                .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(images.size(), 2); // the two heading lines, no image
    }

    // 背景の位置合わせ: a scan stored at a wrong resolution and place is set right by clicking its two
    // marks in the preview and typing where they truly are; the new placement is shown and stored.
    // Esc while picking gives up the picking only.
    void twoPointsPlaceTheScan()
    {
        QImage scan(1200, 900, QImage::Format_RGB32);
        scan.fill(Qt::white);
        const QList<QPointF> marks{{133, 133}, {1115, 815}}; // the middles of 30 px squares
        {
            QPainter p(&scan);
            for (const QPointF& m : marks)
                p.fillRect(QRectF(m - QPointF(15, 15), QSizeF(30, 30)), Qt::black);
        }
        const QString path = f_->dir.filePath(QStringLiteral("askew.png"));
        QVERIFY(scan.save(path));
        halvenna::FormBackground wrong;
        wrong.path = path;
        wrong.mmPerPixel = 25.4 / 280;
        FormFitting::saveBackground(ini(), QStringLiteral("Invoice"), wrong);
        const auto truly = [](QPointF px) { return QPointF(5, 3) + px * 25.4 / 300; };

        bool placed = false;
        QTimer::singleShot(0, this, [&] {
            auto* preview = qobject_cast<halvenna::ReportPreview*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            const auto close = qScopeGuard([preview] { preview->done(QDialog::Rejected); });
            QVERIFY(QTest::qWaitForWindowExposed(preview));
            QVERIFY(makeActive(preview));
            auto* page = preview->findChild<halvenna::PreviewPage*>(QStringLiteral("pvPage"));
            auto* place = preview->findChild<QPushButton*>(QStringLiteral("btnPlace"));
            QVERIFY(place->isVisible());
            pressKeys(preview, QStringLiteral("Alt+M, Escape"));
            QVERIFY(!place->isChecked());
            QVERIFY(preview->isVisible());

            QList<QPoint> clicks;
            for (const QPointF& m : marks)
                clicks << page->toWidget(halvenna::BackgroundImage::toSheet(halvenna::placementOf(wrong)).map(m))
                              .toPoint();
            BackgroundPointsDialog::seam().answer(
                std::optional(BackgroundPointsDialog::Points{truly(marks.at(0)), truly(marks.at(1))}));
            pressKeys(preview, QStringLiteral("Alt+M"));
            for (const QPoint& c : clicks)
                QTest::mouseClick(page, Qt::LeftButton, {}, c);
            QVERIFY(!place->isChecked());
            // The dialog was offered the marks where the scan showed them, to a tenth of a millimetre.
            QCOMPARE(BackgroundPointsDialog::seam().requests().size(), 1);
            const BackgroundPointsDialog::Points offered = BackgroundPointsDialog::seam().requests().at(0);
            QVERIFY((offered.first - halvenna::BackgroundImage::toSheet(halvenna::placementOf(wrong)).map(marks.at(0)))
                        .manhattanLength() < 0.5);
            QVERIFY((offered.second - halvenna::BackgroundImage::toSheet(halvenna::placementOf(wrong)).map(marks.at(1)))
                        .manhattanLength() < 0.5);
            const halvenna::FormBackground now = page->placement();
            QVERIFY2(std::abs(now.mmPerPixel / (25.4 / 300) - 1) < 0.005, qPrintable(QString::number(now.mmPerPixel)));
            QVERIFY(std::abs(now.rotation) < 0.3);
            for (const QPointF& m : marks) {
                const QPointF error = halvenna::BackgroundImage::toSheet(halvenna::placementOf(now)).map(m) - truly(m);
                QVERIFY2(error.manhattanLength() < 0.4,
                         qPrintable(QStringLiteral("%1 %2").arg(error.x()).arg(error.y())));
            }
            placed = true;
        });
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Preview, 1, QString()});
        QTest::mouseClick(InvoiceForm->findChild<QPushButton*>(QStringLiteral("btnInvoiceAllPrn")), Qt::LeftButton);
        QVERIFY(placed);
        const halvenna::FormBackground stored = FormFitting::load(ini()).background(QStringLiteral("Invoice"));
        QCOMPARE(stored.path, path);
        QVERIFY(std::abs(stored.mmPerPixel / (25.4 / 300) - 1) < 0.005);
        QVERIFY(std::abs(stored.left - 5) < 0.4 && std::abs(stored.top - 3) < 0.4);
    }

    // A placement made by two points, its corner far above the sheet (an A4 page scanned around the
    // slip) and its scale no whole dpi: the dialog shows it as it is, and a nudge of one figure
    // changes that figure only.
    void aTwoPointPlacementIsShownAndKeptAsItIs()
    {
        halvenna::FormBackground placed;
        placed.path = f_->dir.filePath(QStringLiteral("a4-scan.png"));
        placed.mmPerPixel = 0.169394;
        placed.left = -3.456;
        placed.top = -91.2;
        placed.rotation = 0.7;
        FormFitting::saveBackground(ini(), QStringLiteral("Invoice"), placed);
        TPrintPositionForm* d = openDialog();
        choose(d->cmbForm, QStringLiteral("Invoice"));
        QCOMPARE(d->edTop->value(), -91.2);
        QCOMPARE(d->edLeft->value(), -3.46);
        QCOMPARE(d->edDpi->value(), 149.95);
        QCOMPARE(d->shownBackground(), placed);
        d->edLeft->setFocus();
        QTest::keyClick(d->edLeft, Qt::Key_Up);
        QCOMPARE(d->edLeft->value(), -3.36);
        QTest::mouseClick(d->btnOk, Qt::LeftButton);
        const halvenna::FormBackground stored = FormFitting::load(ini()).background(QStringLiteral("Invoice"));
        QCOMPARE(stored.mmPerPixel, 0.169394);
        QCOMPARE(stored.top, -91.2);
        QCOMPARE(stored.rotation, 0.7);
        QVERIFY(std::abs(stored.left - -3.36) < 1e-9);
    }

    // A scan that does not state its resolution: the dialog says so and asks for it, 300 dpi
    // proposed, the resolution box holding the focus; what the user types is stored.
    void aScanWithoutItsResolutionIsAskedFor()
    {
        QImage scan(400, 300, QImage::Format_RGB32);
        scan.fill(Qt::white);
        const QString path = f_->dir.filePath(QStringLiteral("no-resolution.png"));
        QVERIFY(scan.save(path));
        QByteArray bytes;
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            bytes = reporttest::withoutResolution(f.readAll());
        }
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), bytes.size());
        }
        TPrintPositionForm* d = openDialog();
        QVERIFY(!d->lblDpiNote->isVisible());
        halvenna::FileDialog::seam().answer(path);
        QTest::mouseClick(d->btnBackground, Qt::LeftButton);
        QCOMPARE(d->edDpi->value(), 300.0);
        QVERIFY(d->lblDpiNote->isVisible());
        QVERIFY(d->lblDpiNote->text().startsWith(QStringLiteral("この画像には解像度が書かれていません")));
        QCOMPARE(QApplication::focusWidget(), d->edDpi);
        QTest::keyClicks(d->edDpi, QStringLiteral("200"));
        QVERIFY(!d->lblDpiNote->isVisible());
        QTest::mouseClick(d->btnOk, Qt::LeftButton);
        const halvenna::FormBackground stored = FormFitting::load(ini()).background(QStringLiteral("Invoice"));
        QCOMPARE(stored.path, path);
        QVERIFY(std::abs(stored.mmPerPixel - 25.4 / 200) < 1e-9);
    }

    // The points dialog: each box has its label, the values typed come back, Esc is Cancel.
    void pointsDialogFromTheKeyboard()
    {
        BackgroundPointsDialog d({QPointF(10, 10), QPointF(100, 80)});
        d.show();
        QVERIFY(makeActive(&d));
        for (QLabel* l : d.findChildren<QLabel*>())
            if (l->text().contains(u'&'))
                QVERIFY(l->buddy());
        QCOMPARE(QApplication::focusWidget(), d.edX1);
        QVERIFY2(unnamedInputs(&d).isEmpty(), qPrintable(unnamedInputs(&d).join(u", ")));
        pressKeys(&d, QStringLiteral("type:12.5, Alt+4, Ctrl+A, type:90"));
        QCOMPARE(d.points(), (BackgroundPointsDialog::Points{QPointF(12.5, 10), QPointF(100, 90)}));
        pressKeys(&d, QStringLiteral("Escape"));
        QCOMPARE(d.result(), int(QDialog::Rejected));
    }

    // A background whose file has gone: one error box, and the preview shows the form without it.
    void missingBackgroundIsOneMessage()
    {
        halvenna::FormBackground gone;
        gone.path = f_->dir.filePath(QStringLiteral("gone.png"));
        gone.mmPerPixel = 0.1;
        FormFitting::saveBackground(ini(), QStringLiteral("Invoice"), gone);
        bool seen = false;
        QTimer::singleShot(0, this, [&] {
            auto* preview = qobject_cast<halvenna::ReportPreview*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            const auto close = qScopeGuard([preview] { preview->done(QDialog::Rejected); });
            QVERIFY(!preview->findChild<halvenna::PreviewPage*>(QStringLiteral("pvPage"))->hasBackground());
            seen = true;
        });
        halvenna::MessageBox::seam().answer(QMessageBox::Ok);
        StandardReportOutput::optionsSeam().answer(OutputChoice{OutputChoice::Destination::Preview, 1, QString()});
        QTest::mouseClick(InvoiceForm->findChild<QPushButton*>(QStringLiteral("btnInvoiceAllPrn")), Qt::LeftButton);
        QVERIFY(seen);
        QCOMPARE(halvenna::MessageBox::seam().requests().size(), 1);
        QVERIFY(
            halvenna::MessageBox::seam().requests().at(0).text.startsWith(gone.path + QStringLiteral(" を読めません")));
    }

    // テスト印刷 to a PDF file is offered the last file written; that file, a run of slips, is
    // replaced only once the user says so: "No" leaves it as it was.
    void testSheetDoesNotReplaceTheLastPdfUnasked()
    {
        const QString pdf = printToPdf("btnAccountAllPrn", QStringLiteral("slips.pdf"));
        const int slips = reporttest::pdfPages(pdf);
        QVERIFY(slips > 1);
        QVERIFY(MessageBox::seam().requests().isEmpty());
        TPrintPositionForm* d = openDialog();
        choose(d->cmbForm, QStringLiteral("Account"));
        choose(d->cmbPrinter, FormFitting::pdfPrinter());
        QString offered;
        StandardReportOutput::optionsSeam().answerWith([&](const StandardReportOutput::OptionsRequest& r) {
            offered = r.offered.fileName;
            return std::optional<OutputChoice>(r.offered);
        });
        MessageBox::seam().answer(QMessageBox::No);
        StandardReportOutput::optionsSeam().answer(std::nullopt);
        QTest::mouseClick(d->btnTestSheet, Qt::LeftButton);
        QCOMPARE(offered, pdf);
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QVERIFY(MessageBox::seam().requests().first().text.contains(QStringLiteral("置き換えますか")));
        QCOMPARE(reporttest::pdfPages(pdf), slips);

        StandardReportOutput::optionsSeam().answerWith(
            [&](const StandardReportOutput::OptionsRequest& r) { return std::optional<OutputChoice>(r.offered); });
        MessageBox::seam().answer(QMessageBox::Yes);
        QTest::mouseClick(d->btnTestSheet, Qt::LeftButton);
        QCOMPARE(reporttest::pdfPages(pdf), 1);
        QTest::keyClick(d, Qt::Key_Escape);
        QTRY_VERIFY(!d->isVisible());
    }

    // The test sheet: one sheet of the form's size, its ruler and crosshairs where they say they
    // are, moved by the values shown in the dialog (stored or not); nothing is stored.
    void testSheetShowsRulerAndCrosshairs_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QSizeF>("sheetMm");
        QTest::addColumn<QPointF>("shift");
        QTest::newRow("waybill, where the template says") << "Invoice" << QSizeF(108, 178) << QPointF(0, 0);
        QTest::newRow("payment slip, moved 2.0 right and 1.5 down")
            << "Account" << QSizeF(180, 114) << QPointF(2.0, 1.5);
    }
    void testSheetShowsRulerAndCrosshairs()
    {
        QFETCH(QString, form);
        QFETCH(QSizeF, sheetMm);
        QFETCH(QPointF, shift);
        TPrintPositionForm* d = openDialog();
        choose(d->cmbForm, form);
        choose(d->cmbPrinter, FormFitting::pdfPrinter());
        retype(d->edX, QString::number(shift.x(), 'f', 1));
        retype(d->edY, QString::number(shift.y(), 'f', 1));
        const QString pdf = f_->dir.filePath(QStringLiteral("test-sheet.pdf"));
        QFile::remove(pdf);
        StandardReportOutput::optionsSeam().answerWith([&](const StandardReportOutput::OptionsRequest& r) {
            // A PDF file is offered for the PDF destination.
            if (r.offered.destination != OutputChoice::Destination::File)
                return std::optional<OutputChoice>();
            return std::optional<OutputChoice>(OutputChoice{OutputChoice::Destination::File, 1, pdf});
        });
        QTest::mouseClick(d->btnTestSheet, Qt::LeftButton);
        QTest::keyClick(d, Qt::Key_Escape);
        QTRY_VERIFY(!d->isVisible());
        QVERIFY(!QFile::exists(ini()));

        QCOMPARE(reporttest::pdfPages(pdf), 1);
        const QSizeF pt = reporttest::pdfPageSizePt(pdf);
        QVERIFY(qAbs(pt.width() * kMmPerPt - sheetMm.width()) < 0.5 &&
                qAbs(pt.height() * kMmPerPt - sheetMm.height()) < 0.5);
        const QImage page = reporttest::pdfImage(pdf, 1, 254);
        QVERIFY(!page.isNull());
        const QList<QPointF> marks{{10, 10},
                                   {sheetMm.width() - 10, 10},
                                   {10, sheetMm.height() - 10},
                                   {sheetMm.width() - 10, sheetMm.height() - 10},
                                   {std::round(sheetMm.width() / 2), std::round(sheetMm.height() / 2)}};
        for (const QPointF& m : marks) {
            const QPointF c = m + shift;
            // Both arms of the cross through the mark's place, and nothing where it would stand unmoved.
            QVERIFY2(darkAlong(page, c - QPointF(4, 0), c + QPointF(4, 0)) > 30,
                     qPrintable(QStringLiteral("no cross at %1, %2").arg(c.x()).arg(c.y())));
            QVERIFY(darkAlong(page, c - QPointF(0, 4), c + QPointF(0, 4)) > 30);
            if (!shift.isNull())
                QVERIFY(darkAlong(page, m - QPointF(4, 0.8), m + QPointF(-2.5, 0.8)) < 5);
        }
        // The ruler's ticks along the top, on its line 6 mm in: every millimetre, the tenth ones 4 mm long.
        for (int x : {10, 20, 30}) {
            const QPointF top(x + shift.x(), halvenna::ReportDocument::kTestSheetMargin + shift.y());
            QVERIFY2(darkAlong(page, top + QPointF(0, 0.3), top + QPointF(0, 3.7)) > 30,
                     qPrintable(QStringLiteral("no tick at %1 mm").arg(x)));
        }
        const QList<Word> labels = words(pdf);
        bool found = false;
        for (const Word& w : labels)
            found = found || w.text == QStringLiteral("10,10");
        QVERIFY(found);
    }

    // The rulers stand inside a margin every printer prints (6 mm), on a line each, so that a sheet
    // moved up or left keeps every tick: nothing is drawn near the sheet's top or left edge, the 1 mm
    // ticks are there along both rulers, and the sheet says how to read them.
    void testSheetRulersInsideThePrintableMargin_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QPointF>("shift");
        QTest::newRow("waybill") << "Invoice" << QPointF(0, 0);
        QTest::newRow("payment slip") << "Account" << QPointF(0, 0);
        QTest::newRow("waybill moved 2.3 up") << "Invoice" << QPointF(0, -2.3);
        QTest::newRow("payment slip moved 2.3 left and up") << "Account" << QPointF(-2.3, -2.3);
        QTest::newRow("payment slip moved 1.5 right") << "Account" << QPointF(1.5, 0);
    }
    void testSheetRulersInsideThePrintableMargin()
    {
        QFETCH(QString, form);
        QFETCH(QPointF, shift);
        const auto t = std::make_shared<const halvenna::ReportTemplate>(halvenna::ReportTemplate::load(
            QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates/") + form + QStringLiteral(".Rav")));
        const halvenna::ReportDocument sheet = halvenna::ReportDocument::testSheet(t);
        const QString pdf = f_->dir.filePath(QStringLiteral("rulers.pdf"));
        QVERIFY(sheet.writePdf(pdf, {}, shift));
        const QImage page = reporttest::pdfImage(pdf, 1, 254);
        QVERIFY(!page.isNull());
        const double w = t->pageWidth();
        const double h = t->pageHeight();
        const double m = halvenna::ReportDocument::kTestSheetMargin;
        // Unmoved, nothing within 2.5 mm of the top and left edges: the rulers are 6 mm in (and the
        // form's own boxes start further in).
        if (shift.isNull()) {
            for (double at : {0.5, 1.5, 2.5}) {
                QCOMPARE(darkAlong(page, QPointF(0, at), QPointF(w, at)), 0);
                QCOMPARE(darkAlong(page, QPointF(at, 0), QPointF(at, h)), 0);
            }
        }
        // Each millimetre's tick along the top and down the left, between the numbered ones too.
        for (int mm : {11, 12, 13, 17, 22, 48}) {
            const QPointF top(mm + shift.x(), m + shift.y());
            QVERIFY2(darkAlong(page, top + QPointF(0, 0.3), top + QPointF(0, 1.2)) > 30,
                     qPrintable(QStringLiteral("no tick at %1 mm along the top").arg(mm)));
            const QPointF left(m + shift.x(), mm + shift.y());
            QVERIFY2(darkAlong(page, left + QPointF(0.3, 0), left + QPointF(1.2, 0)) > 30,
                     qPrintable(QStringLiteral("no tick at %1 mm down the left").arg(mm)));
        }
        // Each ruler's line, from which the shift is read.
        QVERIFY(darkAlong(page, QPointF(20 + shift.x(), m + shift.y()), QPointF(40 + shift.x(), m + shift.y())) > 35);
        QVERIFY(darkAlong(page, QPointF(m + shift.x(), 20 + shift.y()), QPointF(m + shift.x(), 40 + shift.y())) > 35);
        QString text;
        for (const Word& word : words(pdf))
            text += word.text;
        QVERIFY2(text.contains(QStringLiteral("上の線は上端から6mm")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("左の線は左端から6mm")), qPrintable(text));
    }
};

QTEST_MAIN(TestPrintPosition)
#include "tst_printposition.moc"

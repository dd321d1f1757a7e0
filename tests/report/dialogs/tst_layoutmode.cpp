// 配置調整 in the preview: an item chosen by a click or from the list, moved and resized by the mouse
// or the keys, undone, saved into its template (or refused there with the changes kept on screen),
// asked about on closing, and put back from the shipped copy.
#include "common/FaultTools.h"
#include "common/GuiFixture.h"
#include "common/Seams.h"
#include "data/Error.h"
#include "gui/MessageBox.h"
#include "report/ReportTemplate.h"
#include "report/ReportTestSupport.h"
#include "report/TemplateEditor.h"
#include "report/dialogs/ReportPreview.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QtTest>

using halvenna::MessageBox;
using halvenna::PreviewPage;
using halvenna::ReportDocument;
using halvenna::ReportPreview;
using halvenna::ReportRows;
using halvenna::ReportTemplate;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Two lengths the same to the 0.01 mm a template holds.
bool sameMm(double a, double b)
{
    return std::abs(a - b) < 0.005;
}

} // namespace

class TestLayoutMode : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;
    std::unique_ptr<ReportDocument> doc_;
    std::unique_ptr<ReportPreview> preview_;
    int item_ = 0; // the waybill's member name

    PreviewPage* view() const { return preview_->findChild<PreviewPage*>(QStringLiteral("pvPage")); }
    QRectF box() const { return preview_->document().itemBox(item_); }
    QRectF savedBox() const
    {
        const ReportTemplate t = ReportTemplate::load(path_);
        const ReportDocument d(std::make_shared<const ReportTemplate>(t), t.defaultReport(), {}, ReportRows());
        return d.itemBox(item_);
    }
    QString status() const { return preview_->findChild<QLabel*>(QStringLiteral("lblLayout"))->text(); }
    QPushButton* button(const char* name) const { return preview_->findChild<QPushButton*>(QLatin1String(name)); }

private Q_SLOTS:
    void initTestCase()
    {
        reporttest::useFormFont();
        halvenna::installAccessibleNames();
    }

    // The waybill as installed: a working copy beside the program and the shipped one in templates/.
    void init()
    {
        seams::begin();
        dir_ = std::make_unique<QTemporaryDir>();
        path_ = dir_->filePath(QStringLiteral("Invoice.Rav"));
        const QString shipped = QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates/Invoice.Rav");
        QVERIFY(QFile::copy(shipped, path_));
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("templates")));
        QVERIFY(QFile::copy(shipped, halvenna::TemplateEditor::pristinePath(path_)));
        const auto t = std::make_shared<const ReportTemplate>(ReportTemplate::load(path_));
        ReportRows rows({QStringLiteral("name")});
        rows.appendRow({reporttest::sj(QStringLiteral("山田太郎"))});
        doc_ = std::make_unique<ReportDocument>(t, t->defaultReport(), halvenna::ReportParams{}, std::move(rows));
        item_ = -1;
        for (int i = 0; i < doc_->itemCount(); ++i)
            if (doc_->itemName(i) == QStringLiteral("name"))
                item_ = i;
        QVERIFY(item_ >= 0);
        preview_ = std::make_unique<ReportPreview>(*doc_);
        preview_->show();
        QVERIFY(makeActive(preview_.get()));
    }

    void cleanup()
    {
        preview_.reset();
        doc_.reset();
        dir_.reset();
        seams::end();
    }

    // Ctrl+L opens the layout bar; an item chosen from the list (Alt+I), Tab reaches the sheet, where
    // the arrows move it by 0.1 mm, with Shift by 1 mm, with Ctrl resize it; Ctrl+Z takes the steps
    // back one by one. The status line names the item and its box.
    void keysMoveResizeAndUndo()
    {
        const QRectF start = box();
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        QVERIFY(button("btnLayout")->isChecked());
        QVERIFY(preview_->findChild<QWidget*>(QStringLiteral("layoutBar"))->isVisible());
        QVERIFY2(unnamedInputs(preview_.get()).isEmpty(), qPrintable(unnamedInputs(preview_.get()).join(u", ")));
        pressKeys(preview_.get(), QStringLiteral("Alt+I"));
        auto* items = preview_->findChild<QComboBox*>(QStringLiteral("cmbItem"));
        QCOMPARE(QApplication::focusWidget(), items);
        for (int guard = 0; items->currentData().toInt() != item_ && guard < 100; ++guard)
            QTest::keyClick(items, Qt::Key_Down);
        QCOMPARE(view()->selected(), item_);
        pressKeys(preview_.get(), QStringLiteral("Tab"));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("saPage"));

        pressKeys(preview_.get(), QStringLiteral("Right, Right, Right, Shift+Down, Up, Ctrl+Right, Ctrl+Shift+Down"));
        QVERIFY(sameMm(box().left(), start.left() + 0.3));
        QVERIFY(sameMm(box().top(), start.top() + 0.9));
        QVERIFY(sameMm(box().width(), start.width() + 0.1));
        QVERIFY(sameMm(box().height(), start.height() + 1.0));
        QVERIFY2(status().startsWith(
                     QStringLiteral("name: x=%1 y=%2 ").arg(box().left(), 0, 'f', 1).arg(box().top(), 0, 'f', 1)),
                 qPrintable(status()));
        QVERIFY(button("btnSaveLayout")->isEnabled());

        pressKeys(preview_.get(), QStringLiteral("Ctrl+Z, Ctrl+Z"));
        QVERIFY(sameMm(box().width(), start.width()));
        QVERIFY(sameMm(box().height(), start.height()));
        QVERIFY(sameMm(box().top(), start.top() + 0.9));
        pressKeys(preview_.get(), QStringLiteral("Ctrl+Z, Ctrl+Z, Ctrl+Z, Ctrl+Z, Ctrl+Z, Ctrl+Z"));
        QCOMPARE(box(), start);
        QVERIFY(!button("btnUndo")->isEnabled());
        QVERIFY(!button("btnSaveLayout")->isEnabled());
        // Out of layout mode the arrows scroll again and move nothing.
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L, Right"));
        QCOMPARE(box(), start);
        QCOMPARE(readAll(path_), readAll(halvenna::TemplateEditor::pristinePath(path_)));
    }

    // A click selects the item under it; a drag inside moves it, a drag on an edge resizes it, on the
    // 0.1 mm grid; the sheet shows the text at its new place; each drag is one undo step.
    void mouseMovesAndResizes()
    {
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        PreviewPage* page = view();
        const QRectF start = box();
        const QImage before = page->image();
        const QPoint centre = page->toWidget(start.center()).toPoint();
        QTest::mouseClick(page, Qt::LeftButton, {}, centre);
        QCOMPARE(view()->selected(), item_);
        QVERIFY(status().startsWith(QStringLiteral("name: ")));

        // 38 pixels at 100 % are 10.05 mm.
        QTest::mousePress(page, Qt::LeftButton, {}, centre);
        QTest::mouseMove(page, centre + QPoint(38, 19));
        QTest::mouseRelease(page, Qt::LeftButton, {}, centre + QPoint(38, 19));
        const double dx = box().left() - start.left();
        const double dy = box().top() - start.top();
        QVERIFY2(std::abs(dx - 10) <= 0.1001 && std::abs(dy - 5) <= 0.1001,
                 qPrintable(QStringLiteral("%1 %2").arg(dx).arg(dy)));
        QVERIFY(sameMm(dx * 10, std::round(dx * 10)));
        QCOMPARE(box().size(), start.size());
        page->repaint();
        QVERIFY(page->image() != before);

        const QPoint rightEdge = page->toWidget(QPointF(box().right(), box().center().y())).toPoint();
        QTest::mousePress(page, Qt::LeftButton, {}, rightEdge);
        QTest::mouseMove(page, rightEdge + QPoint(19, 0));
        QTest::mouseRelease(page, Qt::LeftButton, {}, rightEdge + QPoint(19, 0));
        QVERIFY(std::abs(box().width() - start.width() - 5) <= 0.1001);
        QVERIFY(sameMm(box().left(), start.left() + dx));

        preview_->undo();
        QCOMPARE(box().width(), start.width());
        preview_->undo();
        QCOMPARE(box(), start);
        // A click on bare paper selects nothing.
        QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(view()->selected(), -1);
    }

    // A box is kept on the sheet however far it is pushed.
    void boxesStayOnTheSheet()
    {
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        preview_->selectItem(item_);
        for (int i = 0; i < 300; ++i)
            preview_->moveSelected(-1, -1);
        QCOMPARE(box().topLeft(), QPointF(0, 0));
        preview_->resizeSelected(1000, 1000);
        QVERIFY(box().right() <= doc_->reportTemplate().pageWidth() + 0.005);
        QVERIFY(box().bottom() <= doc_->reportTemplate().pageHeight() + 0.005);
        QVERIFY(preview_->saveLayout());
        (void)ReportTemplate::load(path_);
    }

    // 保存 writes the new box into the template, read back as shown; 初期値に戻す, once confirmed, puts
    // the shipped template back byte for byte and the boxes with it.
    void saveAndRestore()
    {
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        const QRectF start = box();
        preview_->selectItem(item_);
        pressKeys(preview_.get(), QStringLiteral("Shift+Right, Shift+Right, Down, Alt+S"));
        QVERIFY(!button("btnSaveLayout")->isEnabled());
        QCOMPARE(savedBox(), box());
        QVERIFY(sameMm(savedBox().left(), start.left() + 2));
        QVERIFY(MessageBox::seam().requests().isEmpty());

        MessageBox::seam().answer(QMessageBox::Cancel);
        pressKeys(preview_.get(), QStringLiteral("Alt+D"));
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QVERIFY(MessageBox::seam().requests().at(0).text.contains(path_));
        QCOMPARE(savedBox(), box());

        MessageBox::seam().answer(QMessageBox::Ok);
        pressKeys(preview_.get(), QStringLiteral("Alt+D"));
        QCOMPARE(readAll(path_), readAll(halvenna::TemplateEditor::pristinePath(path_)));
        QCOMPARE(box(), start);
        QVERIFY(!button("btnUndo")->isEnabled());
    }

    // A template that cannot be written: "<path> に書き込めません", the file untouched, the changes
    // still on screen and still to be saved.
    void unwritableTemplateKeepsTheChangesOnScreen()
    {
        faults::Unwritable folder(dir_->path());
        if (!folder.isSet())
            QSKIP(qPrintable(folder.why()));
        const QByteArray old = readAll(path_);
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        const QRectF start = box();
        preview_->selectItem(item_);
        MessageBox::seam().answer(QMessageBox::Ok);
        pressKeys(preview_.get(), QStringLiteral("Shift+Left, Alt+S"));
        folder.undo();
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QCOMPARE(MessageBox::seam().requests().at(0).text,
                 halvenna::errorBoxText(QStringLiteral("%1 に書き込めません").arg(path_)));
        QCOMPARE(readAll(path_), old);
        QVERIFY(sameMm(box().left(), start.left() - 1));
        QVERIFY(button("btnSaveLayout")->isEnabled());
    }

    // Closing with a layout not saved asks: Cancel stays, 保存しない closes leaving the file, 保存する
    // writes it first.
    void closingAsksAboutUnsavedLayout_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("saved");
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << false << false;
        QTest::newRow("discard") << int(QMessageBox::Discard) << true << false;
        QTest::newRow("save") << int(QMessageBox::Save) << true << true;
    }
    void closingAsksAboutUnsavedLayout()
    {
        QFETCH(int, answer);
        QFETCH(bool, closed);
        QFETCH(bool, saved);
        const QByteArray old = readAll(path_);
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        preview_->selectItem(item_);
        preview_->moveSelected(0, 1);
        MessageBox::seam().answer(MessageBox::Button(answer));
        pressKeys(preview_.get(), QStringLiteral("Escape"));
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QCOMPARE(MessageBox::seam().requests().at(0).escapeButton, QMessageBox::Cancel);
        QCOMPARE(preview_->isVisible(), !closed);
        QCOMPARE(readAll(path_) != old, saved);
    }
};

QTEST_MAIN(TestLayoutMode)
#include "tst_layoutmode.moc"

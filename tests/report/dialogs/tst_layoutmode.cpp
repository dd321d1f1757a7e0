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

    // Opens the preview on a working copy of a shipped template, the given text (empty: the
    // shipped one) written in its place.
    void open(const QString& name, const QByteArray& text)
    {
        preview_.reset();
        doc_.reset();
        path_ = dir_->filePath(name);
        const QString shipped = QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates/") + name;
        QFile::remove(path_);
        if (text.isEmpty()) {
            QVERIFY(QFile::copy(shipped, path_));
        } else {
            QFile f(path_);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        QFile::remove(halvenna::TemplateEditor::pristinePath(path_));
        QVERIFY(QFile::copy(shipped, halvenna::TemplateEditor::pristinePath(path_)));
        const auto t = std::make_shared<const ReportTemplate>(ReportTemplate::load(path_));
        ReportRows rows({QStringLiteral("name"), QStringLiteral("amount_prn")});
        rows.appendRow({reporttest::sj(QStringLiteral("山田太郎")), QByteArray("12345")});
        doc_ = std::make_unique<ReportDocument>(t, t->defaultReport(), halvenna::ReportParams{}, std::move(rows));
        item_ = itemNamed(QStringLiteral("name"));
        preview_ = std::make_unique<ReportPreview>(*doc_);
        preview_->show();
        QVERIFY(makeActive(preview_.get()));
    }
    int itemNamed(const QString& name) const
    {
        const ReportDocument& d = preview_ ? preview_->document() : *doc_;
        for (int i = 0; i < d.itemCount(); ++i)
            if (d.itemName(i) == name)
                return i;
        return -1;
    }
    QRectF savedBoxOf(int item) const
    {
        const ReportTemplate t = ReportTemplate::load(path_);
        const ReportDocument d(std::make_shared<const ReportTemplate>(t), t.defaultReport(), {}, ReportRows());
        return d.itemBox(item);
    }

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
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("templates")));
        open(QStringLiteral("Invoice.Rav"), {});
        QVERIFY(item_ >= 0);
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

    // A template with two lines of the user's own at its top (address2 then stands two lines below
    // address1), put back to the shipped one: the preview
    // works on the restored file from then on, so address1 moved and saved lands on address1, and
    // address2, which now stands on the line address1 had, keeps its box.
    void aSaveAfterARestoreMovesTheItemChosen()
    {
        const QByteArray shipped = readAll(halvenna::TemplateEditor::pristinePath(path_));
        open(QStringLiteral("Invoice.Rav"), "# my own note\n# measured on my slips\n" + shipped);
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        MessageBox::seam().answer(QMessageBox::Ok);
        pressKeys(preview_.get(), QStringLiteral("Alt+D"));
        QCOMPARE(readAll(path_), shipped);
        const int address1 = itemNamed(QStringLiteral("address1"));
        const int address2 = itemNamed(QStringLiteral("address2"));
        QVERIFY(address1 >= 0 && address2 >= 0);
        const QRectF first = savedBoxOf(address1);
        const QRectF second = savedBoxOf(address2);
        preview_->selectItem(address1);
        pressKeys(preview_.get(), QStringLiteral("Shift+Right, Alt+S"));
        QCOMPARE(MessageBox::seam().requests().size(), 1); // the restore's question, no error
        QVERIFY(sameMm(savedBoxOf(address1).left(), first.left() + 1));
        QCOMPARE(savedBoxOf(address1).top(), first.top());
        QCOMPARE(savedBoxOf(address2), second);
        QCOMPARE(preview_->document().itemBox(address1), savedBoxOf(address1));
        QVERIFY(!button("btnSaveLayout")->isEnabled());
    }

    // The file changed by someone else while the preview was open: 保存 refuses, saying so, and
    // writes nothing over the other change; the layout stays on screen.
    void aTemplateChangedUnderThePreviewIsNotOverwritten()
    {
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        preview_->selectItem(item_);
        pressKeys(preview_.get(), QStringLiteral("Shift+Down"));
        QByteArray other = readAll(path_);
        const qsizetype at = other.indexOf("text field=name x=8 y=53");
        QVERIFY(at >= 0);
        other.replace(at, 24, "text field=name x=9 y=54");
        {
            QFile f(path_);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(other);
        }
        MessageBox::seam().answer(QMessageBox::Ok);
        pressKeys(preview_.get(), QStringLiteral("Alt+S"));
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        const QString said = MessageBox::seam().requests().at(0).text;
        QVERIFY2(said.contains(path_ + QStringLiteral(" は、このプレビューで開いた後にほかで書き換えられています")),
                 qPrintable(said));
        QCOMPARE(readAll(path_), other);
        QVERIFY(button("btnSaveLayout")->isEnabled());
    }

    // 背景の位置合わせ on a narrow screen: the prompt wraps in a row of its own, the window keeps its
    // width (Print and Close stay on it) and the sheet does not move between the button and the
    // first click.
    void placingPromptKeepsTheWindowAndTheSheetStill()
    {
        QImage scan(800, 500, QImage::Format_RGB32);
        scan.fill(Qt::white);
        const QString png = dir_->filePath(QStringLiteral("scan.png"));
        QVERIFY(scan.save(png));
        halvenna::FormBackground b;
        b.path = png;
        b.mmPerPixel = 0.25;
        QVERIFY(preview_->setBackground(b));
        QApplication::processEvents();
        const int width = preview_->width();
        const QPoint sheet = view()->mapTo(preview_.get(), QPoint(0, 0));
        pressKeys(preview_.get(), QStringLiteral("Alt+M"));
        QApplication::processEvents();
        auto* prompt = preview_->findChild<QLabel*>(QStringLiteral("lblPlace"));
        QVERIFY(prompt->isVisible());
        QVERIFY(prompt->text().contains(QStringLiteral("1 点目")));
        QCOMPARE(preview_->width(), width);
        QCOMPARE(view()->mapTo(preview_.get(), QPoint(0, 0)), sheet);
        QVERIFY(button("btnClose")->geometry().right() < preview_->width());
        pressKeys(preview_.get(), QStringLiteral("Escape"));
        QVERIFY(preview_->isVisible());
    }

    // The amount's eight cells made narrower or wider by a step of the keys save and read back as
    // shown, with no error box.
    void digitCellsResizedByKeySave_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<double>("change");
        QTest::newRow("Ctrl+Left") << QStringLiteral("Ctrl+Left") << -0.1;
        QTest::newRow("Ctrl+Right") << QStringLiteral("Ctrl+Right") << 0.1;
        QTest::newRow("Ctrl+Shift+Left") << QStringLiteral("Ctrl+Shift+Left") << -1.0;
        QTest::newRow("three steps") << QStringLiteral("Ctrl+Left, Ctrl+Left, Ctrl+Left") << -0.3;
    }
    void digitCellsResizedByKeySave()
    {
        QFETCH(QString, keys);
        QFETCH(double, change);
        open(QStringLiteral("Account.Rav"), {});
        const int amount = itemNamed(QStringLiteral("amount_prn"));
        QVERIFY(amount >= 0);
        const QRectF start = savedBoxOf(amount);
        pressKeys(preview_.get(), QStringLiteral("Ctrl+L"));
        preview_->selectItem(amount);
        pressKeys(preview_.get(), keys + QStringLiteral(", Alt+S"));
        QVERIFY2(MessageBox::seam().requests().isEmpty(), qPrintable(MessageBox::seam().requests().value(0).text));
        QVERIFY(sameMm(savedBoxOf(amount).width(), start.width() + change));
        QCOMPARE(savedBoxOf(amount), preview_->document().itemBox(amount));
        QVERIFY(!button("btnSaveLayout")->isEnabled());
    }
};

QTEST_MAIN(TestLayoutMode)
#include "tst_layoutmode.moc"

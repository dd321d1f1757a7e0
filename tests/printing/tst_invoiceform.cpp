// The print window: its layout and keyboard, the fixed-date panel kept across showings, marking and
// unmarking every member (also when a post fails half-way), the bound editors on the shared current
// member, and the menu's printer setup and sender dialog.
#include "app/Program.h"
#include "app/Sender.h"
#include "app/Startup.h"
#include "common/DataFixture.h"
#include "common/ErrorBoxes.h"
#include "common/GuiFixture.h"
#include "common/Seams.h"
#include "data/Error.h"
#include "gui/DbControls.h"
#include "gui/DbGrid.h"
#include "gui/ErrorReporter.h"
#include "gui/FindBar.h"
#include "gui/MessageBox.h"
#include "gui/PrintSetup.h"
#include "printing/Invoice.h"
#include "roster/model/RecordRules.h"
#include "settings/SenderSettings.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

using halvenna::DbCheckBox;
using halvenna::DbGrid;
using halvenna::FieldLineEdit;
using halvenna::FieldValue;
using halvenna::MessageBox;
using halvenna::Table;
using halvenna::TableState;

Q_DECLARE_METATYPE(Qt::CheckState)

namespace {

const QString kNull = QStringLiteral("<null>");

QByteArray sj(const QString& s)
{
    return halvenna::sjis::fromUnicode(s);
}

template <typename T = QWidget> T* child(const QString& name)
{
    T* w = InvoiceForm->findChild<T*>(name);
    if (!w)
        qWarning("no %s", qPrintable(name));
    return w;
}

// Rows of a query on a table file, read past the table layer: what is committed.
QList<QStringList> stored(const QString& file, const char* sql)
{
    QList<QStringList> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {{QStringLiteral("<cannot open>")}};
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                row << (sqlite3_column_type(st, i) == SQLITE_NULL
                            ? kNull
                            : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i))));
            rows << row;
        }
    } else {
        rows << QStringList{QString::fromUtf8(sqlite3_errmsg(db))};
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

void clickRow(DbGrid* grid, int row)
{
    const QModelIndex index = grid->gridModel()->index(row, 0);
    grid->scrollTo(index);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
}

QString controlText(QWidget* w)
{
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    return QStringLiteral("<not a text control>");
}

// Types into an edit or an editable combo box, replacing what it shows.
void retype(QWidget* w, const QString& text)
{
    w->setFocus(Qt::TabFocusReason);
    if (auto* combo = qobject_cast<QComboBox*>(w))
        combo->lineEdit()->selectAll();
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->selectAll();
    if (!controlText(w).isEmpty())
        QTest::keyClick(w, Qt::Key_Delete);
    typeText(w, text);
}

// Chooses a combo box's last item (the two spaces) with the arrow keys.
void chooseLastItem(QComboBox* combo)
{
    combo->setFocus(Qt::TabFocusReason);
    for (int guard = 0; combo->currentIndex() != combo->count() - 1 && guard < 40; ++guard)
        QTest::keyClick(combo, Qt::Key_Down);
}

QColor pixelAt(QWidget* w, QPoint p)
{
    return w->grab().toImage().pixelColor(p);
}

} // namespace

class TestInvoiceForm : public QObject
{
    Q_OBJECT

private:
    // What the windows are given: the program's folder, the sender settings, the remembered dates.
    halvenna::Program program_;
    std::unique_ptr<DataFixture> data_;

    Table& members() { return data_->dm->tbMemberMaster; }
    Table& contents() { return data_->dm->tbContents; }
    Table& account() { return data_->dm->tbAccount; }
    QString file(const char* name) const { return QDir(data_->dir.path()).filePath(QLatin1String(name)); }

    // Three members with postal codes and telephones, the first one current.
    void rosterOfThree()
    {
        data_->addMember(1, QStringLiteral("山田太郎"), QStringLiteral("150-0001"), QStringLiteral("03-1234-5678"));
        data_->addMember(2, QStringLiteral("佐藤花子"), QStringLiteral("530-0001"), QStringLiteral("06-1111-2222"));
        data_->addMember(3, QStringLiteral("鈴木一郎"), QStringLiteral("060-0001"), QStringLiteral("011-333-4444"));
        members().first();
    }

    void setPrint(int id, const FieldValue& value)
    {
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(id)));
        members().edit();
        members().setFieldValue(QStringLiteral("print"), value);
        members().post();
    }

    void setItem(int id, const QString& item)
    {
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(id)));
        contents().edit();
        contents().setFieldValue(QStringLiteral("item"), FieldValue::fromString(item));
        contents().post();
    }

    // Writes print fields that no rule would give, past the member rule.
    void makePrintFieldsStale()
    {
        auto rule = members().beforePost;
        members().beforePost = nullptr;
        for (members().first(); !members().eof(); members().next()) {
            members().edit();
            for (const char* f : {"zip_f", "zip_r", "tel_f", "tel_m", "tel_r"})
                members().setFieldValue(QLatin1String(f), FieldValue::text("stale"));
            members().post();
        }
        members().beforePost = rule;
        members().first();
    }

    void open()
    {
        InvoiceForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(InvoiceForm));
        InvoiceForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(InvoiceForm));
    }

private Q_SLOTS:
    void initTestCase()
    {
        halvenna::installJapaneseFont();
        halvenna::installAccessibleNames();
        new TSenderForm(program_);
    }

    void cleanupTestCase() { delete SenderForm; }

    void init()
    {
        seams::begin();
        data_ = std::make_unique<DataFixture>();
        InvoiceForm = new TInvoiceForm(data_->dm.get(), program_.senderSettings, program_.appDir, program_.fixedDates);
    }

    void cleanup()
    {
        delete InvoiceForm;
        InvoiceForm = nullptr;
        data_.reset();
        seams::end();
    }

    // ------------------------------------------------------------ the window

    void windowShape()
    {
        open();
        QCOMPARE(InvoiceForm->windowTitle(), QStringLiteral("Halvenna"));
        auto* menu = child<QMenuBar>(QStringLiteral("MainMenu1"));
        auto* client = child(QStringLiteral("ClientArea"));
        QCOMPARE(client->geometry(), QRect(0, menu->height(), 674, 573));
        QCOMPARE(InvoiceForm->size(), QSize(674, 573 + menu->height()));
        QVERIFY(InvoiceForm->minimumSize() != InvoiceForm->maximumSize());
        const Qt::WindowFlags flags = InvoiceForm->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint) && flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint) && flags.testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(InvoiceForm->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(QFontInfo(InvoiceForm->font()).family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(InvoiceForm->font().pixelSize(), 12);
        // The initial focus is on the member grid.
        QCOMPARE(QApplication::focusWidget(), child(QStringLiteral("dbgMemberMaster")));
        // No button is the window's default.
        for (QPushButton* b : InvoiceForm->findChildren<QPushButton*>())
            QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        const QString client = QStringLiteral("ClientArea");
        auto row = [](const char* name, const QString& parent, QRect r, const char* text, int px, bool bold = false) {
            QTest::newRow(name) << parent << r << QString::fromUtf8(text) << px << bold;
        };
        row("Label12", client, {0, 0, 569, 33}, "Halvenna", 24, true);
        row("BitBtn1", client, {584, 11, 75, 25}, "閉じる", 12);
        row("Label1", client, {8, 53, 68, 16}, "登録名簿", 16, true);
        row("DBNavigator1", client, {80, 48, 112, 25}, "", 12);
        row("dbgMemberMaster", client, {8, 80, 185, 482}, "", 12);
        row("Bevel3", client, {200, 48, 129, 89}, "", 12);
        row("dbcbPrintEnb", client, {208, 56, 121, 17}, "この人を印刷する", 12);
        row("btnAllCheck", client, {232, 80, 73, 20}, "すべて", 12);
        row("btnAllClear", client, {232, 104, 73, 20}, " クリア", 12);
        row("GroupBox3", client, {336, 40, 161, 97}, "送り状", 12);
        row("btnInvoiceAllPrn", "GroupBox3", {14, 32, 131, 41}, "まとめて印刷", 12);
        row("GroupBox4", client, {504, 40, 161, 97}, "払込取扱票", 12);
        row("btnAccountAllPrn", "GroupBox4", {14, 32, 131, 41}, "まとめて印刷", 12);
        row("Panel1", client, {200, 144, 465, 97}, "", 12);
        row("GroupBox1", client, {200, 248, 465, 231}, "送り状内容", 21, true);
        row("GroupBox2", client, {200, 480, 465, 89}, "払込取扱票", 21, true);

        row("cbConstDate", "Panel1", {16, 8, 169, 17}, "印刷時この日付を使用する", 12);
        row("Label14", "Panel1", {8, 30, 45, 15}, "受付日", 15);
        row("Bevel4", "Panel1", {8, 48, 225, 41}, "", 12);
        row("edReceiptYear", "Panel1", {16, 56, 49, 24}, "", 16);
        row("Label15", "Panel1", {66, 61, 15, 15}, "年", 15);
        row("cmbReceiptMonth", "Panel1", {88, 56, 49, 24}, "", 16);
        row("Label16", "Panel1", {136, 61, 15, 15}, "月", 15);
        row("cmbReceiptDay", "Panel1", {160, 56, 49, 24}, "", 16);
        row("Label17", "Panel1", {208, 61, 15, 15}, "日", 15);
        row("Label18", "Panel1", {248, 30, 88, 15}, "お届け予定日", 15);
        row("Bevel5", "Panel1", {243, 48, 217, 41}, "", 12);
        row("edDeliveryYear", "Panel1", {248, 56, 49, 24}, "", 16);
        row("Label19", "Panel1", {298, 61, 15, 15}, "年", 15);
        row("cmbDeliveryMonth", "Panel1", {320, 56, 49, 24}, "", 16);
        row("Label20", "Panel1", {368, 61, 15, 15}, "月", 15);
        row("cmbDeliveryDay", "Panel1", {392, 56, 49, 24}, "", 16);
        row("Label21", "Panel1", {440, 61, 15, 15}, "日", 15);

        row("btnPrnCurrent", "GroupBox1", {152, 24, 201, 25}, "　１通　送り状印刷", 15);
        row("Label4", "GroupBox1", {8, 62, 45, 15}, "受付日", 15);
        row("Bevel1", "GroupBox1", {8, 80, 225, 41}, "", 21, true);
        row("DBEdit1", "GroupBox1", {24, 88, 49, 23}, "", 15);
        row("Label6", "GroupBox1", {74, 93, 15, 15}, "年", 15);
        row("DBComboBox1", "GroupBox1", {96, 88, 49, 23}, "", 15);
        row("Label7", "GroupBox1", {144, 93, 15, 15}, "月", 15);
        row("DBComboBox2", "GroupBox1", {168, 88, 49, 23}, "", 15);
        row("Label8", "GroupBox1", {216, 93, 15, 15}, "日", 15);
        row("Label5", "GroupBox1", {240, 62, 88, 15}, "お届け予定日", 15);
        row("Bevel2", "GroupBox1", {240, 80, 217, 41}, "", 21, true);
        row("DBEdit2", "GroupBox1", {248, 88, 49, 23}, "", 15);
        row("Label9", "GroupBox1", {298, 93, 15, 15}, "年", 15);
        row("DBComboBox3", "GroupBox1", {320, 88, 49, 23}, "", 15);
        row("Label10", "GroupBox1", {368, 93, 15, 15}, "月", 15);
        row("DBComboBox4", "GroupBox1", {392, 88, 49, 23}, "", 15);
        row("Label11", "GroupBox1", {440, 93, 15, 15}, "日", 15);
        row("Label2", "GroupBox1", {24, 128, 30, 15}, "品名", 15);
        row("DBEdit4", "GroupBox1", {32, 144, 425, 24}, "", 16);
        row("Label3", "GroupBox1", {24, 184, 45, 15}, "個口数", 15);
        row("dbcmbValue", "GroupBox1", {32, 200, 73, 23}, "", 15);

        row("Label13", "GroupBox2", {24, 29, 30, 15}, "金額", 15);
        row("DBEdit3", "GroupBox2", {32, 49, 97, 24}, "", 16);
        row("btnAccountPrn", "GroupBox2", {152, 24, 201, 25}, "　１通　払込取扱票印刷", 15);
    }

    // Every control at its place, with its caption and font. A label stands at its place and grows
    // where the font needs more room, so that its text is never cut.
    void layout()
    {
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        open();
        QWidget* w = child(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(w);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        if (auto* l = qobject_cast<QLabel*>(w)) {
            QCOMPARE(l->text(), text);
            QCOMPARE(l->pos(), geometry.topLeft());
            QVERIFY(l->width() >= geometry.width() && l->height() >= geometry.height());
            QVERIFY(l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height());
        } else {
            QCOMPARE(w->geometry(), geometry);
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                QCOMPARE(b->text(), text);
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                QCOMPARE(g->title(), text);
            else
                QCOMPARE(text, QString());
        }
        QCOMPARE(w->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(w->font().pixelSize(), pixelSize);
        QCOMPARE(w->font().bold(), bold);
    }

    void colours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("colour");
        const QPalette app = QApplication::palette();
        const QColor windowText = app.color(QPalette::WindowText);
        auto row = [](const char* tag, const char* name, QPalette::ColorRole role, const QColor& c) {
            QTest::newRow(tag) << QString::fromLatin1(name) << int(role) << c;
        };
        row("window background", "InvoiceForm", QPalette::Window, app.color(QPalette::Button));
        row("banner background", "Label12", QPalette::Window, QColor(0, 174, 174));
        row("banner text", "Label12", QPalette::WindowText, QColor(0, 0, 255));
        row("panel background", "Panel1", QPalette::Window, QColor(255, 255, 196));
        row("panel label", "Label14", QPalette::WindowText, windowText);
        row("contents background", "GroupBox1", QPalette::Window, QColor(166, 202, 240));
        row("contents caption", "GroupBox1", QPalette::WindowText, QColor(0, 0, 255));
        row("contents label", "Label4", QPalette::WindowText, windowText);
        row("contents combo", "DBComboBox1", QPalette::Text, app.color(QPalette::Text));
        row("contents year", "DBEdit1", QPalette::Text, app.color(QPalette::Text));
        row("contents button", "btnPrnCurrent", QPalette::ButtonText, app.color(QPalette::ButtonText));
        row("item edit", "DBEdit4", QPalette::Text, QColor(Qt::black));
        row("payment background", "GroupBox2", QPalette::Window, QColor(255, 208, 208));
        row("payment caption", "GroupBox2", QPalette::WindowText, QColor(255, 0, 0));
        row("amount label", "Label13", QPalette::WindowText, QColor(Qt::black));
        row("payment button", "btnAccountPrn", QPalette::ButtonText, QColor(Qt::black));
        row("waybill box", "GroupBox3", QPalette::WindowText, QColor(0, 0, 255));
        row("waybill box button", "btnInvoiceAllPrn", QPalette::ButtonText, QColor(0, 0, 255));
        row("slip box", "GroupBox4", QPalette::WindowText, QColor(255, 0, 0));
        row("slip box button", "btnAccountAllPrn", QPalette::ButtonText, QColor(255, 0, 0));
    }

    void colours()
    {
        QFETCH(QString, name);
        QFETCH(int, role);
        QFETCH(QColor, colour);
        QWidget* w = name == u"InvoiceForm" ? InvoiceForm : child(name);
        QVERIFY(w);
        QCOMPARE(w->palette().color(QPalette::ColorRole(role)), colour);
    }

    // The coloured areas as they are painted: an empty spot of each.
    void paintedBackgrounds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("spot");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("banner") << "Label12" << QPoint(5, 5) << QColor(0, 174, 174);
        QTest::newRow("panel") << "Panel1" << QPoint(300, 20) << QColor(255, 255, 196);
        QTest::newRow("contents") << "GroupBox1" << QPoint(300, 200) << QColor(166, 202, 240);
        QTest::newRow("payment") << "GroupBox2" << QPoint(420, 60) << QColor(255, 208, 208);
        QTest::newRow("window") << "ClientArea" << QPoint(150, 40) << QApplication::palette().color(QPalette::Button);
    }

    void paintedBackgrounds()
    {
        QFETCH(QString, name);
        QFETCH(QPoint, spot);
        QFETCH(QColor, colour);
        open();
        // The platform style may shade the inside of a group box's frame a little.
        const QColor painted = pixelAt(child(name), spot);
        QVERIFY2(qAbs(painted.red() - colour.red()) <= 4 && qAbs(painted.green() - colour.green()) <= 4 &&
                     qAbs(painted.blue() - colour.blue()) <= 4,
                 qPrintable(painted.name() + QStringLiteral(" for ") + colour.name()));
    }

    void glyphs_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* b : {"BitBtn1", "btnAllCheck", "btnAllClear", "btnInvoiceAllPrn", "btnAccountAllPrn",
                              "btnPrnCurrent", "btnAccountPrn"})
            QTest::newRow(b) << QString::fromLatin1(b);
    }

    // Each button carries a 16 x 16 picture with a greyed twin for the disabled button.
    void glyphs()
    {
        QFETCH(QString, name);
        auto* b = child<QPushButton>(name);
        QVERIFY(b && !b->icon().isNull());
        QCOMPARE(b->iconSize(), QSize(16, 16));
        const QImage normal = b->icon().pixmap(16, QIcon::Normal).toImage();
        const QImage disabled = b->icon().pixmap(16, QIcon::Disabled).toImage();
        QVERIFY(!normal.isNull() && !disabled.isNull());
        QVERIFY(normal != disabled);
    }

    void comboItems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("last");
        QTest::newRow("DBComboBox1") << "DBComboBox1" << 12;
        QTest::newRow("DBComboBox2") << "DBComboBox2" << 31;
        QTest::newRow("DBComboBox3") << "DBComboBox3" << 12;
        QTest::newRow("DBComboBox4") << "DBComboBox4" << 31;
        QTest::newRow("dbcmbValue") << "dbcmbValue" << 10;
        QTest::newRow("cmbReceiptMonth") << "cmbReceiptMonth" << 12;
        QTest::newRow("cmbReceiptDay") << "cmbReceiptDay" << 31;
        QTest::newRow("cmbDeliveryMonth") << "cmbDeliveryMonth" << 12;
        QTest::newRow("cmbDeliveryDay") << "cmbDeliveryDay" << 31;
    }

    // "1" to the last number, then two spaces; free text is accepted too.
    void comboItems()
    {
        QFETCH(QString, name);
        QFETCH(int, last);
        auto* c = child<QComboBox>(name);
        QVERIFY(c);
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        QStringList expected;
        for (int i = 1; i <= last; ++i)
            expected << QString::number(i);
        expected << QStringLiteral("  ");
        QCOMPARE(items, expected);
        QVERIFY(c->isEditable());
        QVERIFY(qobject_cast<FieldLineEdit*>(c->lineEdit()));
        QCOMPARE(c->insertPolicy(), QComboBox::NoInsert);
    }

    void gridColumns()
    {
        rosterOfThree();
        auto* grid = child<DbGrid>(QStringLiteral("dbgMemberMaster"));
        QVERIFY(grid->isReadOnly());
        QCOMPARE(grid->gridModel()->columnCount(), 2);
        QCOMPARE(grid->gridModel()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ID番号"));
        QCOMPARE(grid->gridModel()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("氏名"));
        QVERIFY(grid->columnWidth(0) >= 43);
        // Six digits whole, as the style draws the cell (it cut 123456 to "123…").
        QCOMPARE(shownInCell(grid, 0, QStringLiteral("123456")), QStringLiteral("123456"));
        QCOMPARE(grid->columnWidth(0), qMax(43, grid->widthForDigits(6)));
        QCOMPARE(grid->columnWidth(1), 102);
        QCOMPARE(grid->gridModel()->index(1, 1).data().toString(), QStringLiteral("佐藤花子"));
        QCOMPARE(grid->dataSource(), &data_->dm->tbMemberMasterDataSource);
    }

    // Tab walks the window's controls in their order (disabled navigator buttons skipped) and
    // comes back round to the grid.
    void tabOrder()
    {
        rosterOfThree();
        open();
        QTRY_COMPARE(QApplication::focusWidget(), child(QStringLiteral("dbgMemberMaster")));
        QStringList visited;
        for (int i = 0; i < 40; ++i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget()->objectName() == u"dbgMemberMaster")
                break;
        }
        const QStringList expected{"dbgMemberMaster", "btnPrnCurrent",   "dbcmbValue",       "DBComboBox1",
                                   "DBEdit1",         "DBComboBox2",     "DBEdit2",          "DBComboBox3",
                                   "DBComboBox4",     "DBEdit4",         "DBEdit3",          "btnAccountPrn",
                                   "dbcbPrintEnb",    "BitBtn1",         "btnInvoiceAllPrn", "btnAccountAllPrn",
                                   "btnAllCheck",     "btnAllClear",     "nextButton",       "lastButton",
                                   "cbConstDate",     "cmbReceiptMonth", "cmbReceiptDay",    "cmbDeliveryMonth",
                                   "cmbDeliveryDay",  "edReceiptYear",   "edDeliveryYear"};
        QCOMPARE(visited, expected);
        // Nothing was changed on the way.
        QCOMPARE(contents().state(), TableState::Browse);
        QCOMPARE(members().state(), TableState::Browse);
    }

    // The find bar over the member grid: the contents and the amount follow the member found; with
    // the bar open, Tab runs bar, close button, grid, and Esc closes the bar, not the window.
    void searchMovesTheContentsToo()
    {
        rosterOfThree();
        setItem(1, QStringLiteral("りんご"));
        setItem(3, QStringLiteral("みかん"));
        members().first();
        open();
        auto* bar = InvoiceForm->findChild<halvenna::FindBar*>(QStringLiteral("FindBar"));
        auto* grid = child(QStringLiteral("dbgMemberMaster"));
        const QRect place = grid->geometry();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->geometry().width(), place.width());
        QCOMPARE(grid->geometry(), place.adjusted(0, bar->height(), 0, 0));
        typeText(QStringLiteral("０６０"));
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")).asInteger(), 3);
        QCOMPARE(controlText(child(QStringLiteral("DBEdit4"))), QStringLiteral("みかん"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")).asInteger(), 3); // the only match
        QVERIFY(!bar->notFound());

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("btnFindClose"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), grid);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("edFind"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(InvoiceForm->isVisible());
        QVERIFY(!bar->isVisible());
        QCOMPARE(grid->geometry(), place);
        QCOMPARE(controlText(child(QStringLiteral("DBEdit4"))), QStringLiteral("みかん"));
        QCOMPARE(contents().state(), TableState::Browse);
    }

    void accessibleNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("accessibleName");
        auto row = [](const char* name, const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(expected);
        };
        row("dbgMemberMaster", "登録名簿");
        row("edReceiptYear", "受付日");
        row("cmbReceiptMonth", "受付日 月");
        row("cmbReceiptDay", "受付日 日");
        row("edDeliveryYear", "お届け予定日");
        row("cmbDeliveryMonth", "お届け予定日 月");
        row("cmbDeliveryDay", "お届け予定日 日");
        row("DBEdit1", "受付日");
        row("DBComboBox1", "受付日 月");
        row("DBComboBox2", "受付日 日");
        row("DBEdit2", "お届け予定日");
        row("DBComboBox3", "お届け予定日 月");
        row("DBComboBox4", "お届け予定日 日");
        row("DBEdit4", "品名");
        row("dbcmbValue", "個口数");
        row("DBEdit3", "金額");
        row("dbcbPrintEnb", "この人を印刷する");
        row("cbConstDate", "印刷時この日付を使用する");
        row("btnAllClear", "クリア");
        row("btnInvoiceAllPrn", "送り状をまとめて印刷");
        row("btnAccountAllPrn", "払込取扱票をまとめて印刷");
        row("btnPrnCurrent", "１通 送り状印刷");
        row("btnAccountPrn", "１通 払込取扱票印刷");
        row("edFind", "検索");
    }

    // What assistive technology reads for each input: its label's text or a name of its own.
    void accessibleNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, accessibleName);
        open();
        QWidget* w = child(name);
        QVERIFY(w);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QVERIFY(a);
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // A box holding a value is still read by its name, the value as its value.
            combo->setEditText(QStringLiteral("12"));
            QCOMPARE(a->text(QAccessible::Name), accessibleName);
            QCOMPARE(a->text(QAccessible::Value), QStringLiteral("12"));
            QCOMPARE(a->role(), QAccessible::ComboBox);
        } else {
            QCOMPARE(a->text(QAccessible::Name), accessibleName);
        }
    }

    // Every control the focus can reach has a name to be read.
    void everyFocusableControlIsNamed()
    {
        rosterOfThree();
        open();
        int checked = 0;
        for (QWidget* w : InvoiceForm->findChildren<QWidget*>())
            checked += w->focusPolicy() != Qt::NoFocus && !w->focusProxy() && w->isVisibleTo(InvoiceForm) ? 1 : 0;
        QVERIFY(checked >= 27);
        // The fixed dates hold values ("12", "10"): each box is still read by what it is.
        for (const char* box : {"cmbReceiptMonth", "cmbReceiptDay", "cmbDeliveryMonth", "cmbDeliveryDay"})
            qobject_cast<QComboBox*>(child(QLatin1String(box)))->setEditText(QStringLiteral("10"));
        QVERIFY2(unnamedInputs(InvoiceForm).isEmpty(), qPrintable(unnamedInputs(InvoiceForm).join(u", ")));
        // Walked as a screen reader walks it: the edits inside the combo boxes, the frames round
        // the dates and every button named, without blanks or access keys, no two buttons alike.
        QCOMPARE(badlyNamedInWalk(InvoiceForm), QStringList());
        QStringList buttons;
        for (QPushButton* b : InvoiceForm->findChildren<QPushButton*>())
            if (b->isVisibleTo(InvoiceForm))
                buttons << QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name);
        for (const QString& name : buttons)
            QVERIFY2(buttons.count(name) == 1, qPrintable(name));
    }

    void keys_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        for (const char* f : {"dbgMemberMaster", "edReceiptYear", "cmbReceiptDay", "DBEdit4", "DBEdit3", "cbConstDate",
                              "dbcbPrintEnb"}) {
            QTest::newRow(QByteArray(f).append(" Esc").constData()) << QString::fromLatin1(f) << int(Qt::Key_Escape);
            QTest::newRow(QByteArray(f).append(" Enter").constData()) << QString::fromLatin1(f) << int(Qt::Key_Return);
        }
    }

    // Enter and Esc mean nothing to the window: it stays open, no button is pressed, nothing changes.
    void keys()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        rosterOfThree();
        open();
        QWidget* w = child(focus);
        w->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), w);
        const FixedDatesData before = program_.fixedDates;
        QTest::keyClick(w, Qt::Key(key));
        QCoreApplication::processEvents();
        QVERIFY(InvoiceForm->isVisible());
        QVERIFY(program_.fixedDates == before);
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(contents().state(), TableState::Browse);
        QCOMPARE(members().fieldValue(QStringLiteral("print")), FieldValue());
        QVERIFY(MessageBox::seam().requests().isEmpty());
    }

    // Enter on a focused button presses it (here "閉じる", which closes the window).
    void enterPressesTheFocusedButton()
    {
        open();
        auto* close = child<QPushButton>(QStringLiteral("BitBtn1"));
        close->setFocus(Qt::TabFocusReason);
        QTest::keyClick(close, Qt::Key_Return);
        QTRY_VERIFY(!InvoiceForm->isVisible());
    }

    void anchors_data()
    {
        QTest::addColumn<int>("dw");
        QTest::addColumn<int>("dh");
        QTest::newRow("designed size") << 0 << 0;
        QTest::newRow("wider and taller") << 120 << 200;
        QTest::newRow("wider only") << 300 << 0;
        QTest::newRow("taller only") << 0 << 100;
        QTest::newRow("smaller") << -60 << -80;
    }

    // The banner widens, "閉じる" keeps to the right edge and its share of the height, the grid grows
    // downwards; the contents group takes the extra height and the payment group follows the bottom
    // edge with its own height, both taking the extra width; everything else stays.
    void anchors()
    {
        QFETCH(int, dw);
        QFETCH(int, dh);
        open();
        QWidget* client = child(QStringLiteral("ClientArea"));
        InvoiceForm->resize(InvoiceForm->width() + dw, InvoiceForm->height() + dh);
        QTRY_COMPARE(client->size(), QSize(674 + dw, 573 + dh));
        QCOMPARE(child(QStringLiteral("Label12"))->geometry(), QRect(0, 0, 569 + dw, 33));
        const QRect close = child(QStringLiteral("BitBtn1"))->geometry();
        QCOMPARE(close.size(), QSize(75, 25));
        QCOMPARE(close.left(), 584 + dw);
        const double share = (close.top() + 12.5) / client->height();
        QVERIFY2(qAbs(share - 23.5 / 573) < 1.5 / client->height(), qPrintable(QString::number(close.top())));
        QCOMPARE(child(QStringLiteral("dbgMemberMaster"))->geometry(), QRect(8, 80, 185, 482 + dh));
        const QRect contents = child(QStringLiteral("GroupBox1"))->geometry();
        const QRect payment = child(QStringLiteral("GroupBox2"))->geometry();
        QCOMPARE(contents, QRect(200, 248, 465 + dw, 231 + dh));
        QCOMPARE(payment, QRect(200, 480 + dh, 465 + dw, 89));
        QVERIFY(!contents.intersects(payment));
        QCOMPARE(payment.bottom(), client->height() - 5);
        QCOMPARE(child(QStringLiteral("Panel1"))->geometry(), QRect(200, 144, 465, 97));
        QCOMPARE(child(QStringLiteral("GroupBox3"))->geometry(), QRect(336, 40, 161, 97));
        QCOMPARE(child(QStringLiteral("DBNavigator1"))->geometry(), QRect(80, 48, 112, 25));
    }

    // Centred on the desktop the first time; later showings keep where it was left.
    void position()
    {
        open();
        const QRect available = InvoiceForm->screen()->availableGeometry();
        QVERIFY(qAbs(InvoiceForm->frameGeometry().center().x() - available.center().x()) <= 1);
        QVERIFY(qAbs(InvoiceForm->frameGeometry().center().y() - available.center().y()) <= 1);
        InvoiceForm->move(40, 30);
        const QPoint left = InvoiceForm->pos();
        InvoiceForm->close();
        QTRY_VERIFY(!InvoiceForm->isVisible());
        open();
        QCOMPARE(InvoiceForm->pos(), left);
    }

    // ------------------------------------------------------------ the fixed-date panel

    // The first showing of a run shows the dates the window was created with.
    void firstShowingShowsTheCreationDates()
    {
        const FixedDatesData created = program_.fixedDates;
        QVERIFY(created == initialFixedDates(QDate::currentDate()) ||
                created == initialFixedDates(QDate::currentDate().addDays(-1)));
        open();
        QCOMPARE(InvoiceForm->panelTexts(), created);
        QCOMPARE(child<QLineEdit>(QStringLiteral("edReceiptYear"))->text(), QString::fromLatin1(created.ReceiptYear));
        QCOMPARE(child<QComboBox>(QStringLiteral("cmbDeliveryDay"))->currentText(),
                 QString::fromLatin1(created.DeliveryDay));
        QVERIFY(!InvoiceForm->constDate());
    }

    void panelRoundTrip_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("texts"); // "<blank item>" chooses the two-space item
        const QStringList plain{"2025", "3", "31", "2025", "4", "1"};
        const QStringList odd{"令和7", "<blank item>", "末", "", "x", "<blank item>"};
        for (const char* how : {"閉じる", "閉じる by Enter", "終了", "close box", "reject", "done"}) {
            QTest::newRow(QByteArray(how).append(" plain").constData()) << QString::fromUtf8(how) << plain;
            QTest::newRow(QByteArray(how).append(" odd").constData()) << QString::fromUtf8(how) << odd;
        }
    }

    // Whatever the panel holds when the window closes, by any way, is shown again unchanged at the
    // next showing; the check box keeps its state.
    void panelRoundTrip()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, texts);
        open();
        const char* names[] = {"edReceiptYear",  "cmbReceiptMonth",  "cmbReceiptDay",
                               "edDeliveryYear", "cmbDeliveryMonth", "cmbDeliveryDay"};
        QStringList expected;
        for (int i = 0; i < 6; ++i) {
            QWidget* w = child(QLatin1String(names[i]));
            if (texts.at(i) == u"<blank item>") {
                chooseLastItem(qobject_cast<QComboBox*>(w));
                expected << QStringLiteral("  ");
            } else {
                retype(w, texts.at(i));
                expected << texts.at(i);
            }
            QCOMPARE(controlText(w), expected.last());
        }
        QTest::mouseClick(child<QCheckBox>(QStringLiteral("cbConstDate")), Qt::LeftButton);
        QVERIFY(InvoiceForm->constDate());

        if (how == u"閉じる") {
            QTest::mouseClick(child<QPushButton>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        } else if (how == u"閉じる by Enter") {
            child(QStringLiteral("BitBtn1"))->setFocus(Qt::TabFocusReason);
            QTest::keyClick(child(QStringLiteral("BitBtn1")), Qt::Key_Return);
        } else if (how == u"終了") {
            child<QAction>(QStringLiteral("N3"))->trigger();
        } else if (how == u"close box") {
            InvoiceForm->close();
        } else if (how == u"reject") {
            InvoiceForm->reject();
        } else {
            InvoiceForm->done(QDialog::Accepted);
        }
        QTRY_VERIFY(!InvoiceForm->isVisible());
        const FixedDatesData kept{sj(expected[0]), sj(expected[1]), sj(expected[2]),
                                  sj(expected[3]), sj(expected[4]), sj(expected[5])};
        QVERIFY(program_.fixedDates == kept);

        // Scribbled over while hidden: the next showing restores the kept texts.
        child<QLineEdit>(QStringLiteral("edReceiptYear"))->setText(QStringLiteral("9999"));
        child<QComboBox>(QStringLiteral("cmbDeliveryDay"))->setEditText(QStringLiteral("9"));
        open();
        for (int i = 0; i < 6; ++i)
            QCOMPARE(controlText(child(QLatin1String(names[i]))), expected.at(i));
        QCOMPARE(InvoiceForm->panelTexts(), kept);
        QVERIFY(InvoiceForm->constDate());
        QVERIFY(MessageBox::seam().requests().isEmpty());
    }

    void panelRefusesWhatCodePage932CannotHold_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("part");
        QTest::newRow("edit") << "edDeliveryYear" << 3;
        QTest::newRow("combo") << "cmbReceiptMonth" << 1;
    }

    // A character code page 932 has no form for is refused where it is typed; what stands is kept.
    void panelRefusesWhatCodePage932CannotHold()
    {
        QFETCH(QString, name);
        QFETCH(int, part);
        open();
        QWidget* w = child(name);
        retype(w, QStringLiteral("令和"));
        typeText(w, QStringLiteral("😀"));
        QCOMPARE(controlText(w), QStringLiteral("令和"));
        InvoiceForm->close();
        QTRY_VERIFY(!InvoiceForm->isVisible());
        const QByteArray parts[] = {program_.fixedDates.ReceiptYear,   program_.fixedDates.ReceiptMonth,
                                    program_.fixedDates.ReceiptDay,    program_.fixedDates.DeliveryYear,
                                    program_.fixedDates.DeliveryMonth, program_.fixedDates.DeliveryDay};
        QCOMPARE(parts[part], sj(QStringLiteral("令和")));
        QVERIFY(MessageBox::seam().requests().isEmpty());
    }

    // ------------------------------------------------------------ marking every member

    void markEveryMember_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("value");
        QTest::addColumn<QList<FieldValue>>("before");
        const QList<FieldValue> mixed{FieldValue(), FieldValue::logical(false), FieldValue::logical(true)};
        const QList<FieldValue> allTrue(3, FieldValue::logical(true));
        const QList<FieldValue> allFalse(3, FieldValue::logical(false));
        QTest::newRow("すべて, mixed marks") << "btnAllCheck" << true << mixed;
        QTest::newRow("すべて, none marked") << "btnAllCheck" << true << allFalse;
        QTest::newRow("クリア, mixed marks") << "btnAllClear" << false << mixed;
        QTest::newRow("クリア, all marked") << "btnAllClear" << false << allTrue;
    }

    // Every member gets the mark, the first included, each posted through the member rule (the print
    // fields derived afresh) and stored; the window ends on the first member, its detail editors too.
    void markEveryMember()
    {
        QFETCH(QString, button);
        QFETCH(bool, value);
        QFETCH(QList<FieldValue>, before);
        rosterOfThree();
        for (int i = 0; i < 3; ++i)
            setPrint(i + 1, before.at(i));
        setItem(1, QStringLiteral("りんご"));
        setItem(3, QStringLiteral("みかん"));
        makePrintFieldsStale();
        open();
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(3)));
        QCOMPARE(child<QLineEdit>(QStringLiteral("DBEdit4"))->text(), QStringLiteral("みかん"));

        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);

        QVERIFY(MessageBox::seam().requests().isEmpty());
        const QString mark = value ? QStringLiteral("1") : QStringLiteral("0");
        QList<QStringList> expected;
        for (const auto& [id, zip, tel] :
             {std::tuple{"1", "150-0001", "03-1234-5678"}, std::tuple{"2", "530-0001", "06-1111-2222"},
              std::tuple{"3", "060-0001", "011-333-4444"}}) {
            const auto z = halvenna::rules::splitZipAndTel(FieldValue::text(zip), FieldValue::text(tel));
            expected << QStringList{QLatin1String(id),           mark,
                                    QString::fromLatin1(z.zipF), QString::fromLatin1(z.zipR),
                                    QString::fromLatin1(z.telF), QString::fromLatin1(z.telM),
                                    QString::fromLatin1(z.telR)};
        }
        QCOMPARE(stored(file("MemberMaster.db"),
                        "SELECT id_no, print, zip_f, zip_r, tel_f, tel_m, tel_r FROM MemberMaster ORDER BY id_no"),
                 expected);
        QCOMPARE(members().state(), TableState::Browse);
        QVERIFY(!members().controlsDisabled());
        QCOMPARE(members().recNo(), 0);
        QCOMPARE(child<DbGrid>(QStringLiteral("dbgMemberMaster"))->currentIndex().row(), 0);
        QCOMPARE(child<DbCheckBox>(QStringLiteral("dbcbPrintEnb"))->checkState(), value ? Qt::Checked : Qt::Unchecked);
        QCOMPARE(child<QLineEdit>(QStringLiteral("DBEdit4"))->text(), QStringLiteral("りんご"));
    }

    void markEveryMemberOfAnEmptyRoster_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("すべて") << "btnAllCheck";
        QTest::newRow("クリア") << "btnAllClear";
    }

    void markEveryMemberOfAnEmptyRoster()
    {
        QFETCH(QString, button);
        open();
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
        QVERIFY(MessageBox::seam().requests().isEmpty());
        QCOMPARE(members().recordCount(), 0);
        QCOMPARE(members().state(), TableState::Browse);
        QVERIFY(!members().controlsDisabled());
        QCOMPARE(stored(file("MemberMaster.db"), "SELECT COUNT(*) FROM MemberMaster"), QList<QStringList>{{"0"}});
    }

    void failedPostStopsMarking_data()
    {
        QTest::addColumn<int>("failing");
        QTest::newRow("first member") << 1;
        QTest::newRow("second member") << 2;
        QTest::newRow("third member") << 3;
    }

    // A post that fails stops the run: the error box shows, the members before keep their new mark
    // (stored), the failing one stays in edit state and current, those after keep their old mark,
    // and the controls follow the table again.
    void failedPostStopsMarking()
    {
        QFETCH(int, failing);
        rosterOfThree();
        open();
        auto rule = members().beforePost;
        members().beforePost = [&, rule](Table& t) {
            if (t.fieldValue(QStringLiteral("id_no")).asInteger() == failing)
                throw halvenna::Error(QStringLiteral("レコードはロックされています"));
            rule(t);
        };
        bool suspendedDuringBox = true;
        MessageBox::seam().answerWith([&](const MessageBox::Request&) {
            suspendedDuringBox = members().controlsDisabled();
            return QMessageBox::Ok;
        });

        QTest::mouseClick(child<QPushButton>(QStringLiteral("btnAllCheck")), Qt::LeftButton);

        errorboxes::expectOne(MessageBox::seam().requests(), QStringLiteral("レコードはロックされています."));
        QVERIFY(!suspendedDuringBox);
        QList<QStringList> expected;
        for (int id = 1; id <= 3; ++id)
            expected << QStringList{QString::number(id), id < failing ? QStringLiteral("1") : kNull};
        QCOMPARE(stored(file("MemberMaster.db"), "SELECT id_no, print FROM MemberMaster ORDER BY id_no"), expected);
        QCOMPARE(members().state(), TableState::Edit);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(failing));
        QVERIFY(!members().controlsDisabled());
        auto* grid = child<DbGrid>(QStringLiteral("dbgMemberMaster"));
        auto* box = child<DbCheckBox>(QStringLiteral("dbcbPrintEnb"));
        QCOMPARE(grid->currentIndex().row(), failing - 1);
        QCOMPARE(box->checkState(), Qt::Checked); // the failing member's unstored new mark

        // The controls follow the table again.
        members().beforePost = rule;
        members().cancel();
        members().last();
        QCOMPARE(grid->currentIndex().row(), 2);
        QCOMPARE(box->checkState(), Qt::PartiallyChecked); // never stored: still without a mark
        members().first();
        QCOMPARE(grid->currentIndex().row(), 0);
        QCOMPARE(box->checkState(), failing > 1 ? Qt::Checked : Qt::PartiallyChecked);
    }

    // ------------------------------------------------------------ the bound editors

    void contentsRowStartedByTyping_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("abandoned");
        QTest::addColumn<QString>("move");
        QTest::newRow("item changed, grid") << "DBEdit4"
                                            << "item"
                                            << "りんご" << false << "grid";
        QTest::newRow("item abandoned, grid") << "DBEdit4"
                                              << "item"
                                              << "りんご" << true << "grid";
        QTest::newRow("item changed, navigator") << "DBEdit4"
                                                 << "item"
                                                 << "りんご" << false << "navigator";
        QTest::newRow("item abandoned, navigator") << "DBEdit4"
                                                   << "item"
                                                   << "りんご" << true << "navigator";
        QTest::newRow("parcels changed") << "dbcmbValue"
                                         << "value"
                                         << "3" << false << "grid";
        QTest::newRow("parcels abandoned") << "dbcmbValue"
                                           << "value"
                                           << "3" << true << "grid";
        QTest::newRow("receipt day changed") << "DBComboBox2"
                                             << "receipt_day"
                                             << "15" << false << "navigator";
        QTest::newRow("delivery year changed") << "DBEdit2"
                                               << "delivery_year"
                                               << "2030" << false << "grid";
    }

    // Typing into a contents editor of a member without contents starts the row with today's and
    // tomorrow's dates; moving to another member stores it when something was written and drops it
    // when the typing was taken back (Esc).
    void contentsRowStartedByTyping()
    {
        QFETCH(QString, control);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, abandoned);
        QFETCH(QString, move);
        rosterOfThree();
        open();
        QWidget* editor = child(control);
        retype(editor, text);
        QCOMPARE(contents().state(), TableState::Insert);
        const QDate today = QDate::currentDate();
        QCOMPARE(child<QLineEdit>(QStringLiteral("DBEdit1"))->text(), QString::number(today.year()));
        if (abandoned) {
            QTest::keyClick(editor, Qt::Key_Escape);
            QVERIFY(InvoiceForm->isVisible());
        }
        if (move == u"grid")
            clickRow(child<DbGrid>(QStringLiteral("dbgMemberMaster")), 1);
        else
            QTest::mouseClick(
                child<halvenna::DbNavigator>(QStringLiteral("DBNavigator1"))->button(halvenna::DbNavigator::Next),
                Qt::LeftButton);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(2));
        QCOMPARE(contents().state(), TableState::Browse);
        QVERIFY(MessageBox::seam().requests().isEmpty());

        const QByteArray sql = "SELECT " + field.toLatin1() + ", receipt_year FROM Contents WHERE id_no = 1";
        const QList<QStringList> rows = stored(file("Contents.db"), sql.constData());
        if (abandoned) {
            QCOMPARE(rows, QList<QStringList>());
        } else {
            QCOMPARE(rows, (QList<QStringList>{{text, QString::number(today.year())}}));
        }
        // The editor now shows the second member's contents: none.
        QCOMPARE(controlText(editor), QString());
    }

    void amountPostedByTickingTheMark_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("amount");
        QTest::newRow("click") << "click"
                               << "1200";
        QTest::newRow("space") << "space"
                               << "1200";
        QTest::newRow("click, negative") << "click"
                                         << "-35";
    }

    // An amount typed and then the member ticked: the amount row is posted (its amount_prn derived)
    // before the member row enters edit state; the member then holds its new mark.
    void amountPostedByTickingTheMark()
    {
        QFETCH(QString, how);
        QFETCH(QString, amount);
        rosterOfThree();
        open();
        TableState memberStateAtAmountPost = TableState::Inactive;
        auto rule = account().beforePost;
        account().beforePost = [&, rule](Table& t) {
            memberStateAtAmountPost = members().state();
            rule(t);
        };
        retype(child(QStringLiteral("DBEdit3")), amount);
        QCOMPARE(account().state(), TableState::Insert);
        auto* box = child<DbCheckBox>(QStringLiteral("dbcbPrintEnb"));
        if (how == u"click") {
            QTest::mouseClick(box, Qt::LeftButton);
        } else {
            box->setFocus(Qt::TabFocusReason);
            QTest::keyClick(box, Qt::Key_Space);
        }
        QCOMPARE(memberStateAtAmountPost, TableState::Browse);
        QCOMPARE(account().state(), TableState::Browse);
        const QByteArray prn = halvenna::rules::amountPrintForm(FieldValue::integer(amount.toInt()));
        QCOMPARE(stored(file("Account.db"), "SELECT id_no, amount, amount_prn FROM Account"),
                 (QList<QStringList>{{"1", amount, QString::fromLatin1(prn)}}));
        QCOMPARE(members().state(), TableState::Edit);
        QCOMPARE(members().fieldValue(QStringLiteral("print")), FieldValue::logical(true));
        QCOMPARE(box->checkState(), Qt::Checked);
        account().beforePost = rule;
    }

    void printMarkCheckBox_data()
    {
        QTest::addColumn<FieldValue>("before");
        QTest::addColumn<Qt::CheckState>("shown");
        QTest::addColumn<QString>("after");
        QTest::newRow("null: greyed, marked by a click") << FieldValue() << Qt::PartiallyChecked << "1";
        QTest::newRow("false: marked by a click") << FieldValue::logical(false) << Qt::Unchecked << "1";
        QTest::newRow("true: unmarked by a click") << FieldValue::logical(true) << Qt::Checked << "0";
    }

    // The box shows the member's mark (greyed for none); a click writes the other mark, which is
    // stored when the user moves on.
    void printMarkCheckBox()
    {
        QFETCH(FieldValue, before);
        QFETCH(Qt::CheckState, shown);
        QFETCH(QString, after);
        rosterOfThree();
        setPrint(1, before);
        members().first();
        open();
        auto* box = child<DbCheckBox>(QStringLiteral("dbcbPrintEnb"));
        QCOMPARE(box->checkState(), shown);
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(box->checkState(), after == u"1" ? Qt::Checked : Qt::Unchecked);
        QTest::mouseClick(
            child<halvenna::DbNavigator>(QStringLiteral("DBNavigator1"))->button(halvenna::DbNavigator::Next),
            Qt::LeftButton);
        QCOMPARE(stored(file("MemberMaster.db"), "SELECT print FROM MemberMaster WHERE id_no = 1"),
                 QList<QStringList>{{after}});
        QCOMPARE(box->checkState(), Qt::PartiallyChecked); // the second member has no mark
    }

    void sharedCurrentMember_data()
    {
        QTest::addColumn<QString>("mover");
        QTest::addColumn<int>("row");
        QTest::newRow("another window's grid") << "other grid" << 2;
        QTest::newRow("this window's grid") << "print grid" << 1;
        QTest::newRow("this window's navigator, last") << "navigator" << 2;
    }

    // A grid of another window on the same source (as the roster window has) and this window show
    // one current member, whichever of them moves it.
    void sharedCurrentMember()
    {
        QFETCH(QString, mover);
        QFETCH(int, row);
        rosterOfThree();
        setPrint(3, FieldValue::logical(true));
        setItem(2, QStringLiteral("りんご"));
        setItem(3, QStringLiteral("みかん"));
        members().first();
        DbGrid other;
        other.setColumns({{QStringLiteral("id_no"), QStringLiteral("番号"), 60}});
        other.setDataSource(&data_->dm->tbMemberMasterDataSource);
        other.resize(200, 200);
        other.show();
        open();
        auto* grid = child<DbGrid>(QStringLiteral("dbgMemberMaster"));
        QCOMPARE(other.currentIndex().row(), 0);
        if (mover == u"other grid")
            clickRow(&other, row);
        else if (mover == u"print grid")
            clickRow(grid, row);
        else
            QTest::mouseClick(
                child<halvenna::DbNavigator>(QStringLiteral("DBNavigator1"))->button(halvenna::DbNavigator::Last),
                Qt::LeftButton);
        QCOMPARE(members().recNo(), row);
        QCOMPARE(other.currentIndex().row(), row);
        QCOMPARE(grid->currentIndex().row(), row);
        QCOMPARE(child<DbCheckBox>(QStringLiteral("dbcbPrintEnb"))->checkState(),
                 row == 2 ? Qt::Checked : Qt::PartiallyChecked);
        QCOMPARE(child<QLineEdit>(QStringLiteral("DBEdit4"))->text(),
                 row == 2 ? QStringLiteral("みかん") : QStringLiteral("りんご"));
    }

    // ------------------------------------------------------------ the menu

    void printerSetup_data()
    {
        QTest::addColumn<bool>("byKeyboard");
        QTest::newRow("menu item") << false;
        QTest::newRow("F10, Down, Enter") << true;
    }

    // "プリンタ設定" shows the platform's print dialog once, over this window, and leaves the tables
    // and the panel alone.
    void printerSetup()
    {
        QFETCH(bool, byKeyboard);
        rosterOfThree();
        open();
        retype(child(QStringLiteral("edReceiptYear")), QStringLiteral("2031"));
        const FixedDatesData panel = InvoiceForm->panelTexts();
        halvenna::PrintSetup::seam().answer(false);
        auto* n1 = child<QAction>(QStringLiteral("N1"));
        QCOMPARE(n1->text(), QStringLiteral("ファイル"));
        QCOMPARE(n1->menu()->actions().value(0), child<QAction>(QStringLiteral("N2")));
        QCOMPARE(child<QAction>(QStringLiteral("N2"))->text(), QStringLiteral("プリンタ設定"));
        if (byKeyboard) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
            QTRY_VERIFY(n1->menu()->isVisible());
            QTest::keyClick(n1->menu(), Qt::Key_Down);
            QTest::keyClick(n1->menu(), Qt::Key_Return);
            QTRY_VERIFY(!n1->menu()->isVisible());
        } else {
            child<QAction>(QStringLiteral("N2"))->trigger();
        }
        const auto setups = halvenna::PrintSetup::seam().requests();
        QCOMPARE(setups.size(), 1);
        QCOMPARE(setups.first().parent, InvoiceForm);
        QCOMPARE(setups.first().objectName, QStringLiteral("PrintDialog1"));
        QVERIFY(InvoiceForm->isVisible());
        QCOMPARE(InvoiceForm->panelTexts(), panel);
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(members().recNo(), 0);
        QVERIFY(MessageBox::seam().requests().isEmpty());
    }

    void senderDialog_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("menu item, Esc") << "trigger";
        QTest::newRow("F10, Right, Down, Enter, close box") << "keyboard";
    }

    // "差出人設定" opens the sender dialog modally, filled with the current settings; when it closes
    // the print window goes on as it was.
    void senderDialog()
    {
        QFETCH(QString, how);
        rosterOfThree();
        open();
        program_.senderSettings.SenderName = sj(QStringLiteral("山田商店"));
        const FixedDatesData panel = InvoiceForm->panelTexts();
        auto* n4 = child<QAction>(QStringLiteral("N4"));
        QCOMPARE(n4->text(), QStringLiteral("設定"));
        QCOMPARE(n4->menu()->actions().value(0), child<QAction>(QStringLiteral("N5")));
        QCOMPARE(child<QAction>(QStringLiteral("N5"))->text(), QStringLiteral("差出人設定"));
        QCOMPARE(child<QAction>(QStringLiteral("N3"))->text(), QStringLiteral("終了"));

        bool modal = false;
        QString shownName;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (!SenderForm->isVisible())
                return;
            closer.stop();
            modal = QApplication::activeModalWidget() == SenderForm;
            shownName = SenderForm->findChild<QLineEdit*>(QStringLiteral("edSenderName"))->text();
            if (how == u"trigger")
                QTest::keyClick(SenderForm, Qt::Key_Escape);
            else
                SenderForm->close();
        });
        closer.start();
        if (how == u"trigger") {
            child<QAction>(QStringLiteral("N5"))->trigger();
        } else {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
            QTRY_VERIFY(child<QAction>(QStringLiteral("N1"))->menu()->isVisible());
            QTest::keyClick(child<QAction>(QStringLiteral("N1"))->menu(), Qt::Key_Right);
            QTRY_VERIFY(n4->menu()->isVisible());
            QTest::keyClick(n4->menu(), Qt::Key_Down);
            QTest::keyClick(n4->menu(), Qt::Key_Return);
        }
        QTRY_VERIFY(!shownName.isNull());
        QTRY_VERIFY(!SenderForm->isVisible());
        QVERIFY(modal);
        QCOMPARE(shownName, QStringLiteral("山田商店"));
        QVERIFY(InvoiceForm->isVisible());
        QCOMPARE(InvoiceForm->panelTexts(), panel);
        QCOMPARE(members().state(), TableState::Browse);
        QVERIFY(MessageBox::seam().requests().isEmpty());
        program_.senderSettings = {};
    }
};

QTEST_MAIN(TestInvoiceForm)
#include "tst_invoiceform.moc"

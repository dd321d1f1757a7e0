#include "printing/Invoice.h"

#include "printing/PrintPosition.h"

#include "data/Error.h"
#include "data/SjisText.h"
#include "data/Table.h"
#include "gui/Accessibility.h"
#include "gui/DbControls.h"
#include "gui/DbGrid.h"
#include "gui/ErrorReporter.h"
#include "gui/FindBar.h"
#include "gui/FormMenu.h"
#include "gui/Glyphs.h"
#include "gui/PrintSetup.h"
#include "gui/ProgramIcon.h"
#include "gui/Windows.h"
#include "printing/jobs/PrintJobs.h"
#include "report/ReportProject.h"
#include "report/dialogs/StandardReportOutput.h"
#include "roster/model/DataModule.h"
#include "settings/SenderSettings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

FixedDatesData initialFixedDates(const QDate& today)
{
    const QDate tomorrow = today.addDays(1);
    return {QByteArray::number(today.year()),     QByteArray::number(today.month()),
            QByteArray::number(today.day()),      QByteArray::number(tomorrow.year()),
            QByteArray::number(tomorrow.month()), QByteArray::number(tomorrow.day())};
}

using halvenna::DbComboBox;
using halvenna::DbEdit;
using halvenna::FieldLineEdit;
using halvenna::Table;

namespace {

const QColor clPanel(255, 255, 196);
const QColor clSkyBlue(166, 202, 240);
const QColor clPink(255, 208, 208);
const QColor clBanner(0, 174, 174);
const QColor clBlue(0, 0, 255);
const QColor clRed(255, 0, 0);

// Where the anchored controls stand in the client area of the designed size.
const QRect kBannerRect(0, 0, 569, 33);
const QRect kCloseRect(584, 11, 75, 25);
const QRect kGridRect(8, 80, 185, 482);
const QRect kContentsRect(200, 248, 465, 231);
const QRect kAccountRect(200, 480, 465, 89);

QFont windowFont(int pixelSize, bool bold = false)
{
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

// Text of labels, captions, buttons and edits in one colour.
void setTextColour(QWidget* w, const QColor& c)
{
    QPalette p = w->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(role, c);
    w->setPalette(p);
}

// The desktop's own text colours again, inside a box whose caption has a colour of its own.
void setWindowTextColours(QWidget* w)
{
    const QPalette app = QApplication::palette();
    QPalette p = w->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(role, app.color(role));
    w->setPalette(p);
}

void setBackground(QWidget* w, const QColor& c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

template <typename W> W* named(W* w, const char* name, const QRect& geometry)
{
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

// A label at its place; it grows where the font needs more room than designed, so nothing is cut.
QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& geometry, int pixelSize,
              bool bold = false)
{
    auto* l = named(new QLabel(text, parent), name, geometry);
    l->setFont(windowFont(pixelSize, bold));
    const QSize hint = l->sizeHint();
    l->resize(qMax(geometry.width(), hint.width()), qMax(geometry.height(), hint.height()));
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                    const QIcon& glyph)
{
    auto* b = named(new QPushButton(caption, parent), name, geometry);
    b->setIcon(glyph);
    b->setIconSize(QSize(16, 16));
    // The window has no default button: Enter presses only the button that has the focus.
    b->setAutoDefault(false);
    return b;
}

// A sunken frame drawn behind the controls it groups; clicks go through it.
// A frame drawn round controls that belong together, named for what it holds.
QFrame* bevel(QWidget* parent, const char* name, const QRect& geometry, const QString& accessibleName)
{
    auto* f = named(new QFrame(parent), name, geometry);
    f->setAccessibleName(accessibleName);
    f->setFrameStyle(QFrame::Box | QFrame::Sunken);
    f->setAttribute(Qt::WA_TransparentForMouseEvents);
    f->lower();
    return f;
}

QStringList numbersThenBlank(int last)
{
    QStringList items;
    for (int i = 1; i <= last; ++i)
        items << QString::number(i);
    items << QStringLiteral("  ");
    return items;
}

QGroupBox* groupBox(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    return named(new QGroupBox(caption, parent), name, geometry);
}

// An editable combo box of the panel: its items and any text code page 932 can hold.
QComboBox* panelCombo(QWidget* parent, const char* name, const QRect& geometry, const QStringList& items,
                      const QString& accessibleName)
{
    auto* c = named(new QComboBox(parent), name, geometry);
    c->setEditable(true);
    c->setLineEdit(new FieldLineEdit(c));
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setCompleter(nullptr);
    c->addItems(items);
    c->setFont(windowFont(16));
    c->setAccessibleName(accessibleName);
    return c;
}

FieldLineEdit* panelEdit(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* e = named(new FieldLineEdit(parent), name, geometry);
    e->setFont(windowFont(16));
    return e;
}

DbComboBox* dbCombo(QWidget* parent, const char* name, const QRect& geometry, const QStringList& items,
                    const QString& accessibleName = {})
{
    auto* c = named(new DbComboBox(parent), name, geometry);
    c->setItems(items);
    c->setFont(windowFont(15));
    setWindowTextColours(c);
    if (!accessibleName.isEmpty())
        c->setAccessibleName(accessibleName);
    return c;
}

DbEdit* dbEdit(QWidget* parent, const char* name, const QRect& geometry, int pixelSize)
{
    auto* e = named(new DbEdit(parent), name, geometry);
    e->setFont(windowFont(pixelSize));
    setWindowTextColours(e);
    return e;
}

void showComboText(QComboBox* combo, const QString& text)
{
    combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    static_cast<FieldLineEdit*>(combo->lineEdit())->showText(text);
}

} // namespace

TInvoiceForm::TInvoiceForm(TDataModule1* dataModule, const halvenna::SenderSettingsData& senderSettings,
                           const QString& appDir, FixedDatesData& fixedDates, QWidget* parent)
    : QDialog(parent), dm_(dataModule), senderSettings_(senderSettings), appDir_(appDir), fixedDates_(fixedDates)
{
    setObjectName(QStringLiteral("InvoiceForm"));
    setWindowTitle(QStringLiteral("Halvenna"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    setFont(windowFont(12));
    setBackground(this, QApplication::palette().color(QPalette::Button));

    buildMenu();
    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->resize(clientWidth, clientHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(ClientArea);

    buildTopArea();
    buildPanel();
    buildContentsGroup();
    buildAccountGroup();
    bindControls();
    // Read aloud without the blanks and keys that line captions up, and each by what it prints.
    for (QPushButton* b : {btnAllClear, btnPrnCurrent, btnAccountPrn})
        b->setAccessibleName(halvenna::spokenName(b->text()));
    btnInvoiceAllPrn->setAccessibleName(QStringLiteral("送り状をまとめて印刷"));
    btnAccountAllPrn->setAccessibleName(QStringLiteral("払込取扱票をまとめて印刷"));
    halvenna::nameInnerEdits(this);
    setTabOrders();
    connectHandlers();

    ClientArea->installEventFilter(this);
    resize(clientWidth, clientHeight + MainMenu1->sizeHint().height());

    reportOutput = std::make_unique<halvenna::StandardReportOutput>(halvenna::settingsFilePath(appDir_));
    rvpjInvoice = std::make_unique<halvenna::ReportProject>(reportOutput.get());
    rvtbPrintMaster = std::make_unique<halvenna::ReportConnection>(QStringLiteral("rvtbPrintMaster"));
    rvtbAccount = std::make_unique<halvenna::ReportConnection>(QStringLiteral("rvtbAccount"));
    rvpjInvoice->addConnection(*rvtbPrintMaster);
    rvpjInvoice->addConnection(*rvtbAccount);

    halvenna::guarded([this] { FormCreate(); });
}

TInvoiceForm::~TInvoiceForm() {}

void TInvoiceForm::buildMenu()
{
    MainMenu1 = new QMenuBar(this);
    const QList<QAction*> n = halvenna::fillMainMenu(
        MainMenu1, {{QStringLiteral("ファイル"), {QStringLiteral("プリンタ設定"), QStringLiteral("終了")}},
                    {QStringLiteral("設定"), {QStringLiteral("差出人設定")}}});
    N1 = n[0];
    N2 = n[1];
    N3 = n[2];
    N4 = n[3];
    N5 = n[4];
    // Fitting the forms to the printer: after the printer's setup, before 終了.
    mnuPrintPosition = new QAction(QStringLiteral("印字位置調整..."), this);
    mnuPrintPosition->setObjectName(QStringLiteral("mnuPrintPosition"));
    N1->menu()->insertAction(N3, mnuPrintPosition);
    const halvenna::FindBar::MenuActions find = halvenna::FindBar::addMenu(MainMenu1);
    mnuFind = find.find;
    mnuFindNext = find.next;
    mnuFindPrevious = find.previous;
    halvenna::addMenuKey(this, MainMenu1);
}

void TInvoiceForm::buildTopArea()
{
    QWidget* c = ClientArea;
    Bevel3 = bevel(c, "Bevel3", {200, 48, 129, 89}, QStringLiteral("印刷する人の選択"));

    Label12 = named(new QLabel(QStringLiteral("Halvenna"), c), "Label12", kBannerRect);
    Label12->setAlignment(Qt::AlignCenter);
    Label12->setFont(windowFont(24, true));
    setBackground(Label12, clBanner);
    setTextColour(Label12, clBlue);

    BitBtn1 = button(c, "BitBtn1", QStringLiteral("閉じる"), kCloseRect, halvenna::glyphs::close());

    Label1 = label(c, "Label1", QStringLiteral("登録名簿"), {8, 53, 68, 16}, 16, true);

    DBNavigator1 = named(new halvenna::DbNavigator(c), "DBNavigator1", {80, 48, 112, 25});

    FindBar1 = new halvenna::FindBar(c);
    dbgMemberMaster = named(new halvenna::DbGrid(c), "dbgMemberMaster", kGridRect);
    FindBar1->placeGrid(dbgMemberMaster, kGridRect);
    dbgMemberMaster->setReadOnly(true);
    // Tab leaves the grid: the rows are walked with the arrow keys.
    dbgMemberMaster->setTabKeyNavigation(false);
    Label1->setBuddy(dbgMemberMaster);
    // A table's accessible name does not come from its buddy.
    dbgMemberMaster->setAccessibleName(Label1->text());

    dbcbPrintEnb = named(new halvenna::DbCheckBox(c), "dbcbPrintEnb", {208, 56, 121, 17});
    dbcbPrintEnb->setText(QStringLiteral("この人を印刷する"));

    btnAllCheck = button(c, "btnAllCheck", QStringLiteral("すべて"), {232, 80, 73, 20}, halvenna::glyphs::checkAll());
    btnAllClear = button(c, "btnAllClear", QStringLiteral(" クリア"), {232, 104, 73, 20}, halvenna::glyphs::clearAll());

    GroupBox3 = groupBox(c, "GroupBox3", QStringLiteral("送り状"), {336, 40, 161, 97});
    setTextColour(GroupBox3, clBlue);
    btnInvoiceAllPrn = button(GroupBox3, "btnInvoiceAllPrn", QStringLiteral("まとめて印刷"), {14, 32, 131, 41},
                              halvenna::glyphs::printMany(16, clBlue));
    btnInvoiceAllPrn->setAccessibleDescription(QStringLiteral("送り状"));

    GroupBox4 = groupBox(c, "GroupBox4", QStringLiteral("払込取扱票"), {504, 40, 161, 97});
    setTextColour(GroupBox4, clRed);
    btnAccountAllPrn = button(GroupBox4, "btnAccountAllPrn", QStringLiteral("まとめて印刷"), {14, 32, 131, 41},
                              halvenna::glyphs::printMany(16, clRed));
    btnAccountAllPrn->setAccessibleDescription(QStringLiteral("払込取扱票"));
}

void TInvoiceForm::buildPanel()
{
    Panel1 = named(new QFrame(ClientArea), "Panel1", {200, 144, 465, 97});
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    setBackground(Panel1, clPanel);
    QWidget* p = Panel1;

    Bevel4 = bevel(p, "Bevel4", {8, 48, 225, 41}, QStringLiteral("受付日"));
    Bevel5 = bevel(p, "Bevel5", {243, 48, 217, 41}, QStringLiteral("お届け予定日"));
    cbConstDate = named(new QCheckBox(QStringLiteral("印刷時この日付を使用する"), p), "cbConstDate", {16, 8, 169, 17});
    Panel1->setAccessibleName(cbConstDate->text());

    Label14 = label(p, "Label14", QStringLiteral("受付日"), {8, 30, 45, 15}, 15);
    edReceiptYear = panelEdit(p, "edReceiptYear", {16, 56, 49, 24});
    Label15 = label(p, "Label15", QStringLiteral("年"), {66, 61, 15, 15}, 15);
    cmbReceiptMonth =
        panelCombo(p, "cmbReceiptMonth", {88, 56, 49, 24}, numbersThenBlank(12), QStringLiteral("受付日 月"));
    Label16 = label(p, "Label16", QStringLiteral("月"), {136, 61, 15, 15}, 15);
    cmbReceiptDay =
        panelCombo(p, "cmbReceiptDay", {160, 56, 49, 24}, numbersThenBlank(31), QStringLiteral("受付日 日"));
    Label17 = label(p, "Label17", QStringLiteral("日"), {208, 61, 15, 15}, 15);

    Label18 = label(p, "Label18", QStringLiteral("お届け予定日"), {248, 30, 88, 15}, 15);
    edDeliveryYear = panelEdit(p, "edDeliveryYear", {248, 56, 49, 24});
    Label19 = label(p, "Label19", QStringLiteral("年"), {298, 61, 15, 15}, 15);
    cmbDeliveryMonth =
        panelCombo(p, "cmbDeliveryMonth", {320, 56, 49, 24}, numbersThenBlank(12), QStringLiteral("お届け予定日 月"));
    Label20 = label(p, "Label20", QStringLiteral("月"), {368, 61, 15, 15}, 15);
    cmbDeliveryDay =
        panelCombo(p, "cmbDeliveryDay", {392, 56, 49, 24}, numbersThenBlank(31), QStringLiteral("お届け予定日 日"));
    Label21 = label(p, "Label21", QStringLiteral("日"), {440, 61, 15, 15}, 15);

    Label14->setBuddy(edReceiptYear);
    Label18->setBuddy(edDeliveryYear);
}

void TInvoiceForm::buildContentsGroup()
{
    GroupBox1 = groupBox(ClientArea, "GroupBox1", QStringLiteral("送り状内容"), kContentsRect);
    GroupBox1->setFont(windowFont(21, true));
    setTextColour(GroupBox1, clBlue);
    setBackground(GroupBox1, clSkyBlue);
    QWidget* g = GroupBox1;

    Bevel1 = bevel(g, "Bevel1", {8, 80, 225, 41}, QStringLiteral("受付日"));
    Bevel2 = bevel(g, "Bevel2", {240, 80, 217, 41}, QStringLiteral("お届け予定日"));

    btnPrnCurrent = button(g, "btnPrnCurrent", QStringLiteral("　１通　送り状印刷"), {152, 24, 201, 25},
                           halvenna::glyphs::printer(16, clBlue));
    btnPrnCurrent->setFont(windowFont(15));
    setWindowTextColours(btnPrnCurrent);

    Label4 = label(g, "Label4", QStringLiteral("受付日"), {8, 62, 45, 15}, 15);
    DBEdit1 = dbEdit(g, "DBEdit1", {24, 88, 49, 23}, 15);
    Label6 = label(g, "Label6", QStringLiteral("年"), {74, 93, 15, 15}, 15);
    DBComboBox1 = dbCombo(g, "DBComboBox1", {96, 88, 49, 23}, numbersThenBlank(12), QStringLiteral("受付日 月"));
    Label7 = label(g, "Label7", QStringLiteral("月"), {144, 93, 15, 15}, 15);
    DBComboBox2 = dbCombo(g, "DBComboBox2", {168, 88, 49, 23}, numbersThenBlank(31), QStringLiteral("受付日 日"));
    Label8 = label(g, "Label8", QStringLiteral("日"), {216, 93, 15, 15}, 15);

    Label5 = label(g, "Label5", QStringLiteral("お届け予定日"), {240, 62, 88, 15}, 15);
    DBEdit2 = dbEdit(g, "DBEdit2", {248, 88, 49, 23}, 15);
    Label9 = label(g, "Label9", QStringLiteral("年"), {298, 93, 15, 15}, 15);
    DBComboBox3 = dbCombo(g, "DBComboBox3", {320, 88, 49, 23}, numbersThenBlank(12), QStringLiteral("お届け予定日 月"));
    Label10 = label(g, "Label10", QStringLiteral("月"), {368, 93, 15, 15}, 15);
    DBComboBox4 = dbCombo(g, "DBComboBox4", {392, 88, 49, 23}, numbersThenBlank(31), QStringLiteral("お届け予定日 日"));
    Label11 = label(g, "Label11", QStringLiteral("日"), {440, 93, 15, 15}, 15);

    Label2 = label(g, "Label2", QStringLiteral("品名"), {24, 128, 30, 15}, 15);
    DBEdit4 = dbEdit(g, "DBEdit4", {32, 144, 425, 24}, 16);
    setTextColour(DBEdit4, Qt::black);
    Label3 = label(g, "Label3", QStringLiteral("個口数"), {24, 184, 45, 15}, 15);
    dbcmbValue = dbCombo(g, "dbcmbValue", {32, 200, 73, 23}, numbersThenBlank(10));

    for (QLabel* l : {Label2, Label3, Label4, Label5, Label6, Label7, Label8, Label9, Label10, Label11})
        setWindowTextColours(l);
    Label4->setBuddy(DBEdit1);
    Label5->setBuddy(DBEdit2);
    Label2->setBuddy(DBEdit4);
    Label3->setBuddy(dbcmbValue);
}

void TInvoiceForm::buildAccountGroup()
{
    GroupBox2 = groupBox(ClientArea, "GroupBox2", QStringLiteral("払込取扱票"), kAccountRect);
    GroupBox2->setFont(windowFont(21, true));
    setTextColour(GroupBox2, clRed);
    setBackground(GroupBox2, clPink);
    QWidget* g = GroupBox2;

    Label13 = label(g, "Label13", QStringLiteral("金額"), {24, 29, 30, 15}, 15);
    setTextColour(Label13, Qt::black);
    DBEdit3 = dbEdit(g, "DBEdit3", {32, 49, 97, 24}, 16);
    btnAccountPrn = button(g, "btnAccountPrn", QStringLiteral("　１通　払込取扱票印刷"), {152, 24, 201, 25},
                           halvenna::glyphs::printer(16, clRed));
    btnAccountPrn->setFont(windowFont(15));
    setTextColour(btnAccountPrn, Qt::black);
    Label13->setBuddy(DBEdit3);
}

void TInvoiceForm::bindControls()
{
    // A six-digit member number shows whole, whatever the font's digits.
    dbgMemberMaster->setColumns(
        {{QStringLiteral("id_no"), QStringLiteral("ID番号"), qMax(43, dbgMemberMaster->widthForDigits(6))},
         {QStringLiteral("name"), QStringLiteral("氏名"), 102}});
    dbcbPrintEnb->setDataField(QStringLiteral("print"));
    const std::pair<DbEdit*, const char*> edits[] = {
        {DBEdit1, "receipt_year"}, {DBEdit2, "delivery_year"}, {DBEdit4, "item"}, {DBEdit3, "amount"}};
    for (const auto& [e, field] : edits)
        e->setDataField(QLatin1String(field));
    const std::pair<DbComboBox*, const char*> combos[] = {{DBComboBox1, "receipt_month"},
                                                          {DBComboBox2, "receipt_day"},
                                                          {DBComboBox3, "delivery_month"},
                                                          {DBComboBox4, "delivery_day"},
                                                          {dbcmbValue, "value"}};
    for (const auto& [c, field] : combos)
        c->setDataField(QLatin1String(field));
    if (!dm_)
        return;
    dbgMemberMaster->setDataSource(&dm_->tbMemberMasterDataSource);
    FindBar1->setTable(&dm_->tbMemberMaster);
    DBNavigator1->setDataSource(&dm_->tbMemberMasterDataSource);
    dbcbPrintEnb->setDataSource(&dm_->tbMemberMasterDataSource);
    for (DbEdit* e : {DBEdit1, DBEdit2, DBEdit4})
        e->setDataSource(&dm_->tbContentsDataSource);
    for (const auto& [c, field] : combos)
        c->setDataSource(&dm_->tbContentsDataSource);
    DBEdit3->setDataSource(&dm_->tbAccountDataSource);
}

void TInvoiceForm::setTabOrders()
{
    // The window's direct children in their order, each group's and the panel's controls in theirs.
    QList<QWidget*> order{dbgMemberMaster,  btnPrnCurrent, dbcmbValue,   DBComboBox1, DBEdit1,
                          DBComboBox2,      DBEdit2,       DBComboBox3,  DBComboBox4, DBEdit4,
                          DBEdit3,          btnAccountPrn, dbcbPrintEnb, BitBtn1,     btnInvoiceAllPrn,
                          btnAccountAllPrn, btnAllCheck,   btnAllClear};
    for (auto which : {halvenna::DbNavigator::First, halvenna::DbNavigator::Prior, halvenna::DbNavigator::Next,
                       halvenna::DbNavigator::Last})
        order << DBNavigator1->button(which);
    order << cbConstDate << cmbReceiptMonth << cmbReceiptDay << cmbDeliveryMonth << cmbDeliveryDay << edReceiptYear
          << edDeliveryYear;
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order.at(i), order.at(i + 1));
    FindBar1->takeTabPlaceBefore(dbgMemberMaster);
}

void TInvoiceForm::connectHandlers()
{
    using halvenna::connectGuarded;
    FindBar1->connectMenu({mnuFind, mnuFindNext, mnuFindPrevious});
    connectGuarded(BitBtn1, &QPushButton::clicked, this, [this] { close(); });
    connectGuarded(btnAllCheck, &QPushButton::clicked, this, &TInvoiceForm::btnAllCheckClick);
    connectGuarded(btnAllClear, &QPushButton::clicked, this, &TInvoiceForm::btnAllClearClick);
    connectGuarded(btnPrnCurrent, &QPushButton::clicked, this, &TInvoiceForm::btnPrnCurrentClick);
    connectGuarded(btnAccountPrn, &QPushButton::clicked, this, &TInvoiceForm::btnAccountPrnClick);
    connectGuarded(btnInvoiceAllPrn, &QPushButton::clicked, this, &TInvoiceForm::btnInvoiceAllPrnClick);
    connectGuarded(btnAccountAllPrn, &QPushButton::clicked, this, &TInvoiceForm::btnAccountAllPrnClick);
    connectGuarded(N2, &QAction::triggered, this, &TInvoiceForm::N2Click);
    connectGuarded(N3, &QAction::triggered, this, &TInvoiceForm::N3Click);
    connectGuarded(N5, &QAction::triggered, this, &TInvoiceForm::N5Click);
    connectGuarded(mnuPrintPosition, &QAction::triggered, this, &TInvoiceForm::mnuPrintPositionClick);
}

// ---------------------------------------------------------------- showing, closing, resizing

void TInvoiceForm::setVisible(bool visible)
{
    // Every way of closing ends here (the close button and menu, the close box, done/accept/reject).
    if (visible && !isVisible())
        halvenna::guarded([this] { FormShow(); });
    else if (!visible && isVisible())
        halvenna::guarded([this] { FormClose(); });
    QDialog::setVisible(visible);
}

void TInvoiceForm::showEvent(QShowEvent* event)
{
    // Centred the first time; afterwards where the user last left it.
    if (!shownOnce_ && !event->spontaneous()) {
        shownOnce_ = true;
        if (QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        dbgMemberMaster->setFocus();
    }
    QDialog::showEvent(event);
}

void TInvoiceForm::keyPressEvent(QKeyEvent* event)
{
    // No default and no cancel button: Esc does not close the window and Enter presses only a
    // focused push button.
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Escape:
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (auto* b = qobject_cast<QPushButton*>(focusWidget()))
                b->animateClick();
            else if (auto* t = qobject_cast<QToolButton*>(focusWidget()))
                t->animateClick();
            event->accept();
            return;
        default:
            break;
        }
    }
    QDialog::keyPressEvent(event);
}

bool TInvoiceForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ClientArea && event->type() == QEvent::Resize)
        followClientSize();
    return QDialog::eventFilter(watched, event);
}

void TInvoiceForm::followClientSize()
{
    const int w = ClientArea->width();
    const int h = ClientArea->height();
    const int dw = w - clientWidth;
    const int dh = h - clientHeight;
    Label12->setGeometry(kBannerRect.adjusted(0, 0, dw, 0));
    // Anchored to the right only: its centre keeps its share of the height.
    const int centre = (kCloseRect.top() + kCloseRect.height() / 2) * h / clientHeight;
    BitBtn1->move(kCloseRect.left() + dw, centre - kCloseRect.height() / 2);
    FindBar1->placeGrid(dbgMemberMaster,
                        QRect(kGridRect.topLeft(), QSize(kGridRect.width(), qMax(0, kGridRect.height() + dh))));
    // The contents group takes the extra height; the payment group below keeps its own and follows
    // the bottom edge, so the two never overlap. Both take the extra width.
    GroupBox1->resize(qMax(0, kContentsRect.width() + dw), qMax(0, kContentsRect.height() + dh));
    GroupBox2->setGeometry(kAccountRect.left(), kAccountRect.top() + dh, qMax(0, kAccountRect.width() + dw),
                           kAccountRect.height());
}

// ---------------------------------------------------------------- handlers

void TInvoiceForm::FormCreate()
{
    fixedDates_ = initialFixedDates(QDate::currentDate());
}

void TInvoiceForm::FormShow()
{
    using halvenna::sjis::toUnicode;
    edReceiptYear->showText(toUnicode(fixedDates_.ReceiptYear));
    showComboText(cmbReceiptMonth, toUnicode(fixedDates_.ReceiptMonth));
    showComboText(cmbReceiptDay, toUnicode(fixedDates_.ReceiptDay));
    edDeliveryYear->showText(toUnicode(fixedDates_.DeliveryYear));
    showComboText(cmbDeliveryMonth, toUnicode(fixedDates_.DeliveryMonth));
    showComboText(cmbDeliveryDay, toUnicode(fixedDates_.DeliveryDay));
}

void TInvoiceForm::FormClose()
{
    fixedDates_ = panelTexts();
}

bool TInvoiceForm::constDate() const
{
    return cbConstDate->isChecked();
}

FixedDatesData TInvoiceForm::panelTexts() const
{
    using halvenna::sjis::fromUnicode;
    return {fromUnicode(edReceiptYear->text()),           fromUnicode(cmbReceiptMonth->currentText()),
            fromUnicode(cmbReceiptDay->currentText()),    fromUnicode(edDeliveryYear->text()),
            fromUnicode(cmbDeliveryMonth->currentText()), fromUnicode(cmbDeliveryDay->currentText())};
}

void TInvoiceForm::btnAllCheckClick()
{
    SetAllPrintFlags(true);
}

void TInvoiceForm::btnAllClearClick()
{
    SetAllPrintFlags(false);
}

void TInvoiceForm::SetAllPrintFlags(bool Value)
{
    halvenna::setAllPrintMarks(dm_->tbMemberMaster, Value);
}

halvenna::PanelDates TInvoiceForm::panelDates() const
{
    const FixedDatesData texts = panelTexts();
    return {constDate(),        texts.ReceiptYear,   texts.ReceiptMonth, texts.ReceiptDay,
            texts.DeliveryYear, texts.DeliveryMonth, texts.DeliveryDay};
}

void TInvoiceForm::printJob(const std::function<void()>& stage, void (TInvoiceForm::*prepare)())
{
    stage();
    rvtbPrintMaster->setTable(&dm_->tbPrintMember);
    rvtbAccount->setTable(&dm_->tbAccount);
    (this->*prepare)();
    halvenna::runPreparedReport(*rvpjInvoice);
}

void TInvoiceForm::btnPrnCurrentClick()
{
    halvenna::PrintJobs jobs(*dm_);
    printJob([&] { jobs.stageOneWaybill(panelDates()); }, &TInvoiceForm::PrepareInvoiceReport);
}

void TInvoiceForm::btnAccountPrnClick()
{
    halvenna::PrintJobs jobs(*dm_);
    printJob([&] { jobs.stageOnePaymentSlip(); }, &TInvoiceForm::PrepareAccountReport);
}

void TInvoiceForm::btnInvoiceAllPrnClick()
{
    halvenna::PrintJobs jobs(*dm_);
    printJob([&] { jobs.stageBulkWaybills(panelDates()); }, &TInvoiceForm::PrepareInvoiceReport);
}

void TInvoiceForm::btnAccountAllPrnClick()
{
    halvenna::PrintJobs jobs(*dm_);
    printJob([&] { jobs.stageBulkPaymentSlips(); }, &TInvoiceForm::PrepareAccountReport);
}

void TInvoiceForm::PrepareInvoiceReport()
{
    halvenna::prepareInvoiceReport(*rvpjInvoice, senderSettings_, appDir_);
}

void TInvoiceForm::PrepareAccountReport()
{
    halvenna::prepareAccountReport(*rvpjInvoice, senderSettings_, appDir_);
}

void TInvoiceForm::N2Click()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>();
    halvenna::PrintSetup::exec(*printer_, this, QStringLiteral("PrintDialog1"));
}

void TInvoiceForm::mnuPrintPositionClick()
{
    TPrintPositionForm dialog(reportOutput.get(), appDir_, this);
    dialog.exec();
}

void TInvoiceForm::N3Click()
{
    close();
}

void TInvoiceForm::N5Click()
{
    // The sender dialog belongs to the shell, which made it at start-up.
    auto* sender = halvenna::topLevelWindow<QDialog>(QStringLiteral("SenderForm"));
    if (!sender)
        throw halvenna::Error(QStringLiteral("差出人設定の画面がありません"));
    sender->exec();
}

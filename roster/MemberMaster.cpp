#include "roster/MemberMaster.h"

#include "roster/ImportProgress.h"
#include "roster/SafetyCopyDialog.h"
#include "roster/ServerSettingsForm.h"
#include "roster/postal/PostalCodeLookup.h"

#include "data/FieldValue.h"
#include "data/Table.h"
#include "gui/DbGrid.h"
#include "gui/ErrorReporter.h"
#include "gui/FileDialog.h"
#include "gui/FindBar.h"
#include "gui/FormMenu.h"
#include "gui/Glyphs.h"
#include "gui/MessageBox.h"
#include "gui/ProgramIcon.h"
#include "gui/TownChooser.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"
#include "roster/model/SafetyCopy.h"
#include "settings/DatabaseServer.h"
#include "settings/SenderSettings.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <cmath>
#include <iterator>

using halvenna::FieldValue;
using halvenna::Table;

namespace {

const QString kCsvFilter = QStringLiteral("CVS ファイル (*.csv)");

// The grid's margins to the client area's edges: it follows the window on every side.
constexpr int kGridLeft = 8;
constexpr int kGridTop = 48;
constexpr int kGridRightMargin = 12;
constexpr int kGridBottomMargin = 14;

struct Column
{
    const char* field;
    const char16_t* title;
    int width; // 0: as wide as the field's display width asks
};

const Column kColumns[] = {
    {"id_no", u"ID番号", 39}, {"name", u"氏名", 89},        {"name_kana", u"カタカナ", 81},
    {"zip", u"〒", 63},       {"address1", u"住所１", 203}, {"address2", u"住所２", 175},
    {"tel", u"TEL", 0},       {"fax", u"FAX", 0},           {"notes", u"備考", 0},
};

// The fixed widths above were made for a 12-pixel font whose digits are 6 pixels wide; the Japanese
// font drawn here has wider ones, so each is scaled by the ratio (never narrowed), so that a postal
// code or a six-digit number shows whole.
constexpr double kAssumedDigitWidth = 6;

int scaledWidth(const QFontMetrics& metrics, int width)
{
    const double ratio = qMax(1.0, metrics.horizontalAdvance(u'0') / kAssumedDigitWidth);
    return int(std::ceil(width * ratio));
}

// A field's display width in characters times the width of a digit, and room for its title.
int defaultColumnWidth(const QFontMetrics& metrics, int displayWidth, const QString& title)
{
    return qMax(displayWidth * metrics.horizontalAdvance(u'0') + 4, metrics.horizontalAdvance(title) + 4);
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                    const QIcon& glyph, int glyphSize)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setIcon(glyph);
    b->setIconSize(QSize(glyphSize, glyphSize));
    return b;
}

} // namespace

TMemberMasterForm::TMemberMasterForm(TDataModule1* dataModule, const QString& appDir,
                                     halvenna::PostalCodeLookup& postalCodes, QWidget* parent)
    : QDialog(parent), dm_(dataModule), appDir_(appDir), postalCodes_(postalCodes)
{
    setObjectName(QStringLiteral("MemberMasterForm"));
    setWindowTitle(QStringLiteral("名簿登録一覧"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    QPalette background = palette();
    background.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(background);
    setAutoFillBackground(true);

    buildMenu();
    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->resize(clientWidth, clientHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(ClientArea);
    buildControls();
    setColumns();
    if (dm_) {
        DBGrid1->setDataSource(&dm_->tbMemberMasterDataSource);
        FindBar1->setTable(&dm_->tbMemberMaster);
    }
    FindBar1->connectMenu({mnuFind, mnuFindNext, mnuFindPrevious});
    setTabOrders();
    connectHandlers();
    ClientArea->installEventFilter(this);
    resize(clientWidth, clientHeight + MainMenu1->sizeHint().height());
}

TMemberMasterForm::~TMemberMasterForm() = default;

Table& TMemberMasterForm::members() const
{
    return dm_->tbMemberMaster;
}

void TMemberMasterForm::buildMenu()
{
    MainMenu1 = new QMenuBar(this);
    const QList<QAction*> n = halvenna::fillMainMenu(
        MainMenu1, {{QStringLiteral("ファイル"), {QStringLiteral("終了")}},
                    {QStringLiteral("データ管理"),
                     {QStringLiteral("全名簿データ消去"), QStringLiteral("バックアップから復元..."),
                      QStringLiteral("郵便番号データの読込..."), QStringLiteral("サーバー設定...")}}});
    N1 = n[0];
    N2 = n[1];
    N3 = n[2];
    N4 = n[3];
    mnuRestore = n[4];
    mnuPostalData = n[5];
    mnuServerSettings = n[6];
    const halvenna::FindBar::MenuActions find = halvenna::FindBar::addMenu(MainMenu1);
    mnuFind = find.find;
    mnuFindNext = find.next;
    mnuFindPrevious = find.previous;
    halvenna::addMenuKey(this, MainMenu1);
}

void TMemberMasterForm::buildControls()
{
    QWidget* c = ClientArea;
    FindBar1 = new halvenna::FindBar(c);
    DBGrid1 = new halvenna::DbGrid(c);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    FindBar1->placeGrid(DBGrid1, QRect(kGridLeft, kGridTop, clientWidth - kGridLeft - kGridRightMargin,
                                       clientHeight - kGridTop - kGridBottomMargin));
    DBGrid1->setAccessibleName(QStringLiteral("名簿"));

    namespace glyphs = halvenna::glyphs;
    btnMarge =
        button(c, "btnMarge", QStringLiteral("データ読込（ＣＳＶ）"), {64, 16, 137, 25}, glyphs::importCsv(16), 16);
    btnNewRead =
        button(c, "btnNewRead", QStringLiteral("選択データ削除"), {224, 16, 147, 25}, glyphs::deleteRow(16), 16);
    btnAppend = button(c, "btnAppend", QStringLiteral("新規追加"), {392, 16, 81, 25}, glyphs::newRow(16), 16);
    btnMemberReg = button(c, "btnMemberReg", QStringLiteral("登録"), {496, 16, 75, 25}, glyphs::checkMark(18), 18);
    btnCancel = button(c, "btnCancel", QStringLiteral("キャンセル"), {592, 16, 89, 25}, glyphs::cross(18, true), 18);
    BitBtn1 = button(c, "BitBtn1", QStringLiteral("閉じる"), {704, 16, 75, 25}, glyphs::close(16), 16);
    // Enter anywhere but on another button registers; Esc is routed to Cancel in keyPressEvent.
    btnMemberReg->setDefault(true);

    // Tab moves from cell to cell inside the grid: Ctrl+Tab and Ctrl+Shift+Tab lead out of it.
    auto* leaveForward = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(leaveForward, &QShortcut::activated, this, [this] { moveFocusOn(true); });
    auto* leaveBackward = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
    connect(leaveBackward, &QShortcut::activated, this, [this] { moveFocusOn(false); });
}

void TMemberMasterForm::moveFocusOn(bool forward)
{
    const QWidget* focus = QApplication::focusWidget();
    if (focus && (focus == DBGrid1 || DBGrid1->isAncestorOf(focus)))
        (forward ? btnNewRead : btnCancel)->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    else
        focusNextPrevChild(forward);
}

void TMemberMasterForm::setColumns()
{
    QList<halvenna::DbGridColumn> columns;
    const QFontMetrics digits(DBGrid1->font());
    for (const Column& c : kColumns)
        columns.append(
            {QLatin1String(c.field), QString::fromUtf16(c.title), c.width > 0 ? scaledWidth(digits, c.width) : 0});
    // A six-digit member number whole: the font's digits, measured as the style lays them out, may
    // be wider than the scaled width allows.
    columns[0].width = qMax(columns[0].width, DBGrid1->widthForDigits(6));
    DBGrid1->setColumns(columns);
    // Until the table is open the fields' widths are unknown: the titles are shown whole meanwhile.
    if (!applyDefaultWidths()) {
        const QFontMetrics metrics(DBGrid1->font());
        for (int i = 0; i < columns.size(); ++i)
            if (columns.at(i).width <= 0)
                DBGrid1->setColumnWidth(i, defaultColumnWidth(metrics, 0, columns.at(i).title));
    }
}

// Sets the columns without a width of their own from their fields; false while the table is closed.
bool TMemberMasterForm::applyDefaultWidths()
{
    if (defaultWidthsApplied_)
        return true;
    if (!dm_ || !members().active())
        return false;
    const QFontMetrics metrics(DBGrid1->font());
    for (int i = 0; i < int(std::size(kColumns)); ++i) {
        const Column& c = kColumns[i];
        if (c.width > 0)
            continue;
        const halvenna::FieldDef& def = members().fieldDef(QLatin1String(c.field));
        DBGrid1->setColumnWidth(i, defaultColumnWidth(metrics, def.width, QString::fromUtf16(c.title)));
    }
    defaultWidthsApplied_ = true;
    return true;
}

void TMemberMasterForm::setTabOrders()
{
    const QList<QWidget*> order{DBGrid1, btnNewRead, btnMarge, btnMemberReg, BitBtn1, btnAppend, btnCancel};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order.at(i), order.at(i + 1));
    FindBar1->takeTabPlaceBefore(DBGrid1);
}

void TMemberMasterForm::connectHandlers()
{
    using halvenna::connectGuarded;
    // A postal code the lookup reads is stored as the forms print it, 150-0001, however it was
    // typed; converted before the field's 8 bytes would cut one typed in full width.
    DBGrid1->convertTyped = [](const QString& field, const QString& typed) {
        if (field == u"zip")
            return halvenna::PostalCodes::written(typed).value_or(typed);
        return typed;
    };
    DBGrid1->onCellWritten = [this](const QString& field) {
        if (field == u"zip")
            fillAddressFromZip();
    };
    connectGuarded(btnMarge, &QPushButton::clicked, this, &TMemberMasterForm::btnMargeClick);
    connectGuarded(btnNewRead, &QPushButton::clicked, this, &TMemberMasterForm::btnNewReadClick);
    connectGuarded(btnAppend, &QPushButton::clicked, this, &TMemberMasterForm::btnAppendClick);
    connectGuarded(btnMemberReg, &QPushButton::clicked, this, &TMemberMasterForm::btnMemberRegClick);
    connectGuarded(btnCancel, &QPushButton::clicked, this, &TMemberMasterForm::btnCancelClick);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, [this] { close(); });
    connectGuarded(N2, &QAction::triggered, this, &TMemberMasterForm::N2Click);
    connectGuarded(N4, &QAction::triggered, this, &TMemberMasterForm::N4Click);
    connectGuarded(mnuRestore, &QAction::triggered, this, &TMemberMasterForm::mnuRestoreClick);
    connectGuarded(mnuPostalData, &QAction::triggered, this, &TMemberMasterForm::mnuPostalDataClick);
    connectGuarded(mnuServerSettings, &QAction::triggered, this, &TMemberMasterForm::mnuServerSettingsClick);
}

// ---------------------------------------------------------------- showing, keys, resizing

void TMemberMasterForm::showEvent(QShowEvent* event)
{
    // Centred the first time; afterwards where the user last left it.
    if (!shownOnce_ && !event->spontaneous()) {
        shownOnce_ = true;
        if (QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        DBGrid1->setFocus();
    }
    halvenna::guarded([this] { applyDefaultWidths(); });
    QDialog::showEvent(event);
}

void TMemberMasterForm::keyPressEvent(QKeyEvent* event)
{
    // Esc is the cancel button's key, wherever it is pressed; it never closes the window.
    if (event->key() == Qt::Key_Escape && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        btnCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TMemberMasterForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ClientArea && event->type() == QEvent::Resize)
        followClientSize();
    return QDialog::eventFilter(watched, event);
}

void TMemberMasterForm::followClientSize()
{
    // The buttons stay where they are; the grid keeps its margins to all four edges.
    FindBar1->placeGrid(DBGrid1, QRect(kGridLeft, kGridTop, qMax(0, ClientArea->width() - kGridLeft - kGridRightMargin),
                                       qMax(0, ClientArea->height() - kGridTop - kGridBottomMargin)));
}

// ---------------------------------------------------------------- handlers

void TMemberMasterForm::fillAddressFromZip()
{
    if (!dm_)
        return;
    Table& t = members();
    if (!t.editing() || !t.fieldValue(QStringLiteral("address1")).displayText().trimmed().isEmpty())
        return;
    const QString zip = t.fieldValue(QStringLiteral("zip")).displayText();
    if (const std::optional<QString> town = halvenna::TownChooser::townOf(postalCodes_, zip, this))
        t.setFieldValue(QStringLiteral("address1"), halvenna::FieldValue::fromString(*town));
}

void TMemberMasterForm::btnMargeClick()
{
    // The dialog takes a typed name as it is; a file that is not there is reported by the import.
    const QString fileName = halvenna::FileDialog::getOpenFileName(this, QStringLiteral("OpenDialog1"), QString(),
                                                                   lastImportFile_, kCsvFilter, false);
    if (fileName.isEmpty())
        return;
    lastImportFile_ = fileName;

    halvenna::MemberImport merge(members());
    // A copy of the roster before the first member is stored: a wrong file can be undone. No copy,
    // no import. A file that cannot be opened, is empty or is refused at its first line takes none,
    // so that it pushes no useful copy out.
    std::optional<halvenna::SafetyCopyInfo> copy;
    merge.setBeforeFirstStore([&] {
        copy = halvenna::SafetyCopy::take(
            tablesDir(), QStringLiteral("CSV 読込 %1").arg(QFileInfo(fileName).fileName()), dm_->server());
    });
    halvenna::ImportProgress progress(merge, fileName, btnMarge->text(), importProgressDelay, this);
    merge.setProgress([&progress](qint64 bytesRead, qint64 fileSize) { progress.advance(bytesRead, fileSize); },
                      importProgressStep);
    try {
        merge.run(fileName);
    } catch (...) {
        // Nothing stored after all: the copy would only stand for the roster as it still is.
        if (copy && merge.linesMerged() == 0)
            halvenna::SafetyCopy::discard(*copy);
        throw;
    }
}

void TMemberMasterForm::btnNewReadClick()
{
    Table& t = members();
    const QString name = t.fieldValue(QStringLiteral("name")).asString();
    if (!halvenna::MessageBox::confirm(name + QStringLiteral(" を削除します.よろしいですか?"), this))
        return;
    // A new row that was never stored is dropped: nothing stored goes with it.
    t.deleteRecord();
}

void TMemberMasterForm::btnAppendClick()
{
    Table& t = members();
    qint32 n = -1;
    if (t.recordCount() >= 1) {
        t.last();
        n = t.fieldValue(QStringLiteral("id_no")).asInteger();
    }
    t.append();
    // 32-bit arithmetic: the number after the largest one wraps round, as the field's kind does.
    t.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(qint32(quint32(n) + 1u)));
}

void TMemberMasterForm::btnMemberRegClick()
{
    Table& t = members();
    if (t.editing())
        t.post();
}

void TMemberMasterForm::btnCancelClick()
{
    Table& t = members();
    if (t.editing())
        t.cancel();
}

void TMemberMasterForm::N2Click()
{
    close();
}

void TMemberMasterForm::N4Click()
{
    // On a server the roster is every PC's: the question says so.
    const bool shared = !dm_->server().isEmpty();
    if (!halvenna::MessageBox::confirm(
            shared ? QStringLiteral("サーバーの名簿データをすべて消去します.すべてのPCで名簿が空になります.よいですか?")
                   : QStringLiteral("名簿データをすべて消去します.よいですか?"),
            this))
        return;
    // A copy of the roster first, so that the clearing can be undone. No copy, no clearing.
    halvenna::SafetyCopy::take(tablesDir(), QStringLiteral("全名簿データ消去"), dm_->server());
    Table& t = members();
    t.close();
    try {
        t.emptyTable();
    } catch (const std::exception& e) {
        // The window is not left on a closed table: the roster is shown again as it still is.
        halvenna::reportError(e);
        t.open();
        return;
    }
    t.open();
}

QString TMemberMasterForm::tablesDir() const
{
    return QFileInfo(dm_->tbMemberMaster.filePath()).absolutePath();
}

void TMemberMasterForm::mnuRestoreClick()
{
    QList<halvenna::SafetyCopyInfo> copies = halvenna::SafetyCopy::list(tablesDir());
    // A damaged copy is marked in the list; choosing it is refused by its name.
    for (halvenna::SafetyCopyInfo& c : copies)
        c.damage = halvenna::SafetyCopy::check(c, false);
    if (copies.isEmpty()) {
        halvenna::MessageBox::showError(QStringLiteral("戻せるコピーがありません (%1)")
                                            .arg(QDir::toNativeSeparators(tablesDir() + QStringLiteral("/backup"))),
                                        this);
        return;
    }
    const std::optional<int> chosen = halvenna::SafetyCopyDialog::seam().ask(copies, this);
    if (!chosen || *chosen < 0 || *chosen >= copies.size())
        return;
    const halvenna::SafetyCopyInfo& copy = copies.at(*chosen);
    if (!copy.damage.isEmpty())
        throw halvenna::Error(copy.damage);
    const QString replaced =
        dm_->server().isEmpty()
            ? QStringLiteral("今の名簿データは置き換わります(戻す前の名簿もバックアップに残します)")
            : QStringLiteral("サーバーの名簿データがすべてのPCで置き換わります(戻す前の名簿もバックアップに残します)");
    if (!halvenna::MessageBox::confirm(QStringLiteral("%1 のコピーに戻します.%2.よいですか?")
                                           .arg(halvenna::SafetyCopyDialog::describe(copy), replaced),
                                       this))
        return;
    Table& t = members();
    if (t.editing())
        t.cancel();
    // The tables are closed while their files are replaced, and opened again on either outcome:
    // the windows then show the roster as it is.
    dm_->SetTablesActive(false);
    try {
        halvenna::SafetyCopy::restore(tablesDir(), copy, dm_->server());
    } catch (...) {
        dm_->SetTablesActive(true);
        throw;
    }
    dm_->SetTablesActive(true);
}

void TMemberMasterForm::mnuPostalDataClick()
{
    const QString fileName = halvenna::FileDialog::getOpenFileName(this, QStringLiteral("OpenPostalData"),
                                                                   QStringLiteral("郵便番号データの読込"), QString(),
                                                                   QStringLiteral("郵便番号データ (*.csv *.CSV)"));
    if (fileName.isEmpty())
        return;
    const qsizetype codes = postalCodes_.readPostalServiceList(fileName);
    halvenna::MessageBox::showInformation(
        QStringLiteral("%1 から %2 件の郵便番号を読み込みました.")
            .arg(QDir::toNativeSeparators(fileName), QLocale(QLocale::Japanese).toString(qlonglong(codes))),
        this);
}

void TMemberMasterForm::mnuServerSettingsClick()
{
    const QString path = halvenna::settingsFilePath(appDir_);
    const QString current = halvenna::databaseServer(path);
    const std::optional<halvenna::ServerAddress> chosen =
        halvenna::ServerSettingsForm::seam().ask({halvenna::serverAddress(current), path}, this);
    if (!chosen)
        return;
    const QString conninfo = halvenna::serverConninfo(*chosen, current);
    if (conninfo == current)
        return;
    halvenna::writeDatabaseServer(path, conninfo);
    halvenna::MessageBox::showInformation(
        QStringLiteral("設定ファイル %1 に保存しました.プログラムを起動し直すと使われます.")
            .arg(QDir::toNativeSeparators(path)),
        this);
}

void TMemberMasterForm::SplitZipAndTel()
{
    halvenna::rules::deriveMemberFields(dm_->tbMemberMaster);
}

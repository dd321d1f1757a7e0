// The roster window on a data module of its own: its layout, numbering, deleting, registering,
// cancelling, clearing, the grid's keys through the window, and the CSV import with its file
// dialog and progress.
#include "app/Program.h"
#include "app/Startup.h"
#include "common/DataFixture.h"
#include "common/ErrorBoxes.h"
#include "common/FaultTools.h"
#include "common/GuiFixture.h"
#include "common/PostalFixture.h"
#include "common/Seams.h"
#include "data/sql/PostgresConnection.h"
#include "gui/DbControls.h"
#include "gui/DbGrid.h"
#include "gui/DbGridModel.h"
#include "gui/ErrorReporter.h"
#include "gui/FileDialog.h"
#include "gui/FindBar.h"
#include "gui/MessageBox.h"
#include "gui/TownChooser.h"
#include "roster/MemberMaster.h"
#include "roster/SafetyCopyDialog.h"
#include "roster/ServerSettingsForm.h"
#include "roster/model/RecordRules.h"
#include "roster/postal/PostalCodeLookup.h"
#include "settings/DatabaseServer.h"
#include "settings/IniFile.h"
#include "settings/SenderSettings.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QStyle>
#include <QTimer>
#include <QtTest>

#include <cmath>

#include <sqlite3.h>

#include <memory>

using halvenna::DbGrid;
using halvenna::FieldValue;
using halvenna::FileDialog;
using halvenna::MessageBox;
using halvenna::Table;
using halvenna::TableState;

Q_DECLARE_METATYPE(halvenna::TableState)

namespace {

QPushButton* button(const char* name)
{
    return MemberMasterForm->findChild<QPushButton*>(QLatin1String(name));
}

DbGrid* grid()
{
    return MemberMasterForm->findChild<DbGrid*>(QStringLiteral("DBGrid1"));
}

QAction* action(const char* name)
{
    return MemberMasterForm->findChild<QAction*>(QLatin1String(name));
}

int columnOf(const QString& field)
{
    const auto& columns = grid()->gridModel()->columns();
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).field == field)
            return i;
    return -1;
}

QString shown(int row, const QString& field)
{
    return grid()->gridModel()->index(row, columnOf(field)).data().toString();
}

void clickCell(int row, const QString& field)
{
    DbGrid* g = grid();
    const QModelIndex index = g->gridModel()->index(row, columnOf(field));
    g->scrollTo(index);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(index).center());
}

// One number read straight from a table file, past the table layer (what another program sees).
qint64 scalar(const QString& dbFile, const QString& sql)
{
    sqlite3* db = nullptr;
    qint64 value = -1;
    if (sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            value = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return value;
}

bool execSql(const QString& dbFile, const QString& sql)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    ok = ok && sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

QByteArray cp932(const QString& text)
{
    return halvenna::sjis::fromUnicode(text);
}

QStringList boxTexts()
{
    QStringList texts;
    for (const MessageBox::Request& r : MessageBox::seam().requests())
        texts << r.text;
    return texts;
}

// The answer Esc gives: the box's escape button.
MessageBox::Button escape(const MessageBox::Request& r)
{
    return r.escapeButton;
}

} // namespace

class TestMemberMasterForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataFixture> f_;
    // What the window is given besides the data module: the program's folder and the postal codes.
    QString appDir_;
    halvenna::PostalCodeLookup postalCodes_{QString(), QString()};
    UnansweredBoxes unanswered_;

    Table& members() { return f_->dm->tbMemberMaster; }
    QString file(const char* name) const { return QDir(f_->dir.path()).filePath(QLatin1String(name)); }
    // The lookup reads a small dictionary of the package's kind (and the list a test reads is kept
    // in the test's folder), never the machine's files.
    void usePostalFixture()
    {
        postaltest::useDictionary(postalCodes_, file("SKK-JISYO.zipcode"), file("PostalCodes.txt"));
    }
    qint64 storedMembers()
    {
        return scalar(file("MemberMaster.db"), QStringLiteral("SELECT COUNT(*) FROM MemberMaster"));
    }
    QString storedText(int id, const char* field)
    {
        sqlite3* db = nullptr;
        QString value = QStringLiteral("<none>");
        sqlite3_open_v2(QFile::encodeName(file("MemberMaster.db")).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        const QByteArray sql = "SELECT " + QByteArray(field) + " FROM MemberMaster WHERE id_no = ?";
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_int(st, 1, id);
            if (sqlite3_step(st) == SQLITE_ROW)
                value = sqlite3_column_type(st, 0) == SQLITE_NULL
                            ? QStringLiteral("<null>")
                            : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return value;
    }

    void addMembers(const QList<int>& ids)
    {
        for (int id : ids)
            f_->addMember(id, QStringLiteral("会員%1").arg(id));
    }

    // Waybill contents and an amount for a member, entered as the print window does.
    void addDetails(int id)
    {
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(id)));
        Table& contents = f_->dm->tbContents;
        contents.append();
        contents.setFieldValue(QStringLiteral("item"), DataFixture::text(QStringLiteral("りんご")));
        contents.post();
        Table& account = f_->dm->tbAccount;
        account.append();
        account.setFieldValue(QStringLiteral("amount"), FieldValue::integer(3000));
        account.post();
    }
    qint64 details(const char* table, int id)
    {
        return scalar(file(table) + QStringLiteral(".db"),
                      QStringLiteral("SELECT COUNT(*) FROM %1 WHERE id_no = %2").arg(QLatin1String(table)).arg(id));
    }

    void open()
    {
        MemberMasterForm->show();
        QVERIFY(QTest::qWaitForWindowActive(MemberMasterForm));
    }

    QString writeCsv(const QByteArray& bytes)
    {
        const QString path = file("members.csv");
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            return QString();
        return path;
    }

private Q_SLOTS:
    void initTestCase() { halvenna::installJapaneseFont(); }

    void init()
    {
        f_ = std::make_unique<DataFixture>();
        QVERIFY(f_->dir.isValid());
        // No postal data unless a test gives some: the machine's dictionary would fill addresses.
        postalCodes_.setFiles(QString(), QString());
        MemberMasterForm = new TMemberMasterForm(f_->dm.get(), appDir_, postalCodes_);
        seams::begin();
        unanswered_.begin();
    }

    void cleanup()
    {
        postalCodes_.setFiles(QString(), QString());
        delete MemberMasterForm;
        MemberMasterForm = nullptr;
        f_.reset();
        seams::end();
        unanswered_.end();
    }

    // ---------------------------------------------------------------- layout

    void window()
    {
        TMemberMasterForm* w = MemberMasterForm;
        QCOMPARE(w->windowTitle(), QStringLiteral("名簿登録一覧"));
        QCOMPARE(w->findChild<QWidget*>(QStringLiteral("ClientArea"))->size(), QSize(797, 511));
        auto* menu = w->findChild<QMenuBar*>(QStringLiteral("MainMenu1"));
        QCOMPARE(w->size(), QSize(797, 511 + menu->sizeHint().height()));
        QVERIFY(w->minimumSize() != w->maximumSize());
        QVERIFY(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(w->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(w->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QCOMPARE(QFontInfo(w->font()).family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(QFontInfo(w->font()).pixelSize(), 12);
        QCOMPARE(w->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
        QCOMPARE(grid()->geometry(), QRect(8, 48, 777, 449));
        QCOMPARE(grid()->dataSource(), &f_->dm->tbMemberMasterDataSource);
        QVERIFY(!grid()->isReadOnly());
        QVERIFY(button("btnMemberReg")->isDefault());

        open();
        const QPoint screenCentre = w->screen()->availableGeometry().center();
        QVERIFY((w->frameGeometry().center() - screenCentre).manhattanLength() <= 2);
        QCOMPARE(QApplication::focusWidget(), grid());

        // The grid follows every edge; the buttons stay.
        w->resize(w->width() + 100, w->height() + 50);
        QTRY_COMPARE(grid()->geometry(), QRect(8, 48, 877, 499));
        QCOMPARE(button("btnCancel")->geometry(), QRect(592, 16, 89, 25));
        w->resize(w->width() - 200, w->height() - 100);
        QTRY_COMPARE(grid()->geometry(), QRect(8, 48, 677, 399));
    }

    void buttons_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<int>("glyph");
        QTest::newRow("btnMarge") << "btnMarge"
                                  << "データ読込（ＣＳＶ）" << QRect(64, 16, 137, 25) << 16;
        QTest::newRow("btnNewRead") << "btnNewRead"
                                    << "選択データ削除" << QRect(224, 16, 147, 25) << 16;
        QTest::newRow("btnAppend") << "btnAppend"
                                   << "新規追加" << QRect(392, 16, 81, 25) << 16;
        QTest::newRow("btnMemberReg") << "btnMemberReg"
                                      << "登録" << QRect(496, 16, 75, 25) << 18;
        QTest::newRow("btnCancel") << "btnCancel"
                                   << "キャンセル" << QRect(592, 16, 89, 25) << 18;
        QTest::newRow("BitBtn1") << "BitBtn1"
                                 << "閉じる" << QRect(704, 16, 75, 25) << 16;
    }

    // Caption, place and glyph with its greyed image for the disabled button.
    void buttons()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        QFETCH(int, glyph);
        auto* b = MemberMasterForm->findChild<QPushButton*>(name);
        QVERIFY(b);
        QCOMPARE(b->text(), caption);
        QCOMPARE(b->geometry(), geometry);
        QCOMPARE(b->iconSize(), QSize(glyph, glyph));
        const QIcon icon = b->icon();
        QVERIFY(icon.availableSizes(QIcon::Normal).contains(QSize(glyph, glyph)));
        QVERIFY(icon.availableSizes(QIcon::Disabled).contains(QSize(glyph, glyph)));
        const QImage normal = icon.pixmap(glyph, QIcon::Normal).toImage();
        const QImage greyed = icon.pixmap(glyph, QIcon::Disabled).toImage();
        QCOMPARE(normal.size(), QSize(glyph, glyph));
        QVERIFY(normal != greyed);
        QCOMPARE(b->isDefault(), name == u"btnMemberReg");
    }

    void columns_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("width"); // 0: the field's display width
        QTest::newRow("id_no") << 0 << "id_no"
                               << "ID番号" << 39;
        QTest::newRow("name") << 1 << "name"
                              << "氏名" << 89;
        QTest::newRow("name_kana") << 2 << "name_kana"
                                   << "カタカナ" << 81;
        QTest::newRow("zip") << 3 << "zip"
                             << "〒" << 63;
        QTest::newRow("address1") << 4 << "address1"
                                  << "住所１" << 203;
        QTest::newRow("address2") << 5 << "address2"
                                  << "住所２" << 175;
        QTest::newRow("tel") << 6 << "tel"
                             << "TEL" << 0;
        QTest::newRow("fax") << 7 << "fax"
                             << "FAX" << 0;
        QTest::newRow("notes") << 8 << "notes"
                               << "備考" << 0;
    }

    void columns()
    {
        QFETCH(int, column);
        QFETCH(QString, field);
        QFETCH(QString, title);
        QFETCH(int, width);
        DbGrid* g = grid();
        QCOMPARE(g->gridModel()->columnCount(), 9);
        QCOMPARE(g->gridModel()->columns().at(column).field, field);
        QCOMPARE(g->gridModel()->headerData(column, Qt::Horizontal).toString(), title);
        if (width == 0) {
            // Twenty characters of tel and fax, eighty of notes, each a digit wide, and 4 pixels.
            const int characters = members().fieldDef(field).width;
            QCOMPARE(characters, field == u"notes" ? 80 : 20);
            width = characters * QFontMetrics(g->font()).horizontalAdvance(u'0') + 4;
            QVERIFY(width > QFontMetrics(g->font()).horizontalAdvance(title) + 4);
        } else {
            // The widths set for digits 6 pixels wide, scaled to the digits of the font drawn.
            const int digit = QFontMetrics(g->font()).horizontalAdvance(u'0');
            QVERIFY(digit >= 6);
            width = int(std::ceil(width * digit / 6.0));
            // The member number widened where six digits need more.
            if (field == u"id_no")
                width = qMax(width, g->widthForDigits(6));
        }
        QCOMPARE(g->columnWidth(column), width);
        QVERIFY(!g->verticalHeader()->isHidden());
    }

    // A full postal code, a six-digit number and a telephone number show whole in their columns,
    // drawn in the window's Japanese font with the cell's margins (unscaled, the postal code was
    // cut to "150-00…").
    // Six times the digit the window's font draws widest.
    static QString widestSixDigits()
    {
        QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
        font.setPixelSize(12);
        const QFontMetricsF metrics(font);
        QChar widest = u'0';
        for (char16_t d = u'0'; d <= u'9'; ++d)
            if (metrics.horizontalAdvance(QChar(d)) > metrics.horizontalAdvance(widest))
                widest = QChar(d);
        return QString(6, widest);
    }
    void numbersShowWhole_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("zip") << "zip"
                             << "150-0001";
        QTest::newRow("id_no") << "id_no"
                               << "123456";
        QTest::newRow("id_no of the widest digit") << "id_no" << widestSixDigits();
        QTest::newRow("tel") << "tel"
                             << "03-1234-5678";
        QTest::newRow("fax") << "fax"
                             << "0120-123-456";
    }
    void numbersShowWhole()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        open();
        DbGrid* g = grid();
        // The text's margin on each side, and the grid line the cell gives up.
        const int margins =
            2 * (g->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, g) + 1) + (g->showGrid() ? 1 : 0);
        const int needed = QFontMetrics(g->font()).horizontalAdvance(value) + margins;
        QVERIFY2(g->columnWidth(columnOf(field)) >= needed,
                 qPrintable(QStringLiteral("%1 < %2").arg(g->columnWidth(columnOf(field))).arg(needed)));
        // As the style lays the cell out and elides its text: the digits of a proportional font
        // are not all as wide as "0".
        QCOMPARE(shownInCell(g, columnOf(field), value), value);
    }

    // A window made while the member table is closed shows the titles whole, and takes the fields'
    // widths once the table is open when it is shown.
    void defaultWidthsWaitForTheOpenTable()
    {
        delete MemberMasterForm;
        members().close();
        MemberMasterForm = new TMemberMasterForm(f_->dm.get(), appDir_, postalCodes_);
        const QFontMetrics metrics(grid()->font());
        const int tel = columnOf(QStringLiteral("tel"));
        const int notes = columnOf(QStringLiteral("notes"));
        QCOMPARE(grid()->columnWidth(tel), metrics.horizontalAdvance(QStringLiteral("TEL")) + 4);
        QCOMPARE(grid()->columnWidth(notes), metrics.horizontalAdvance(QStringLiteral("備考")) + 4);
        QCOMPARE(grid()->columnWidth(columnOf(QStringLiteral("name"))),
                 int(std::ceil(89 * metrics.horizontalAdvance(u'0') / 6.0)));

        members().open();
        open();

        QCOMPARE(grid()->columnWidth(tel), 20 * metrics.horizontalAdvance(u'0') + 4);
        QCOMPARE(grid()->columnWidth(notes), 80 * metrics.horizontalAdvance(u'0') + 4);
        // Widths the user set afterwards are kept between showings.
        grid()->setColumnWidth(tel, 50);
        MemberMasterForm->hide();
        open();
        QCOMPARE(grid()->columnWidth(tel), 50);
    }

    // The focus chain: the grid first, then the buttons in their tab order, and back to the grid.
    void tabOrder()
    {
        open();
        QStringList visited;
        QWidget* w = grid();
        for (int i = 0; i < 7; ++i) {
            visited << w->objectName();
            w = w->nextInFocusChain();
            // The find bar's controls wait hidden just before the grid.
            while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty() || !w->isVisible())
                w = w->nextInFocusChain();
        }
        QCOMPARE(visited, (QStringList{"DBGrid1", "btnNewRead", "btnMarge", "btnMemberReg", "BitBtn1", "btnAppend",
                                       "btnCancel"}));
        QCOMPARE(w, grid());
        // From a button the keys follow the same chain.
        button("btnNewRead")->setFocus();
        visited.clear();
        for (int i = 0; i < 6; ++i) {
            visited << QApplication::focusWidget()->objectName();
            pressKey(Qt::Key_Tab);
        }
        QCOMPARE(visited, (QStringList{"btnNewRead", "btnMarge", "btnMemberReg", "BitBtn1", "btnAppend", "btnCancel"}));
        QCOMPARE(QApplication::focusWidget(), grid());
    }

    void ctrlTabLeavesTheGrid_data()
    {
        QTest::addColumn<bool>("typing");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<QString>("focus");
        QTest::newRow("Ctrl+Tab") << false << true << "btnNewRead";
        QTest::newRow("Ctrl+Shift+Tab") << false << false << "btnCancel";
        QTest::newRow("Ctrl+Tab while typing") << true << true << "btnNewRead";
        QTest::newRow("Ctrl+Shift+Tab while typing") << true << false << "btnCancel";
    }

    // Tab moves from cell to cell inside the grid; Ctrl+Tab and Ctrl+Shift+Tab lead out to the
    // buttons, writing what was typed into the cell.
    void ctrlTabLeavesTheGrid()
    {
        QFETCH(bool, typing);
        QFETCH(bool, forward);
        QFETCH(QString, focus);
        addMembers({1, 2});
        open();
        clickCell(0, QStringLiteral("name"));
        pressKey(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), grid());
        QCOMPARE(grid()->currentIndex().column(), columnOf(QStringLiteral("name_kana")));
        if (typing)
            typeText(QStringLiteral("ヤマダ"));

        if (forward)
            pressKey(Qt::Key_Tab, Qt::ControlModifier);
        else
            pressKey(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);

        QCOMPARE(QApplication::focusWidget()->objectName(), focus);
        QCOMPARE(members().state(), typing ? TableState::Edit : TableState::Browse);
        QCOMPARE(members().fieldValue(QStringLiteral("name_kana")).displayText(),
                 typing ? QStringLiteral("ヤマダ") : QString());
        QVERIFY(!grid()->cellEditor());
        // From a button Ctrl+Tab goes on like Tab.
        pressKey(Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(),
                 forward ? QStringLiteral("btnMarge") : QStringLiteral("DBGrid1"));
        QCOMPARE(boxTexts(), QStringList());
    }

    void menus()
    {
        QAction* n1 = action("N1");
        QAction* n3 = action("N3");
        QCOMPARE(n1->text(), QStringLiteral("ファイル"));
        QCOMPARE(n3->text(), QStringLiteral("データ管理"));
        QCOMPARE(n1->menu()->actions(), QList<QAction*>{action("N2")});
        QCOMPARE(n3->menu()->actions(),
                 (QList<QAction*>{action("N4"), MemberMasterForm->mnuRestore, MemberMasterForm->mnuPostalData,
                                  MemberMasterForm->mnuServerSettings}));
        QCOMPARE(MemberMasterForm->mnuServerSettings->text(), QStringLiteral("サーバー設定..."));
        QCOMPARE(MemberMasterForm->mnuPostalData->text(), QStringLiteral("郵便番号データの読込..."));
        QCOMPARE(MemberMasterForm->mnuRestore->text(), QStringLiteral("バックアップから復元..."));
        QCOMPARE(action("N2")->text(), QStringLiteral("終了"));
        QCOMPARE(action("N4")->text(), QStringLiteral("全名簿データ消去"));
        auto* bar = MemberMasterForm->findChild<QMenuBar*>(QStringLiteral("MainMenu1"));
        QAction* search = bar->actions().value(2);
        QCOMPARE(bar->actions(), (QList<QAction*>{n1, n3, search}));
        QCOMPARE(search->text(), QStringLiteral("検索"));
        QCOMPARE(search->menu()->actions(),
                 (QList<QAction*>{action("mnuFind"), action("mnuFindNext"), action("mnuFindPrevious")}));
        QCOMPARE(action("mnuFind")->text(), QStringLiteral("検索..."));
        QCOMPARE(action("mnuFind")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
        QCOMPARE(action("mnuFindNext")->shortcut(), QKeySequence(Qt::Key_F3));
        QCOMPARE(action("mnuFindPrevious")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F3));
        // The keyboard reaches the menu bar with F10.
        open();
        pressKey(Qt::Key_F10);
        QCOMPARE(bar->activeAction(), n1);
    }

    // ---------------------------------------------------------------- new member

    void newMemberNumber_data()
    {
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<int>("deleted"); // -1: none
        QTest::addColumn<int>("number");
        QTest::newRow("empty roster") << QList<int>{} << -1 << 0;
        QTest::newRow("0, 1 and 5") << QList<int>{0, 1, 5} << -1 << 6;
        QTest::newRow("5 deleted: follows the last") << QList<int>{0, 1, 5} << 5 << 2;
        QTest::newRow("1 deleted: the gap stays") << QList<int>{0, 1, 5} << 1 << 6;
        QTest::newRow("negative numbers") << QList<int>{-7, -3} << -1 << -2;
    }

    void newMemberNumber()
    {
        QFETCH(QList<int>, ids);
        QFETCH(int, deleted);
        QFETCH(int, number);
        addMembers(ids);
        if (deleted >= 0) {
            QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(deleted)));
            members().deleteRecord();
        }
        members().first();
        const qint64 stored = storedMembers();
        open();

        QTest::mouseClick(button("btnAppend"), Qt::LeftButton);

        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(members().state(), TableState::Insert);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(number));
        QVERIFY(members().fieldValue(QStringLiteral("name")).isNull());
        // Not posted: the grid shows the new row last, with its number, marked as inserted.
        QCOMPARE(storedMembers(), stored);
        const int row = grid()->gridModel()->rowCount() - 1;
        QCOMPARE(grid()->currentIndex().row(), row);
        QCOMPARE(shown(row, QStringLiteral("id_no")), QString::number(number));
        QCOMPARE(grid()->gridModel()->headerData(row, Qt::Vertical).toString(), QStringLiteral("*"));
    }

    // A new row dropped with Cancel (button or Esc) leaves the number to the next one.
    void cancelledNewRowGivesTheSameNumberAgain_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("キャンセル") << false;
        QTest::newRow("Esc") << true;
    }

    void cancelledNewRowGivesTheSameNumberAgain()
    {
        QFETCH(bool, byKey);
        addMembers({3, 4});
        open();
        QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(5));
        if (byKey)
            pressKey(Qt::Key_Escape);
        else
            QTest::mouseClick(button("btnCancel"), Qt::LeftButton);
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(grid()->gridModel()->rowCount(), 2);
        QVERIFY(MemberMasterForm->isVisible());

        QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(5));
        QCOMPARE(storedMembers(), 2);
        QCOMPARE(boxTexts(), QStringList());
    }

    // A member file whose last row has no number (a table made elsewhere, where id_no is no key):
    // the conversion error, nothing appended, the cursor on the last row.
    void lastNumberNullIsTheConversionError()
    {
        members().close();
        const QString db = file("MemberMaster.db");
        QVERIFY(execSql(db, QStringLiteral("DROP TABLE MemberMaster;"
                                           "CREATE TABLE MemberMaster (id_no INTEGER, name VARCHAR(40), "
                                           "name_kana VARCHAR(40), zip VARCHAR(10), address1 VARCHAR(80), "
                                           "address2 VARCHAR(80), tel VARCHAR(20), fax VARCHAR(20), "
                                           "notes VARCHAR(80), zip_f VARCHAR(16), zip_r VARCHAR(10), "
                                           "tel_f VARCHAR(20), tel_m VARCHAR(20), tel_r VARCHAR(4), print BOOLEAN);"
                                           "INSERT INTO MemberMaster (id_no, name) VALUES (4, '一');"
                                           "INSERT INTO MemberMaster (id_no, name) VALUES (NULL, '二');")));
        members().open();
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(4));
        open();
        MessageBox::seam().answer(QMessageBox::Ok);

        QTest::mouseClick(button("btnAppend"), Qt::LeftButton);

        errorboxes::expectOne(MessageBox::seam().requests(),
                              QStringLiteral("Null型から Integer 型へのバリアント型変換はできません."));
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(members().recNo(), 1);
        QCOMPARE(members().fieldValue(QStringLiteral("name")).asString(), QStringLiteral("二"));
        QCOMPARE(grid()->gridModel()->rowCount(), 2);
        QCOMPARE(grid()->currentIndex().row(), 1);
        QCOMPARE(scalar(db, QStringLiteral("SELECT COUNT(*) FROM MemberMaster")), 2);
    }

    // ---------------------------------------------------------------- delete

    void deleteMember_data()
    {
        QTest::addColumn<int>("answer"); // Yes, No, or 0 for Esc
        QTest::addColumn<bool>("deleted");
        QTest::newRow("はい deletes") << int(QMessageBox::Yes) << true;
        QTest::newRow("いいえ keeps") << int(QMessageBox::No) << false;
        QTest::newRow("Esc keeps") << 0 << false;
    }

    void deleteMember()
    {
        QFETCH(int, answer);
        QFETCH(bool, deleted);
        f_->addMember(1, QStringLiteral("佐藤花子"));
        f_->addMember(2, QStringLiteral("山田太郎"));
        f_->addMember(3, QStringLiteral("鈴木一郎"));
        addDetails(2);
        members().first();
        open();
        clickCell(1, QStringLiteral("name"));
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(2));
        if (answer)
            MessageBox::seam().answer(MessageBox::Button(answer));
        else
            MessageBox::seam().answerWith(escape);

        QTest::mouseClick(button("btnNewRead"), Qt::LeftButton);

        const auto asked = MessageBox::seam().requests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().text, QStringLiteral("山田太郎 を削除します.よろしいですか?"));
        QCOMPARE(asked.first().caption, QStringLiteral("警告"));
        QCOMPARE(asked.first().icon, QMessageBox::Warning);
        QCOMPARE(asked.first().buttons, (QStringList{"はい(&Y)", "いいえ(&N)"}));
        QCOMPARE(asked.first().defaultButton, QMessageBox::Yes);
        QCOMPARE(storedMembers(), deleted ? 2 : 3);
        QCOMPARE(storedText(2, "name"), deleted ? QStringLiteral("<none>") : QStringLiteral("山田太郎"));
        QCOMPARE(grid()->gridModel()->rowCount(), deleted ? 2 : 3);
        // The next member takes the place of the deleted one.
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(deleted ? 3 : 2));
        QCOMPARE(grid()->currentIndex().row(), 1);
        // The member's waybill contents and amount stay in their tables.
        QCOMPARE(details("Contents", 2), 1);
        QCOMPARE(details("Account", 2), 1);
    }

    // A new row typed in but never stored is dropped: nothing stored is deleted.
    void deleteNewRowDropsIt()
    {
        addMembers({1, 2});
        open();
        QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        clickCell(2, QStringLiteral("name"));
        typeText(QStringLiteral("新人"));
        MessageBox::seam().answer(QMessageBox::Yes);

        QTest::mouseClick(button("btnNewRead"), Qt::LeftButton);

        QCOMPARE(boxTexts(), QStringList{QStringLiteral("新人 を削除します.よろしいですか?")});
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(storedMembers(), 2);
        QCOMPARE(grid()->gridModel()->rowCount(), 2);
    }

    void deleteWithoutNameIsTheConversionError_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("empty roster") << "empty";
        QTest::newRow("new row whose name was never typed") << "new";
        QTest::newRow("member stored without a name") << "stored";
    }

    void deleteWithoutNameIsTheConversionError()
    {
        QFETCH(QString, situation);
        if (situation == u"stored") {
            members().append();
            members().setFieldValue(QStringLiteral("id_no"), FieldValue::integer(8));
            members().post();
        }
        const qint64 stored = storedMembers();
        open();
        if (situation == u"new")
            QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        const TableState state = members().state();
        MessageBox::seam().answer(QMessageBox::Ok);

        QTest::mouseClick(button("btnNewRead"), Qt::LeftButton);

        // No question: only the error box.
        errorboxes::expectOne(MessageBox::seam().requests(),
                              QStringLiteral("Null型から String 型へのバリアント型変換はできません."));
        QCOMPARE(storedMembers(), stored);
        QCOMPARE(members().state(), state);
    }

    // ---------------------------------------------------------------- register and cancel

    void registerPosts_data()
    {
        QTest::addColumn<QString>("pending");
        QTest::addColumn<bool>("posted");
        QTest::newRow("browsing: nothing") << "browse" << false;
        QTest::newRow("edit") << "edit" << true;
        QTest::newRow("new member") << "insert" << true;
    }

    // 登録 posts a pending member with the print-field rule, and does nothing (and tells nothing)
    // while browsing.
    void registerPosts()
    {
        QFETCH(QString, pending);
        QFETCH(bool, posted);
        f_->addMember(1, QStringLiteral("一"), QStringLiteral("060-0001"), QStringLiteral("011-222-3333"));
        open();
        if (pending == u"insert")
            QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        const int id = pending == u"insert" ? 2 : 1;
        if (pending != u"browse") {
            clickCell(grid()->currentIndex().row(), QStringLiteral("zip"));
            typeText(QStringLiteral("150-0001"));
        }
        const QString zipF = storedText(id, "zip_f");

        QTest::mouseClick(button("btnMemberReg"), Qt::LeftButton);

        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(storedMembers(), pending == u"insert" ? 2 : 1);
        QCOMPARE(storedText(id, "zip"), posted ? QStringLiteral("150-0001") : QStringLiteral("060-0001"));
        if (posted) {
            // The print fields were derived on the post.
            const FieldValue tel = id == 1 ? FieldValue::text("011-222-3333") : FieldValue();
            const QByteArray expected = halvenna::rules::splitZipAndTel(FieldValue::text("150-0001"), tel).zipF;
            QVERIFY(!expected.isEmpty() && QString::fromLatin1(expected) != zipF);
            QCOMPARE(storedText(id, "zip_f"), QString::fromLatin1(expected));
        } else {
            QCOMPARE(storedText(id, "zip_f"), zipF);
        }
    }

    // A post the table refuses is reported; the row stays pending for the user to correct.
    void refusedPostIsReportedAndTheRowStays()
    {
        addMembers({1});
        open();
        QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        clickCell(1, QStringLiteral("id_no"));
        typeText(QStringLiteral("1"));
        pressKey(Qt::Key_Tab);
        typeText(QStringLiteral("重複"));
        MessageBox::seam().answer(QMessageBox::Ok);

        QTest::mouseClick(button("btnMemberReg"), Qt::LeftButton);

        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QVERIFY2(MessageBox::seam().requests().first().text.startsWith(
                     QStringLiteral("tbMemberMaster: キーが重複しています")),
                 qPrintable(MessageBox::seam().requests().first().text));
        QCOMPARE(MessageBox::seam().requests().first().icon, QMessageBox::Critical);
        QCOMPARE(members().state(), TableState::Insert);
        QCOMPARE(members().fieldValue(QStringLiteral("name")).asString(), QStringLiteral("重複"));
        QCOMPARE(storedMembers(), 1);
        QCOMPARE(storedText(1, "name"), QStringLiteral("会員1"));

        // Corrected, it goes in.
        MessageBox::seam().clearRequests();
        clickCell(1, QStringLiteral("id_no"));
        typeText(QStringLiteral("9"));
        QTest::mouseClick(button("btnMemberReg"), Qt::LeftButton);
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(storedText(9, "name"), QStringLiteral("重複"));
    }

    void cancel_data()
    {
        QTest::addColumn<QString>("pending");
        QTest::addColumn<QString>("how");
        for (const char* how : {"button", "Esc in the cell", "Esc on a button"}) {
            QTest::addRow("edit, %s", how) << "edit" << how;
            QTest::addRow("new member, %s", how) << "insert" << how;
            QTest::addRow("browsing, %s", how) << "browse" << how;
        }
    }

    // キャンセル, or Esc wherever it is pressed, drops what is pending; the window stays open.
    void cancel()
    {
        QFETCH(QString, pending);
        QFETCH(QString, how);
        f_->addMember(1, QStringLiteral("一"));
        f_->addMember(2, QStringLiteral("二"));
        open();
        QSignalSpy clicked(button("btnCancel"), &QPushButton::clicked);
        if (pending == u"insert")
            QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        clickCell(pending == u"insert" ? 2 : 0, QStringLiteral("name"));
        if (pending != u"browse") {
            typeText(QStringLiteral("変更"));
            QCOMPARE(members().state(), pending == u"insert" ? TableState::Insert : TableState::Edit);
        }

        if (how == u"button") {
            QTest::mouseClick(button("btnCancel"), Qt::LeftButton);
        } else {
            if (how == u"Esc on a button")
                button("btnAppend")->setFocus();
            pressKey(Qt::Key_Escape);
        }

        QCOMPARE(clicked.size(), 1);
        QCOMPARE(boxTexts(), QStringList());
        QVERIFY(MemberMasterForm->isVisible());
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(grid()->gridModel()->rowCount(), 2);
        QCOMPARE(storedMembers(), 2);
        QCOMPARE(storedText(1, "name"), QStringLiteral("一"));
        QCOMPARE(shown(0, QStringLiteral("name")), QStringLiteral("一"));
    }

    // ---------------------------------------------------------------- the grid's keys in the window

    // Enter in a cell writes it and presses 登録 (the record rule runs); Esc presses キャンセル.
    void gridKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<TableState>("state");
        QTest::newRow("Enter registers") << int(Qt::Key_Return) << "150-0001" << TableState::Browse;
        QTest::newRow("keypad Enter registers") << int(Qt::Key_Enter) << "150-0001" << TableState::Browse;
        QTest::newRow("Esc cancels") << int(Qt::Key_Escape) << "060-0001" << TableState::Browse;
    }

    void gridKeys()
    {
        QFETCH(int, key);
        QFETCH(QString, stored);
        QFETCH(TableState, state);
        f_->addMember(1, QStringLiteral("一"), QStringLiteral("060-0001"));
        f_->addMember(2, QStringLiteral("二"));
        open();
        QSignalSpy registered(button("btnMemberReg"), &QPushButton::clicked);
        QSignalSpy cancelled(button("btnCancel"), &QPushButton::clicked);
        clickCell(0, QStringLiteral("zip"));
        typeText(QStringLiteral("150-0001"));
        QVERIFY(grid()->cellEditor());
        QCOMPARE(members().state(), TableState::Edit);

        pressKey(Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);

        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(registered.size(), key == Qt::Key_Escape ? 0 : 1);
        QCOMPARE(cancelled.size(), key == Qt::Key_Escape ? 1 : 0);
        QVERIFY(!grid()->cellEditor());
        QCOMPARE(members().state(), state);
        QCOMPARE(storedText(1, "zip"), stored);
        const QByteArray zipF = halvenna::rules::splitZipAndTel(FieldValue::text(stored.toLatin1()), FieldValue()).zipF;
        QVERIFY(!zipF.isEmpty());
        QCOMPARE(storedText(1, "zip_f"), QString::fromLatin1(zipF));
        QCOMPARE(shown(0, QStringLiteral("zip")), stored);
        QVERIFY(MemberMasterForm->isVisible());
        QCOMPARE(QApplication::focusWidget(), grid());
    }

    // ---------------------------------------------------------------- postal code to address

    void zipFillsAnEmptyAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("address"); // address1 before
        QTest::addColumn<int>("choice");      // the town chosen from the list; -1: Esc; -2: no list
        QTest::addColumn<QString>("filled");
        const QString shibuya = QStringLiteral("東京都渋谷区神宮前");
        QTest::newRow("with the hyphen") << "150-0001" << QString() << -2 << shibuya;
        QTest::newRow("without it") << "1500001" << QString() << -2 << shibuya;
        QTest::newRow("an address already there stays")
            << "150-0001" << QStringLiteral("大阪府") << -2 << QStringLiteral("大阪府");
        QTest::newRow("letters do nothing") << "15O-0001" << QString() << -2 << QString();
        QTest::newRow("too few digits do nothing") << "150-001" << QString() << -2 << QString();
        QTest::newRow("an unknown code does nothing") << "999-9999" << QString() << -2 << QString();
        QTest::newRow("two towns, the second chosen")
            << "498-0000" << QString() << 1 << QStringLiteral("三重県桑名郡木曽岬町");
        QTest::newRow("two towns, Esc keeps it empty") << "498-0000" << QString() << -1 << QString();
    }

    // A postal code typed into the grid and left fills address1 when it is empty, from the list
    // where the code covers several towns; the member is stored with it.
    void zipFillsAnEmptyAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, address);
        QFETCH(int, choice);
        QFETCH(QString, filled);
        usePostalFixture();
        f_->addMember(1, QStringLiteral("一"));
        if (!address.isEmpty()) {
            members().edit();
            members().setFieldValue(QStringLiteral("address1"), DataFixture::text(address));
            members().post();
        }
        open();
        if (choice >= -1)
            halvenna::TownChooser::seam().answer(choice >= 0 ? std::optional<int>(choice) : std::nullopt);
        clickCell(0, QStringLiteral("zip"));
        typeText(typed);
        pressKey(Qt::Key_Tab);
        QCOMPARE(members().fieldValue(QStringLiteral("address1")).displayText(), filled);
        QCOMPARE(shown(0, QStringLiteral("address1")), filled);
        const auto asked = halvenna::TownChooser::seam().requests();
        QCOMPARE(asked.size(), choice >= -1 ? 1 : 0);
        if (!asked.isEmpty()) {
            QCOMPARE(asked.first().code, QStringLiteral("4980000"));
            QCOMPARE(asked.first().towns,
                     (QStringList{QStringLiteral("愛知県弥富市"), QStringLiteral("三重県桑名郡木曽岬町")}));
        }
        pressKey(Qt::Key_Return);
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(storedText(1, "address1"), filled.isEmpty() ? QStringLiteral("<null>") : filled);
        QCOMPARE(boxTexts(), QStringList());
    }

    // A postal code the lookup reads is stored as the waybill's boxes print it, 150-0001, however
    // it was typed; one typed in full width is converted before the field's 8 bytes would cut it.
    // Anything else is stored as typed.
    void zipStoredAsTheWaybillPrintsIt_data() { postaltest::typedCodes(); }
    void zipStoredAsTheWaybillPrintsIt()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QFETCH(QString, filled);
        usePostalFixture();
        f_->addMember(1, QStringLiteral("一"));
        open();
        clickCell(0, QStringLiteral("zip"));
        typeText(typed);
        pressKey(Qt::Key_Tab);
        QCOMPARE(shown(0, QStringLiteral("zip")), kept);
        QCOMPARE(members().fieldValue(QStringLiteral("address1")).displayText(), filled);
        pressKey(Qt::Key_Return);
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(storedText(1, "zip"), kept);
        // The print fields are cut from what was kept: 1␣␣5␣␣0 and 0␣␣0␣␣0␣␣1 for 150-0001.
        const halvenna::rules::ZipAndTel split =
            halvenna::rules::splitZipAndTel(FieldValue::text(halvenna::sjis::fromUnicode(kept)), FieldValue());
        QCOMPARE(storedText(1, "zip_f"), halvenna::sjis::toUnicode(split.zipF));
        QCOMPARE(storedText(1, "zip_r"), halvenna::sjis::toUnicode(split.zipR));
        if (kept == u"150-0001") {
            QCOMPARE(storedText(1, "zip_f"), QStringLiteral("1  5  0"));
            QCOMPARE(storedText(1, "zip_r"), QStringLiteral("0  0  0  1"));
        }
    }

    // A damaged list beside the program is said where the user types a code, once, even if
    // something asked where the data comes from first (the About box); the dictionary fills the
    // address meanwhile.
    void damagedOwnFileIsReportedWhereTheCodeIsTyped()
    {
        usePostalFixture();
        QFile own(file("PostalCodes.txt"));
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write("1500001 /東京都渋谷区神宮前/\nnot a line of postal codes\n");
        own.close();
        QVERIFY(postalCodes_.describe().contains(QStringLiteral("読めません")));
        f_->addMember(1, QStringLiteral("一"));
        f_->addMember(2, QStringLiteral("二"));
        MessageBox::seam().answer(QMessageBox::Ok);
        open();
        clickCell(0, QStringLiteral("zip"));
        typeText(QStringLiteral("1500001"));
        pressKey(Qt::Key_Tab);
        QCOMPARE(boxTexts().size(), 1);
        const QString text = boxTexts().first();
        QVERIFY2(text.startsWith(file("PostalCodes.txt") + QStringLiteral(" の 2 行目")), qPrintable(text));
        QVERIFY2(text.contains(file("SKK-JISYO.zipcode")), qPrintable(text));
        QCOMPARE(MessageBox::seam().requests().first().icon, QMessageBox::Critical);
        QCOMPARE(members().fieldValue(QStringLiteral("address1")).displayText(), QStringLiteral("東京都渋谷区神宮前"));
        pressKey(Qt::Key_Return);
        QCOMPARE(storedText(1, "address1"), QStringLiteral("東京都渋谷区神宮前"));

        // Said once: the next code fills without another box.
        clickCell(1, QStringLiteral("zip"));
        typeText(QStringLiteral("150-0001"));
        pressKey(Qt::Key_Tab);
        pressKey(Qt::Key_Return);
        QCOMPARE(boxTexts().size(), 1);
        QCOMPARE(storedText(2, "address1"), QStringLiteral("東京都渋谷区神宮前"));
    }

    // The list of towns from the keyboard: Down and Enter take the second; Esc takes none.
    void townListFromTheKeyboard()
    {
        const halvenna::TownChooser::Request request{
            QStringLiteral("4980000"), {QStringLiteral("愛知県弥富市"), QStringLiteral("三重県桑名郡木曽岬町")}};
        for (const bool escape : {false, true}) {
            std::optional<int> answer = 42;
            QTimer::singleShot(0, this, [&] {
                auto* dialog = qobject_cast<halvenna::TownChooser*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                makeActive(dialog);
                const bool focused = QApplication::focusWidget() == dialog->lstTowns;
                const QStringList unnamed = unnamedInputs(dialog) + badlyNamedInWalk(dialog);
                if (escape) {
                    pressKey(Qt::Key_Escape);
                } else {
                    pressKey(Qt::Key_Down);
                    pressKey(Qt::Key_Return);
                }
                if (dialog->isVisible())
                    dialog->done(QDialog::Rejected); // a key that went astray must not leave it open
                QVERIFY(focused);
                QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u", ")));
            });
            answer = halvenna::TownChooser::seam().ask(request, nullptr);
            QCOMPARE(answer.value_or(-1), escape ? -1 : 1);
        }
    }

    // データ管理 → 郵便番号データの読込... reads the postal service's list, keeps it beside the
    // program, and the grid fills from it from then on; a damaged file changes nothing.
    void postalServiceListReplacesTheDictionary()
    {
        usePostalFixture();
        const QByteArray row = halvenna::sjis::fromUnicode(QStringLiteral(
            "13113,\"150  "
            "\",\"1500001\",\"ﾄｳｷｮｳﾄ\",\"ｼﾌﾞﾔｸ\",\"ｼﾞﾝｸﾞｳﾏｴ\",\"東京都\",\"渋谷区\",\"神宮前（次のビルを除く）\",0,0,1,"
            "0,0,0\r\n"
            "13101,\"100  "
            "\",\"1000001\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ﾁﾖﾀﾞ\",\"東京都\",\"千代田区\",\"千代田\",0,0,0,0,0,0\r\n"));
        const QString good = writeCsv(row);
        FileDialog::seam().answer(good);
        MessageBox::seam().answer(QMessageBox::Ok);
        open();
        MemberMasterForm->mnuPostalData->trigger();
        QCOMPARE(MessageBox::seam().requests().size(), 1);
        QCOMPARE(MessageBox::seam().requests().first().icon, QMessageBox::Information);
        QVERIFY2(MessageBox::seam().requests().first().text.contains(QStringLiteral("2 件")),
                 qPrintable(MessageBox::seam().requests().first().text));
        QVERIFY(QFile::exists(file("PostalCodes.txt")));
        QCOMPARE(postalCodes_.towns(u"100-0001"), QStringList{QStringLiteral("東京都千代田区千代田")});
        // A cut-off file: refused with its name and line, the list read before still in use.
        const QString bad = file("bad.csv");
        QFile out(bad);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(row.left(row.size() / 2 + 7));
        out.close();
        FileDialog::seam().answer(bad);
        MessageBox::seam().answer(QMessageBox::Ok);
        MemberMasterForm->mnuPostalData->trigger();
        QCOMPARE(MessageBox::seam().requests().size(), 2);
        QCOMPARE(MessageBox::seam().requests().last().icon, QMessageBox::Critical);
        QVERIFY2(MessageBox::seam().requests().last().text.startsWith(bad),
                 qPrintable(MessageBox::seam().requests().last().text));
        QCOMPARE(postalCodes_.towns(u"100-0001"), QStringList{QStringLiteral("東京都千代田区千代田")});
    }

    // ---------------------------------------------------------------- clear

    void clearRoster_data()
    {
        QTest::addColumn<int>("answer"); // Yes, No, or 0 for Esc
        QTest::addColumn<bool>("cleared");
        QTest::newRow("はい empties") << int(QMessageBox::Yes) << true;
        QTest::newRow("いいえ keeps") << int(QMessageBox::No) << false;
        QTest::newRow("Esc keeps") << 0 << false;
    }

    void clearRoster()
    {
        QFETCH(int, answer);
        QFETCH(bool, cleared);
        addMembers({3, 5, 9});
        addDetails(5);
        members().first();
        open();
        // A pending edit goes unposted with the roster.
        clickCell(1, QStringLiteral("name"));
        typeText(QStringLiteral("変更"));
        if (answer)
            MessageBox::seam().answer(MessageBox::Button(answer));
        else
            MessageBox::seam().answerWith(escape);

        action("N4")->trigger();

        const auto asked = MessageBox::seam().requests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().text, QStringLiteral("名簿データをすべて消去します.よいですか?"));
        QCOMPARE(asked.first().caption, QStringLiteral("警告"));
        QCOMPARE(asked.first().defaultButton, QMessageBox::Yes);
        QCOMPARE(asked.first().escapeButton, QMessageBox::No);
        QCOMPARE(details("Contents", 5), 1);
        QCOMPARE(details("Account", 5), 1);
        if (!cleared) {
            QCOMPARE(members().state(), TableState::Edit);
            QCOMPARE(storedMembers(), 3);
            return;
        }
        QVERIFY(members().active());
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(storedMembers(), 0);
        QCOMPARE(grid()->gridModel()->rowCount(), 0);

        // Numbering starts again at 0, and the import fills the empty roster at once.
        QTest::mouseClick(button("btnAppend"), Qt::LeftButton);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(0));
        QTest::mouseClick(button("btnCancel"), Qt::LeftButton);
        FileDialog::seam().answer(writeCsv(cp932(QStringLiteral("5,五,,,,,,\r\n"))));
        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        QCOMPARE(boxTexts().size(), 1);
        QCOMPARE(storedText(5, "name"), QStringLiteral("五"));
        QCOMPARE(grid()->gridModel()->rowCount(), 1);
    }

    // Emptying that fails is reported, and the roster is shown again as it still is.
    void clearThatFailsReopensTheTable()
    {
        addMembers({1, 2});
        QVERIFY(execSql(file("MemberMaster.db"), QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON MemberMaster "
                                                                "BEGIN SELECT RAISE(ABORT, 'kept'); END;")));
        open();
        MessageBox::seam().answer(QMessageBox::Yes);
        MessageBox::seam().answer(QMessageBox::Ok);

        action("N4")->trigger();

        QCOMPARE(boxTexts(), (QStringList{QStringLiteral("名簿データをすべて消去します.よいですか?"),
                                          QStringLiteral("tbMemberMaster: テーブルを空にできません (kept)")}));
        QCOMPARE(MessageBox::seam().requests().last().caption, QStringLiteral("Halvenna"));
        QVERIFY(members().active());
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(storedMembers(), 2);
        QCOMPARE(grid()->gridModel()->rowCount(), 2);
        QCOMPARE(shown(1, QStringLiteral("id_no")), QStringLiteral("2"));
    }

    // ---------------------------------------------------------------- safety copies

    // 全名簿データ消去 takes a copy first; バックアップから復元 lists it and, once confirmed, puts the
    // members, their contents and amounts back, shown at once.
    void clearedRosterComesBackFromItsCopy()
    {
        addMembers({3, 5, 9});
        addDetails(5);
        members().first();
        open();
        MessageBox::seam().answer(QMessageBox::Yes);
        action("N4")->trigger();
        QCOMPARE(storedMembers(), 0);
        const QList<halvenna::SafetyCopyInfo> copies = halvenna::SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies.at(0).reason, QStringLiteral("全名簿データ消去"));
        QCOMPARE(copies.at(0).members, 3);

        halvenna::SafetyCopyDialog::seam().answer(std::optional<int>(0));
        MessageBox::seam().answer(QMessageBox::Yes);
        MemberMasterForm->mnuRestore->trigger();

        QCOMPARE(halvenna::SafetyCopyDialog::seam().requests().size(), 1);
        QCOMPARE(boxTexts().size(), 2);
        QVERIFY(boxTexts().at(1).contains(QStringLiteral("3 人")));
        QCOMPARE(storedMembers(), 3);
        QCOMPARE(details("Contents", 5), 1);
        QCOMPARE(details("Account", 5), 1);
        QVERIFY(members().active());
        QCOMPARE(grid()->gridModel()->rowCount(), 3);
        QCOMPARE(shown(2, QStringLiteral("id_no")), QStringLiteral("9"));
    }

    // On a server the roster is every PC's: clearing and restoring say so before they are confirmed.
    void onAServerTheConfirmationsSayEveryPc_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("folder") << false;
        QTest::newRow("server") << true;
    }
    void onAServerTheConfirmationsSayEveryPc()
    {
        QFETCH(bool, server);
        addMembers({3});
        halvenna::SafetyCopy::take(f_->dir.path(), QStringLiteral("全名簿データ消去"), f_->dm->server());
        open();
        // Only the questions are asked: both are answered No, so the setting is never connected to.
        const QString kept = f_->dm->server();
        const QString setting = server ? QStringLiteral("host=db.example.lan dbname=halvenna") : QString();
        for (Table* t : {&f_->dm->tbMemberMaster, &f_->dm->tbContents, &f_->dm->tbAccount})
            t->setServer(setting);
        MessageBox::seam().answer(QMessageBox::No);
        action("N4")->trigger();
        halvenna::SafetyCopyDialog::seam().answer(std::optional<int>(0));
        MessageBox::seam().answer(QMessageBox::No);
        MemberMasterForm->mnuRestore->trigger();
        for (Table* t : {&f_->dm->tbMemberMaster, &f_->dm->tbContents, &f_->dm->tbAccount})
            t->setServer(kept);
        const QStringList texts = boxTexts();
        QCOMPARE(texts.size(), 2);
        if (server) {
            QCOMPARE(
                texts.at(0),
                QStringLiteral("サーバーの名簿データをすべて消去します.すべてのPCで名簿が空になります.よいですか?"));
            QVERIFY2(texts.at(1).endsWith(
                         QStringLiteral(" のコピーに戻します.サーバーの名簿データがすべてのPCで置き換わります"
                                        "(戻す前の名簿もバックアップに残します).よいですか?")),
                     qPrintable(texts.at(1)));
        } else {
            QCOMPARE(texts.at(0), QStringLiteral("名簿データをすべて消去します.よいですか?"));
            QVERIFY2(texts.at(1).endsWith(QStringLiteral(" のコピーに戻します.今の名簿データは置き換わります("
                                                         "戻す前の名簿もバックアップに残します).よいですか?")),
                     qPrintable(texts.at(1)));
        }
        QCOMPARE(storedMembers(), 1);
    }

    // Without the server's notifications (it restarted under a running PC), a window coming to the
    // front reads the shared tables again, and starts the notifications anew.
    void aWindowsActivationReadsTheServerAgainWithoutNotifications()
    {
        PrivatePostgres& pg = engine::server();
        const QString server = engine::freshServerTables();
        QTemporaryDir dirA;
        QTemporaryDir dirB;
        halvenna::schema::createMissingTables(dirA.path());
        halvenna::schema::createMissingTables(dirB.path());
        TDataModule1 a(dirA.path());
        a.setServer(server);
        a.DataModuleCreate();
        halvenna::DbGridModel grid;
        grid.setDataSource(&a.tbMemberMasterDataSource);
        grid.setColumns({{QStringLiteral("id_no"), QStringLiteral("ID番号"), 40}});
        QVERIFY(a.watchingServer());
        QVERIFY2(pg.stopServer(), qPrintable(pg.error()));
        QTRY_VERIFY(!a.watchingServer());
        QVERIFY2(pg.startAgain(), qPrintable(pg.error()));
        {
            TDataModule1 b(dirB.path());
            b.setServer(server);
            b.DataModuleCreate();
            b.tbMemberMaster.append();
            b.tbMemberMaster.setFieldValue(QStringLiteral("id_no"), FieldValue::integer(1));
            b.tbMemberMaster.post();
            b.DataModuleDestroy();
        }
        QTest::qWait(200);
        QCOMPARE(grid.rowCount(), 0);
        QWidget front;
        front.show();
        QVERIFY(makeActive(&front));
        QTRY_COMPARE(grid.rowCount(), 1);
        QVERIFY(a.watchingServer());
        a.DataModuleDestroy();
    }

    // サーバー設定 from the keyboard alone: host, port, database and user, each named; no password
    // field anywhere; Enter keeps what was typed.
    void serverSettingsFromTheKeyboard()
    {
        QTemporaryDir dir;
        halvenna::ServerSettingsForm d(
            {QStringLiteral("old.example.lan"), QString(), QStringLiteral("halvenna"), QStringLiteral("halvenna")},
            dir.filePath(QStringLiteral("Kelvaro.ini")));
        d.show();
        QVERIFY(makeActive(&d));
        QCOMPARE(QApplication::focusWidget(), d.edHost);
        QVERIFY2(unnamedInputs(&d).isEmpty(), qPrintable(unnamedInputs(&d).join(u", ")));
        for (QLineEdit* e : d.findChildren<QLineEdit*>())
            QCOMPARE(e->echoMode(), QLineEdit::Normal);
        QCOMPARE(d.findChildren<QLineEdit*>().size(), 4);
        pressKeys(&d, QStringLiteral("Ctrl+A, type:db.example.lan, Tab, type:5433, Tab, Ctrl+A, type:roster, "
                                     "Alt+U, Ctrl+A, type:office, Return"));
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.address(), (halvenna::ServerAddress{QStringLiteral("db.example.lan"), QStringLiteral("5433"),
                                                       QStringLiteral("roster"), QStringLiteral("office")}));
    }

    // What the dialog keeps goes into [Dostrel] Server= of the settings file, replaced atomically:
    // the sender's [Main] keeps its code page 932 bytes, other options of the setting (TLS) stay.
    void serverSettingsAreWrittenIntoTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("server");
        const QByteArray main = "[Main]\r\nSenderName=" + cp932(QStringLiteral("山田商店")) + "\r\n";
        QTest::newRow("a first server") << main << QStringList{"db.example.lan", "", "halvenna", "halvenna"}
                                        << QStringLiteral("host=db.example.lan dbname=halvenna user=halvenna");
        QTest::newRow("another, TLS kept")
            << main + "[Dostrel]\r\nServer=postgresql://halvenna@old.example.lan/halvenna?sslmode=require\r\n"
            << QStringList{"db.example.lan", "5433", "名簿 2026", "halvenna"}
            << QStringLiteral("host=db.example.lan port=5433 dbname='名簿 2026' user=halvenna sslmode=require");
        QTest::newRow("back to the folder") << main + "[Dostrel]\r\nServer=host=db.example.lan dbname=halvenna\r\n"
                                            << QStringList{"", "", "", ""} << QString();
    }
    void serverSettingsAreWrittenIntoTheSettingsFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, typed);
        QFETCH(QString, server);
        QTemporaryDir dir;
        const QString keptAppDir = appDir_;
        appDir_ = dir.path() + u'/';
        const QString path = halvenna::settingsFilePath(appDir_);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(before);
        }
        const halvenna::ServerAddress was = halvenna::serverAddress(halvenna::databaseServer(path));
        open();
        halvenna::ServerSettingsForm::seam().answer(std::optional<halvenna::ServerAddress>(
            halvenna::ServerAddress{typed.at(0), typed.at(1), typed.at(2), typed.at(3)}));
        MessageBox::seam().answer(QMessageBox::Ok);
        MemberMasterForm->mnuServerSettings->trigger();
        appDir_ = keptAppDir;
        const auto asked = halvenna::ServerSettingsForm::seam().requests();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().settingsPath, path);
        QCOMPARE(asked.first().address, was);
        QCOMPARE(halvenna::databaseServer(path), server);
        const halvenna::IniFile ini = halvenna::IniFile::load(path);
        QCOMPARE(ini.value("Main", "SenderName", {}), cp932(QStringLiteral("山田商店")));
        QVERIFY(ini.content().startsWith(
            before.left(before.indexOf("[Dostrel]") < 0 ? before.size() : before.indexOf("[Dostrel]"))));
        QCOMPARE(boxTexts(),
                 QStringList{QStringLiteral("設定ファイル %1 に保存しました.プログラムを起動し直すと使われます.")
                                 .arg(QDir::toNativeSeparators(path))});
    }

    // 接続テスト connects to the address as typed: a server with the shared tables, one without,
    // and one that cannot be reached each say so.
    void serverSettingsTestTheConnection()
    {
        PrivatePostgres& pg = engine::server();
        const QString withTables = engine::freshServerTables();
        QVERIFY2(pg.createDatabase(QStringLiteral("empty_roster")), qPrintable(pg.error()));
        QTemporaryDir dir;
        const auto tryAddress = [&](const halvenna::ServerAddress& address) {
            halvenna::ServerSettingsForm d(address, dir.filePath(QStringLiteral("Kelvaro.ini")));
            d.show();
            QVERIFY(makeActive(&d));
            MessageBox::seam().answer(QMessageBox::Ok);
            pressKeys(&d, QStringLiteral("Alt+T"));
        };
        halvenna::ServerAddress a = halvenna::serverAddress(withTables);
        tryAddress(a);
        a.database = QStringLiteral("empty_roster");
        tryAddress(a);
        a.host = QStringLiteral("/nonexistent");
        tryAddress(a);
        const QStringList texts = boxTexts();
        QCOMPARE(texts.size(), 3);
        const QString where = halvenna::sql::PostgresConnection::describe(withTables);
        QCOMPARE(texts.at(0), QStringLiteral("サーバー %1 に接続できました.名簿のテーブルがあります.").arg(where));
        QVERIFY2(texts.at(1).contains(
                     QStringLiteral("に接続できましたが、テーブル MemberMaster, Contents, Account がありません")),
                 qPrintable(texts.at(1)));
        QVERIFY2(texts.at(2).startsWith(QStringLiteral("接続テスト: サーバー /nonexistent")), qPrintable(texts.at(2)));
        QVERIFY2(texts.at(2).contains(QStringLiteral("に接続できません")), qPrintable(texts.at(2)));
    }

    // The list of copies from the keyboard: the newest chosen first, Down and Enter take another;
    // every input is named.
    void copyListFromTheKeyboard()
    {
        halvenna::SafetyCopyInfo a;
        a.taken = QDateTime(QDate(2026, 12, 10), QTime(9, 30));
        a.reason = QStringLiteral("全名簿データ消去");
        a.members = 120;
        halvenna::SafetyCopyInfo b = a;
        b.taken = QDateTime(QDate(2026, 12, 9), QTime(17, 5));
        b.reason = QStringLiteral("CSV 読込 kaiin.csv");
        halvenna::SafetyCopyDialog d({a, b});
        d.show();
        QVERIFY(makeActive(&d));
        QCOMPARE(d.lstCopies->item(0)->text(), QStringLiteral("2026/12/10 09:30:00  120 人  (全名簿データ消去の前)"));
        QCOMPARE(QApplication::focusWidget(), d.lstCopies);
        QVERIFY2(unnamedInputs(&d).isEmpty(), qPrintable(unnamedInputs(&d).join(u", ")));
        QVERIFY2(badlyNamedInWalk(&d).isEmpty(), qPrintable(badlyNamedInWalk(&d).join(u", ")));
        pressKeys(&d, QStringLiteral("Down, Return"));
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.chosen(), 1);
    }

    // An import takes a copy of the roster as it was before it writes anything.
    void importTakesACopyFirst()
    {
        addMembers({1, 2});
        open();
        FileDialog::seam().answer(writeCsv(cp932(QStringLiteral("1,変更,,,,,,\r\n7,七,,,,,,\r\n"))));
        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        QCOMPARE(storedMembers(), 3);
        const QList<halvenna::SafetyCopyInfo> copies = halvenna::SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies.at(0).reason, QStringLiteral("CSV 読込 members.csv"));
        QCOMPARE(copies.at(0).members, 2);
        QCOMPARE(scalar(QDir(copies.at(0).folder).filePath(QStringLiteral("MemberMaster.db")),
                        QStringLiteral("SELECT COUNT(*) FROM MemberMaster WHERE name = '会員1'")),
                 1);
    }

    // Imports that store nothing take no copy: ten of them after a clearing leave the clearing's
    // copy in place, and restoring it brings the cleared roster back (the restore itself first
    // copying the empty roster it replaces).
    void failedImportsKeepTheClearedRoster_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("exists");
        // The error box's text, or empty when the import says nothing.
        QTest::addColumn<QString>("message");
        QTest::newRow("a character code page 932 lacks on line 1")
            << QStringLiteral("1,吉田𠮷雄,ヨシダヨシオ,150-0001,東京都渋谷区神宮前1-2-3,,03-1234-5678,\r\n").toUtf8()
            << true << QStringLiteral("1 行目の '𠮷' (U+20BB7) はシフト JIS にない文字のため読み込めません.");
        QTest::newRow("a mistyped file name")
            << QByteArray() << false << QStringLiteral("ファイル %1 を開けません (ファイルがありません)");
        QTest::newRow("an empty file") << QByteArray() << true << QString();
        QTest::newRow("a byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << true << QString();
        QTest::newRow("a header line") << cp932(QStringLiteral("番号,氏名\r\n1,一\r\n")) << true
                                       << QStringLiteral("1 行目: 項目 'id_no' の値として不正です.");
    }

    void failedImportsKeepTheClearedRoster()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, exists);
        QFETCH(QString, message);
        addMembers({3, 5, 9});
        open();
        MessageBox::seam().answer(QMessageBox::Yes);
        action("N4")->trigger();
        QCOMPARE(storedMembers(), 0);
        const QString path = exists ? writeCsv(bytes) : file("kaiin.cvs");
        QVERIFY(!path.isEmpty());
        for (int i = 0; i < 10; ++i) {
            FileDialog::seam().answer(path);
            if (!message.isEmpty())
                MessageBox::seam().answer(QMessageBox::Ok);
            QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        }
        const QStringList texts = boxTexts();
        QCOMPARE(texts.size(), message.isEmpty() ? 1 : 11);
        if (!message.isEmpty())
            QCOMPARE(texts.last(), message.contains(u'%') ? message.arg(QDir::toNativeSeparators(path)) : message);
        QCOMPARE(storedMembers(), 0);
        const QList<halvenna::SafetyCopyInfo> copies = halvenna::SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies.at(0).reason, QStringLiteral("全名簿データ消去"));

        halvenna::SafetyCopyDialog::seam().answer(std::optional<int>(0));
        MessageBox::seam().answer(QMessageBox::Yes);
        MemberMasterForm->mnuRestore->trigger();
        QCOMPARE(storedMembers(), 3);
        QCOMPARE(grid()->gridModel()->rowCount(), 3);
        const QList<halvenna::SafetyCopyInfo> after = halvenna::SafetyCopy::list(f_->dir.path());
        QCOMPARE(after.size(), 2);
        QCOMPARE(after.at(0).reason, QStringLiteral("バックアップから復元"));
        QCOMPARE(after.at(0).members, 0);
    }

    // An import refused after its first line keeps the copy it took; the copy holds the roster as
    // it was before the lines that were stored.
    void anImportThatStoredSomethingKeepsItsCopy()
    {
        addMembers({1, 2});
        open();
        FileDialog::seam().answer(writeCsv(cp932(QStringLiteral("7,七,,,,,,\r\n番号,氏名\r\n"))));
        MessageBox::seam().answer(QMessageBox::Ok);
        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("2 行目: 項目 'id_no' の値として不正です.")});
        QCOMPARE(storedMembers(), 3);
        const QList<halvenna::SafetyCopyInfo> copies = halvenna::SafetyCopy::list(f_->dir.path());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies.at(0).members, 2);
    }

    // A damaged copy is marked in the list and refused by name when chosen: no question asked,
    // nothing replaced, no copy taken.
    void aDamagedCopyIsMarkedAndRefused()
    {
        addMembers({1, 2, 3});
        open();
        MessageBox::seam().answer(QMessageBox::Yes);
        action("N4")->trigger();
        const halvenna::SafetyCopyInfo copy = halvenna::SafetyCopy::list(f_->dir.path()).at(0);
        const QString table = QDir(copy.folder).filePath(QStringLiteral("MemberMaster.db"));
        {
            QFile damaged(table);
            QVERIFY(damaged.open(QIODevice::ReadWrite));
            QVERIFY(damaged.seek(100));
            QVERIFY(damaged.write(QByteArray(2 * 4096, '\x5a')) == 2 * 4096);
        }
        halvenna::SafetyCopyDialog::seam().answer(std::optional<int>(0));
        MessageBox::seam().answer(QMessageBox::Ok);
        MemberMasterForm->mnuRestore->trigger();
        const auto asked = halvenna::SafetyCopyDialog::seam().requests();
        QCOMPARE(asked.size(), 1);
        QVERIFY(halvenna::SafetyCopyDialog::describe(asked.first().at(0)).endsWith(QStringLiteral("※壊れています")));
        QCOMPARE(boxTexts().size(), 2);
        QCOMPARE(
            boxTexts().at(1),
            QStringLiteral("コピー %1 の MemberMaster.db が壊れています.").arg(QDir::toNativeSeparators(copy.folder)));
        QCOMPARE(storedMembers(), 0);
        QVERIFY(members().active());
        QCOMPARE(halvenna::SafetyCopy::list(f_->dir.path()).size(), 1);
    }

    // A copy that cannot be made stops the clearing before anything changes, and says so.
    void noCopyNoClearing()
    {
        addMembers({1, 2});
        open();
        faults::Unwritable folder(f_->dir.path());
        if (!folder.isSet())
            QSKIP(qPrintable(folder.why()));
        MessageBox::seam().answer(QMessageBox::Yes);
        MessageBox::seam().answer(QMessageBox::Ok);
        action("N4")->trigger();
        folder.undo();
        QCOMPARE(boxTexts().size(), 2);
        QVERIFY2(boxTexts().at(1).startsWith(QStringLiteral("安全のためのコピーを %1/backup/").arg(f_->dir.path())),
                 qPrintable(boxTexts().at(1)));
        QCOMPARE(storedMembers(), 2);
        QCOMPARE(grid()->gridModel()->rowCount(), 2);
    }

    // Restoring while another program holds a table fails with the in-use error and changes
    // nothing; the roster stays open as it was.
    void restoreWhileAnotherProgramHoldsTheTable()
    {
        addMembers({1});
        halvenna::SafetyCopy::take(f_->dir.path(), QStringLiteral("test"));
        addMembers({2, 3});
        open();
        faults::SqliteShell shell(file("MemberMaster.db"));
        QVERIFY2(shell.started(), "the sqlite3 shell does not start (scripts/deps.sh installs it)");
        shell.send("BEGIN IMMEDIATE;\nDELETE FROM MemberMaster WHERE id_no = -1;\n");
        QVERIFY(shell.waitUntilWriteLocked());
        halvenna::SafetyCopyDialog::seam().answer(std::optional<int>(0));
        MessageBox::seam().answer(QMessageBox::Yes);
        MessageBox::seam().answer(QMessageBox::Ok);
        MemberMasterForm->mnuRestore->trigger();
        shell.finish("ROLLBACK;\n.quit\n");
        QCOMPARE(boxTexts().size(), 2);
        QVERIFY2(boxTexts().at(1).contains(QStringLiteral("他のプログラムが使用中です")), qPrintable(boxTexts().at(1)));
        QCOMPARE(storedMembers(), 3);
        QVERIFY(members().active());
        QCOMPARE(grid()->gridModel()->rowCount(), 3);
        QVERIFY(!QFile::exists(file("MemberMaster.db") + QStringLiteral(".restoring")));
    }

    // ---------------------------------------------------------------- search

    // Ctrl+F, typing, Enter, F3, Shift+F3 and Esc, all from the keyboard; the grid gives the bar its
    // top while it shows and has its whole place back when it closes.
    void searchFromTheKeyboard()
    {
        f_->addMember(2, QStringLiteral("やまだ 花子"), QStringLiteral("150-0001"));
        f_->addMember(4, QStringLiteral("佐藤一郎"));
        f_->addMember(6, QStringLiteral("ﾔﾏﾀﾞ ﾀﾛｳ"));
        f_->addMember(8, QStringLiteral("ヤマダ次郎"));
        open();
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(4)));
        const QRect place = grid()->geometry();
        auto* bar = MemberMasterForm->findChild<halvenna::FindBar*>(QStringLiteral("FindBar"));
        auto* edit = bar->findChild<QLineEdit*>(QStringLiteral("edFind"));
        auto* status = bar->findChild<QLabel*>(QStringLiteral("lblFindStatus"));
        QVERIFY(!bar->isVisible());
        const auto current = [this] { return members().fieldValue(QStringLiteral("id_no")).asInteger(); };

        pressKey(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), edit);
        QCOMPARE(bar->geometry().top(), place.top());
        QCOMPARE(grid()->geometry(), place.adjusted(0, bar->height(), 0, 0));
        QCOMPARE(unnamedInputs(MemberMasterForm), QStringList());
        QCOMPARE(badlyNamedInWalk(MemberMasterForm), QStringList());
        QCOMPARE(status->accessibleName(), QStringLiteral("検索の結果"));

        // Typed in hiragana: the half-width katakana member after the current one.
        typeText(QStringLiteral("やまだ"));
        QCOMPARE(current(), 6);
        pressKey(Qt::Key_Return);
        QCOMPARE(current(), 8);
        pressKey(Qt::Key_F3);
        QCOMPARE(current(), 2); // round past the end
        pressKey(Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(current(), 8);
        // A postal code, and more typed: the search goes on from where the typing began.
        edit->clear();
        typeText(QStringLiteral("150"));
        QCOMPARE(current(), 2);
        QCOMPARE(status->text(), QString());

        typeText(QStringLiteral("x"));
        QCOMPARE(current(), 2);
        QVERIFY(bar->notFound());
        QCOMPARE(status->text(), QStringLiteral("見つかりません"));
        QCOMPARE(edit->accessibleDescription(), QStringLiteral("見つかりません"));
        QVERIFY(edit->palette().color(QPalette::Base) != MemberMasterForm->palette().color(QPalette::Base));
        pressKey(Qt::Key_Backspace);
        QVERIFY(!bar->notFound());

        // Esc closes the bar, not the window, and leaves the member current.
        pressKey(Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QVERIFY(MemberMasterForm->isVisible());
        QCOMPARE(current(), 2);
        QCOMPARE(grid()->geometry(), place);
        QVERIFY(QApplication::focusWidget() == grid() || grid()->isAncestorOf(QApplication::focusWidget()));
        QCOMPARE(members().state(), TableState::Browse);

        // The menu reaches it too, and the bar keeps its place when the window is resized.
        action("mnuFind")->trigger();
        QVERIFY(bar->isVisible());
        QCOMPARE(edit->selectedText(), QStringLiteral("150"));
        MemberMasterForm->resize(MemberMasterForm->size() + QSize(100, 50));
        QTRY_COMPARE(grid()->geometry(), QRect(8, 48 + bar->height(), 877, 499 - bar->height()));
        QCOMPARE(bar->geometry(), QRect(8, 48, 877, bar->height()));
    }

    // Moving to a match is an ordinary move: a pending change is stored first, and one the rules
    // refuse is the standard box with nothing moved.
    void searchSettlesThePendingRow()
    {
        addMembers({1, 2, 3});
        open();
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(1)));
        members().edit();
        members().setFieldValue(QStringLiteral("name"), DataFixture::text(QStringLiteral("変更後")));
        pressKey(Qt::Key_F, Qt::ControlModifier);
        typeText(QStringLiteral("会員3"));
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")).asInteger(), 3);
        QCOMPARE(storedText(1, "name"), QStringLiteral("変更後"));

        // A duplicate id_no is refused on the way.
        members().edit();
        members().setFieldValue(QStringLiteral("id_no"), FieldValue::integer(2));
        MessageBox::seam().answer(QMessageBox::Ok);
        pressKey(Qt::Key_Escape);
        pressKey(Qt::Key_F, Qt::ControlModifier);
        typeText(QStringLiteral("1"));
        QCOMPARE(boxTexts().size(), 1);
        QCOMPARE(members().state(), TableState::Edit);
        QCOMPARE(storedText(3, "name"), QStringLiteral("会員3"));
    }

    // On a big roster the table is read in steps between events: the keystroke returns at once,
    // the match at the far end comes a few steps later, and a new keystroke starts over.
    void searchInStepsOnABigRoster()
    {
        {
            Table::Batch batch(members());
            for (int id = 1; id <= 3 * halvenna::FindBar::kRowsPerStep; ++id)
                f_->addMember(id, QStringLiteral("会員%1").arg(id));
            f_->addMember(900000, QStringLiteral("最後の人"));
        }
        open();
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(1)));
        auto* bar = MemberMasterForm->findChild<halvenna::FindBar*>(QStringLiteral("FindBar"));
        pressKey(Qt::Key_F, Qt::ControlModifier);
        // As an input method gives it: one event with the whole text, the search's first step in it.
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("最後"));
        QApplication::sendEvent(QApplication::focusWidget(), &typed);
        QVERIFY(bar->searching());
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")).asInteger(), 1);
        QTRY_COMPARE(members().fieldValue(QStringLiteral("id_no")).asInteger(), 900000);
        QVERIFY(!bar->searching());
        QCOMPARE(grid()->currentIndex().row(), grid()->gridModel()->rowCount() - 1);

        // Typing while a search runs replaces it; Esc stops it where it stands.
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(1)));
        pressKey(Qt::Key_Escape);
        pressKey(Qt::Key_F, Qt::ControlModifier);
        QKeyEvent nowhere(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("どこにもない"));
        QApplication::sendEvent(QApplication::focusWidget(), &nowhere);
        QVERIFY(bar->searching());
        pressKey(Qt::Key_Escape);
        QVERIFY(!bar->searching());
        QTest::qWait(50);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")).asInteger(), 1);
        QVERIFY(!bar->notFound());
    }

    // ---------------------------------------------------------------- closing

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("閉じる") << "BitBtn1";
        QTest::newRow("menu 終了") << "N2";
        QTest::newRow("close box") << "close";
    }

    // Every way closes the window and leaves a pending edit as it is.
    void closing()
    {
        QFETCH(QString, how);
        addMembers({1});
        open();
        clickCell(0, QStringLiteral("name"));
        typeText(QStringLiteral("変更"));
        pressKey(Qt::Key_Tab); // the cell is written, the row still in edit state
        QCOMPARE(members().state(), TableState::Edit);

        if (how == u"BitBtn1")
            QTest::mouseClick(button("BitBtn1"), Qt::LeftButton);
        else if (how == u"N2")
            action("N2")->trigger();
        else
            MemberMasterForm->close();

        QTRY_VERIFY(!MemberMasterForm->isVisible());
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(members().state(), TableState::Edit);
        QCOMPARE(members().fieldValue(QStringLiteral("name")).asString(), QStringLiteral("変更"));
        QCOMPARE(storedText(1, "name"), QStringLiteral("会員1"));
    }

    // ---------------------------------------------------------------- import

    void importMerges()
    {
        f_->addMember(1, QStringLiteral("旧名"));
        QVERIFY(members().locate(QStringLiteral("id_no"), FieldValue::integer(1)));
        members().edit();
        members().setFieldValue(QStringLiteral("notes"), DataFixture::text(QStringLiteral("残る")));
        members().post();
        f_->addMember(30, QStringLiteral("三十"));
        members().first();
        open();
        const QString path = writeCsv(
            cp932(QStringLiteral("12,山田花子,ヤマダハナコ,150-0001,東京都渋谷区神宮前1-2-3,ハイツ201,03-1234-5678,"
                                 "03-1234-5679\r\n1,新名,シンメイ,060-0001,札幌市,,011-222-3333,\r\n")));
        FileDialog::seam().answer(path);

        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);

        const auto dialogs = FileDialog::seam().requests();
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs.first().objectName, QStringLiteral("OpenDialog1"));
        QCOMPARE(dialogs.first().filter, QStringLiteral("CVS ファイル (*.csv)"));
        QVERIFY(!dialogs.first().mustExist);
        // No message at the end.
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(storedMembers(), 3);
        QCOMPARE(storedText(12, "name"), QStringLiteral("山田花子"));
        QCOMPARE(storedText(12, "tel_r"), QStringLiteral("5678"));
        QCOMPARE(storedText(1, "name"), QStringLiteral("新名"));
        QCOMPARE(storedText(1, "notes"), QStringLiteral("残る"));
        // Browse state on the last member written, and the grid shows it.
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(1));
        QCOMPARE(grid()->gridModel()->rowCount(), 3);
        QCOMPARE(grid()->currentIndex().row(), 0);
        QCOMPARE(shown(1, QStringLiteral("name")), QStringLiteral("山田花子"));

        // The dialog opens next time where the last file was.
        FileDialog::seam().answer(QString());
        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        QCOMPARE(FileDialog::seam().requests().last().directory, path);
    }

    // A cell typed into in the grid is posted before the first line is merged.
    void importSettlesPendingGridEditFirst()
    {
        addMembers({1, 2, 3});
        open();
        clickCell(2, QStringLiteral("notes"));
        typeText(QStringLiteral("メモ"));
        QCOMPARE(members().state(), TableState::Edit);
        FileDialog::seam().answer(writeCsv(cp932(QStringLiteral("3,新しい名前,,,,,,\r\n2,二,,,,,,\r\n"))));

        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);

        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(storedText(3, "notes"), QStringLiteral("メモ"));
        QCOMPARE(storedText(3, "name"), QStringLiteral("新しい名前"));
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(members().fieldValue(QStringLiteral("id_no")), FieldValue::integer(2));
        QCOMPARE(shown(2, QStringLiteral("notes")), QStringLiteral("メモ"));
    }

    void importErrorIsShown_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // empty: a name that does not exist
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("imported");
        QTest::newRow("blank line in the middle") << cp932(QStringLiteral("1,一\r\n\r\n3,三\r\n"))
                                                  << "2 行目: 項目 'id_no' の値として不正です." << QStringList{"1"};
        QTest::newRow("header line") << cp932(QStringLiteral("番号,氏名\r\n1,一\r\n"))
                                     << "1 行目: 項目 'id_no' の値として不正です." << QStringList{};
        QTest::newRow("file that does not exist") << QByteArray() << "" << QStringList{};
    }

    void importErrorIsShown()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(QStringList, imported);
        open();
        QString path = file("missing.csv");
        if (!bytes.isEmpty())
            path = writeCsv(bytes);
        else
            message =
                QStringLiteral("ファイル %1 を開けません (ファイルがありません)").arg(QDir::toNativeSeparators(path));
        FileDialog::seam().answer(path);
        MessageBox::seam().answer(QMessageBox::Ok);

        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);

        errorboxes::expectOne(MessageBox::seam().requests(), message);
        QCOMPARE(storedMembers(), imported.size());
        for (const QString& id : imported)
            QVERIFY(storedText(id.toInt(), "name") != u"<none>");
        QCOMPARE(grid()->gridModel()->rowCount(), imported.size());
        QVERIFY(!MemberMasterForm->findChild<QProgressDialog*>());
    }

    void importCancelledThroughProgress_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("キャンセル button") << "button";
        QTest::newRow("Esc") << "esc";
    }

    // A long import shows its progress; cancelling it stops like a failure at the next line.
    void importCancelledThroughProgress()
    {
        QFETCH(QString, how);
        QByteArray bytes;
        for (int i = 1; i <= 50; ++i)
            bytes += QByteArray::number(i) + ",member,,,,,,\r\n";
        const QString path = writeCsv(bytes);
        MemberMasterForm->importProgressDelay = 0;
        MemberMasterForm->importProgressStep = 1;
        open();
        FileDialog::seam().answer(path);
        // Watches every turn of the event loop the import gives, as the user's eye would.
        QString label;
        bool modal = false;
        int maximum = 0;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, this, [&] {
            auto* progress = MemberMasterForm->findChild<QProgressDialog*>(QStringLiteral("ImportProgress"));
            if (!progress || !progress->isVisible() || !label.isNull())
                return;
            label = progress->labelText();
            modal = progress->windowModality() == Qt::ApplicationModal;
            maximum = progress->maximum();
            if (how == u"button")
                QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
            else
                QTest::keyClick(progress, Qt::Key_Escape);
        });
        watcher.start();
        MessageBox::seam().answer(QMessageBox::Ok);

        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        watcher.stop();

        QCOMPARE(label, QDir::toNativeSeparators(path));
        QVERIFY(modal);
        QCOMPARE(maximum, int(bytes.size()));
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("データの読込を中止しました.")});
        // The lines before the one it stopped at stay imported; the rest were not read.
        const qint64 imported = storedMembers();
        QVERIFY2(imported >= 1 && imported < 50, qPrintable(QString::number(imported)));
        QCOMPARE(storedText(int(imported), "name"), QStringLiteral("member"));
        QCOMPARE(storedText(int(imported) + 1, "name"), QStringLiteral("<none>"));
        QCOMPARE(members().state(), TableState::Browse);
        QCOMPARE(grid()->gridModel()->rowCount(), imported);
        QVERIFY(!MemberMasterForm->findChild<QProgressDialog*>());
    }

    // An import that does not run long shows no progress at all.
    void shortImportShowsNoProgress()
    {
        open();
        FileDialog::seam().answer(writeCsv("1,a\r\n2,b\r\n3,c\r\n"));
        bool seen = false;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, this, [&] {
            auto* progress = MemberMasterForm->findChild<QProgressDialog*>();
            seen = seen || (progress && progress->isVisible());
        });
        watcher.start();

        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        watcher.stop();

        QVERIFY(!seen);
        QCOMPARE(storedMembers(), 3);
        QCOMPARE(boxTexts(), QStringList());
    }

    // Without an answer queued the real dialog opens: Qt's own, offering "CVS ファイル", taking a
    // typed name that does not exist (the import then reports it).
    void openDialogTakesATypedNameThatDoesNotExist()
    {
        open();
        const QString typed = file("typed.csv");
        QFileDialog* seen = nullptr;
        QStringList filters;
        bool anyFile = false;
        bool qtOwn = false;
        bool refused = false;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || seen)
                return;
            seen = dialog;
            filters = dialog->nameFilters();
            anyFile = dialog->fileMode() == QFileDialog::AnyFile && dialog->acceptMode() == QFileDialog::AcceptOpen;
            qtOwn = dialog->testOption(QFileDialog::DontUseNativeDialog);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            // Set rather than typed: the completer's list of the folder would take the Enter.
            name->setText(typed);
            QTest::keyClick(name, Qt::Key_Return);
            // A dialog that insisted on an existing file would still be waiting.
            refused = dialog->isVisible();
            if (refused)
                dialog->reject();
        });
        watcher.start();
        MessageBox::seam().answer(QMessageBox::Ok);

        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);
        watcher.stop();

        QVERIFY(seen);
        QCOMPARE(filters, QStringList{QStringLiteral("CVS ファイル (*.csv)")});
        QVERIFY(anyFile);
        QVERIFY(qtOwn);
        QVERIFY(!refused);
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("ファイル %1 を開けません (ファイルがありません)")
                                             .arg(QDir::toNativeSeparators(typed))});
    }

    // A cancelled file dialog does nothing at all, not even settle a pending edit.
    void fileDialogCancelledDoesNothing()
    {
        addMembers({1});
        open();
        clickCell(0, QStringLiteral("name"));
        typeText(QStringLiteral("変更"));
        pressKey(Qt::Key_Tab);
        FileDialog::seam().answer(QString());

        QTest::mouseClick(button("btnMarge"), Qt::LeftButton);

        QCOMPARE(FileDialog::seam().requests().size(), 1);
        QCOMPARE(boxTexts(), QStringList());
        QCOMPARE(members().state(), TableState::Edit);
        QCOMPARE(storedText(1, "name"), QStringLiteral("会員1"));
    }
};

QTEST_MAIN(TestMemberMasterForm)
#include "tst_membermasterform.moc"

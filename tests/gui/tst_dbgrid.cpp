// The grid bound to the member table: rows in table order read by position, the current row both
// ways, cell editing with the window's default and cancel buttons, and the row keys.

#include "common/GuiFixture.h"

#include "common/Seams.h"
#include "gui/DbGrid.h"
#include "gui/MessageBox.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using halvenna::DbGrid;
using halvenna::DbGridColumn;
using halvenna::DbGridModel;
using halvenna::FieldValue;
using halvenna::MessageBox;
using halvenna::TableState;

Q_DECLARE_METATYPE(halvenna::TableState)

namespace {

const QList<DbGridColumn> kRosterColumns{{QStringLiteral("id_no"), QStringLiteral("番号"), 60},
                                         {QStringLiteral("name"), QStringLiteral("氏名"), 120}};

int columnOf(const DbGrid& grid, const QString& field)
{
    const QList<DbGridColumn>& columns = grid.gridModel()->columns();
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).field == field)
            return i;
    return -1;
}

QString shown(const DbGrid& grid, int row, const QString& field)
{
    return grid.gridModel()->index(row, columnOf(grid, field)).data().toString();
}

QString indicator(const DbGrid& grid, int row)
{
    return grid.gridModel()->headerData(row, Qt::Vertical).toString();
}

void clickCell(DbGrid& grid, int row, const QString& field)
{
    const QModelIndex index = grid.gridModel()->index(row, columnOf(grid, field));
    grid.scrollTo(index);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(index).center());
}

// The stored name of a member, read past the grid.
QString storedName(halvenna::Table& t, int id)
{
    const int back = t.recNo();
    QString name;
    if (t.locate(QStringLiteral("id_no"), FieldValue::integer(id)))
        name = t.fieldValue(QStringLiteral("name")).displayText();
    else
        name = QStringLiteral("<none>");
    t.first();
    for (int i = 0; i < back; ++i)
        t.next();
    return name;
}

// The long roster, 3,000 members (id_no 10, 12, ... 6008, named 会員0 ... 会員2999), stored once
// for the suite by initTestCase; a case that reads it gets a copy of the file of its own.
QTemporaryDir longRosterStore;

QString longRosterFile()
{
    return longRosterStore.filePath(QStringLiteral("MemberMaster.db"));
}

void makeLongRoster()
{
    DataFixture made;
    made.addMembers(3000, 10, 2);
    made.dm->SetTablesActive(false);
    QVERIFY(QFile::copy(made.members().filePath(), longRosterFile()));
}

// The fixture's members replaced by a copy of the long roster, the table knowing its count and
// standing on the last member, as after storing them.
void useLongRoster(GuiFixture& f)
{
    f.dm->SetTablesActive(false);
    QVERIFY(QFile::remove(f.members().filePath()));
    QVERIFY(QFile::copy(longRosterFile(), f.members().filePath()));
    f.dm->SetTablesActive(true);
    f.members().recordCount();
    f.members().last();
}

} // namespace

class TestDbGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { makeLongRoster(); }
    void rowsInTableOrderWithTitles_data();
    void rowsInTableOrderWithTitles();
    void readsRowsByPositionFromNearerEnd_data();
    void readsRowsByPositionFromNearerEnd();
    void showingLastRowsOfLongTableReadsOnlyThem();
    void bigTableShowsEstimateFirstThenExactCount_data();
    void bigTableShowsEstimateFirstThenExactCount();
    void followsTableCurrentRow_data();
    void followsTableCurrentRow();
    void choosingRowMovesTable_data();
    void choosingRowMovesTable();
    void refusedMoveKeepsRow();
    void choosingRowAfterNewRowSettlesFindsItsPlace_data();
    void choosingRowAfterNewRowSettlesFindsItsPlace();
    void editedRowShowsBuffer_data();
    void editedRowShowsBuffer();
    void typingEditsAndEnterPostsThroughDefaultButton_data();
    void typingEditsAndEnterPostsThroughDefaultButton();
    void escapeEndsCellEditingAndWindowCancels_data();
    void escapeEndsCellEditingAndWindowCancels();
    void rowKeys_data();
    void rowKeys();
    void ctrlDeleteAsksThenDeletes_data();
    void ctrlDeleteAsksThenDeletes();
    void focusLeavingDropsUntouchedNewRow_data();
    void focusLeavingDropsUntouchedNewRow();
    void readOnlyGridChangesNothing_data();
    void readOnlyGridChangesNothing();
};

void TestDbGrid::rowsInTableOrderWithTitles_data()
{
    QTest::addColumn<QList<DbGridColumn>>("columns");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QList<int>>("widths");

    QTest::newRow("titled, sized") << kRosterColumns << QStringList{"番号", "氏名"} << QList<int>{60, 120};
    QTest::newRow("field names, default width")
        << QList<DbGridColumn>{{"name", {}, 0}, {"ID_NO", {}, 0}} << QStringList{"name", "ID_NO"} << QList<int>{0, 0};
}

void TestDbGrid::rowsInTableOrderWithTitles()
{
    QFETCH(QList<DbGridColumn>, columns);
    QFETCH(QStringList, titles);
    QFETCH(QList<int>, widths);

    GuiFixture f;
    f.addMember(30, "山田太郎");
    f.addMember(10, "佐藤花子");
    f.addMember(20, "鈴木一郎");
    DbGrid grid;
    grid.setColumns(columns);
    grid.setDataSource(&f.dm->tbMemberMasterDataSource);

    DbGridModel* m = grid.gridModel();
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(m->columnCount(), titles.size());
    for (int c = 0; c < titles.size(); ++c) {
        QCOMPARE(m->headerData(c, Qt::Horizontal).toString(), titles.at(c));
        if (widths.at(c) > 0)
            QCOMPARE(grid.columnWidth(c), widths.at(c));
    }
    const QStringList ids{"10", "20", "30"};
    const QStringList names{"佐藤花子", "鈴木一郎", "山田太郎"};
    const int idColumn = columns.at(0).field == u"name" ? 1 : 0;
    for (int r = 0; r < 3; ++r) {
        QCOMPARE(m->index(r, idColumn).data().toString(), ids.at(r));
        QCOMPARE(m->index(r, 1 - idColumn).data().toString(), names.at(r));
    }
    // Numbers stand to the right, texts to the left.
    QVERIFY(m->index(0, idColumn).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    QVERIFY(m->index(0, 1 - idColumn).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);
}

void TestDbGrid::readsRowsByPositionFromNearerEnd_data()
{
    QTest::addColumn<QList<int>>("rows");

    QTest::newRow("first") << QList<int>{0};
    QTest::newRow("last") << QList<int>{2999};
    QTest::newRow("second block from the start") << QList<int>{70};
    QTest::newRow("second block from the end") << QList<int>{2930};
    QTest::newRow("middle") << QList<int>{1499, 1500};
    QTest::newRow("both ends, back and forth") << QList<int>{2999, 0, 2998, 1, 2999, 0};
}

void TestDbGrid::readsRowsByPositionFromNearerEnd()
{
    QFETCH(QList<int>, rows);

    GuiFixture f;
    useLongRoster(f);
    DbGrid grid;
    grid.setColumns(kRosterColumns);
    grid.setDataSource(&f.dm->tbMemberMasterDataSource);
    DbGridModel* m = grid.gridModel();
    QCOMPARE(m->rowCount(), 3000);
    QCOMPARE(m->cachedRows(), 0);

    for (int r : rows) {
        QCOMPARE(m->index(r, 0).data().toString(), QString::number(10 + 2 * r));
        QCOMPARE(m->index(r, 1).data().toString(), QStringLiteral("会員%1").arg(r));
    }
    // A few blocks around what was looked at, never the table.
    QVERIFY2(m->cachedRows() <= 200, qPrintable(QString::number(m->cachedRows())));

    // A change of the rows drops every block.
    f.members().first();
    f.members().edit();
    f.members().setFieldValue("name", FieldValue::fromString("変更"));
    f.members().post();
    QCOMPARE(m->cachedRows(), 0);
    QCOMPARE(m->index(0, 1).data().toString(), QStringLiteral("変更"));
}

void TestDbGrid::showingLastRowsOfLongTableReadsOnlyThem()
{
    GuiFixture f;
    useLongRoster(f);
    f.members().last();
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showExposed());
    DbGrid* grid = gw.grid;

    grid->scrollToBottom();
    grid->viewport()->repaint();
    const int bottom = grid->rowAt(grid->viewport()->height() - 2);
    QCOMPARE(bottom, 2999);
    QVERIFY2(grid->gridModel()->cachedRows() <= 200, qPrintable(QString::number(grid->gridModel()->cachedRows())));
    QCOMPARE(shown(*grid, 2999, "id_no"), QStringLiteral("6008"));
    QCOMPARE(shown(*grid, 2999, "name"), QStringLiteral("会員2999"));
    QCOMPARE(grid->currentIndex().row(), 2999);
    QCOMPARE(indicator(*grid, 2999), QStringLiteral("▶"));
}

void TestDbGrid::bigTableShowsEstimateFirstThenExactCount_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("estimated");

    QTest::newRow("numbers without gaps: exact at once") << 1 << false;
    QTest::newRow("numbers with gaps: estimated, then counted") << 2 << true;
}

void TestDbGrid::bigTableShowsEstimateFirstThenExactCount()
{
    QFETCH(int, step);
    QFETCH(bool, estimated);

    GuiFixture f;
    f.addMembers(1500, 10, step);
    const QString lastId = QString::number(10 + 1499 * step);
    // Freshly opened, the table does not know its size yet.
    f.members().close();
    f.members().open();
    DbGrid grid;
    grid.setColumns(kRosterColumns);
    grid.setDataSource(&f.dm->tbMemberMasterDataSource);
    DbGridModel* m = grid.gridModel();
    QSignalSpy resets(m, &QAbstractItemModel::modelReset);

    // The first screen and the last rows are right before the count is.
    QCOMPARE(m->rowCount() > 1500, estimated);
    QCOMPARE(m->index(0, 0).data().toString(), QStringLiteral("10"));
    QCOMPARE(m->index(m->rowCount() - 1, 0).data().toString(), lastId);
    QVERIFY(m->cachedRows() <= 200);
    // Choosing the last row shown moves the table to the last member, at its true position.
    m->moveTableTo(m->rowCount() - 1);
    QCOMPARE(f.members().fieldValue("id_no").displayText(), lastId);
    QCOMPARE(f.members().recNo(), 1499);

    QCoreApplication::processEvents();

    QCOMPARE(resets.size(), estimated ? 1 : 0);
    QCOMPARE(m->rowCount(), 1500);
    QCOMPARE(m->index(1499, 0).data().toString(), lastId);
    QCOMPARE(m->index(700, 0).data().toString(), QString::number(10 + 700 * step));
    QCOMPARE(grid.currentIndex().row(), 1499);
    QCOMPARE(f.takeErrors(), QStringList());
}

void TestDbGrid::followsTableCurrentRow_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("row");

    QTest::newRow("last") << "last" << 4;
    QTest::newRow("next") << "next" << 1;
    QTest::newRow("last, prior") << "last,prior" << 3;
    QTest::newRow("locate") << "locate" << 2;
    QTest::newRow("last, first") << "last,first" << 0;
}

void TestDbGrid::followsTableCurrentRow()
{
    QFETCH(QString, action);
    QFETCH(int, row);

    GuiFixture f;
    f.addMembers(5, 1);
    f.members().first();
    DbGrid grid;
    grid.setColumns(kRosterColumns);
    grid.setDataSource(&f.dm->tbMemberMasterDataSource);
    QCOMPARE(grid.currentIndex().row(), 0);

    for (const QString& step : action.split(u',')) {
        if (step == u"last")
            f.members().last();
        else if (step == u"next")
            f.members().next();
        else if (step == u"prior")
            f.members().prior();
        else if (step == u"first")
            f.members().first();
        else if (step == u"locate")
            QVERIFY(f.members().locate("id_no", FieldValue::integer(3)));
    }
    QCOMPARE(grid.currentIndex().row(), row);
    QCOMPARE(grid.gridModel()->currentRow(), row);
    QCOMPARE(indicator(grid, row), QStringLiteral("▶"));
    for (int other = 0; other < 5; ++other)
        if (other != row)
            QCOMPARE(indicator(grid, other), QString());
}

void TestDbGrid::choosingRowMovesTable_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("to");

    QTest::newRow("click a row further down") << 0 << "click:3" << 3;
    QTest::newRow("click a row further up") << 4 << "click:1" << 1;
    QTest::newRow("Down") << 1 << "Down" << 2;
    QTest::newRow("Up") << 2 << "Up" << 1;
    QTest::newRow("Ctrl+End") << 0 << "Ctrl+End" << 4;
}

void TestDbGrid::choosingRowMovesTable()
{
    QFETCH(int, from);
    QFETCH(QString, how);
    QFETCH(int, to);

    GuiFixture f;
    f.addMembers(5, 1);
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    QVERIFY(f.members().locate("id_no", FieldValue::integer(from + 1)));
    grid->setFocus();

    if (how.startsWith(u"click:"))
        clickCell(*grid, how.mid(6).toInt(), "name");
    else if (how == u"Down")
        pressKey(Qt::Key_Down);
    else if (how == u"Up")
        pressKey(Qt::Key_Up);
    else if (how == u"Ctrl+End")
        pressKey(Qt::Key_End, Qt::ControlModifier);

    QCOMPARE(f.members().recNo(), to);
    QCOMPARE(f.members().fieldValue("id_no").asInteger(), to + 1);
    QCOMPARE(grid->currentIndex().row(), to);
    QCOMPARE(f.members().state(), TableState::Browse);
    QCOMPARE(f.takeErrors(), QStringList());
}

void TestDbGrid::refusedMoveKeepsRow()
{
    GuiFixture f;
    f.addMembers(3, 1);
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    f.members().first();
    // The first member gets the number of the second: its post is refused.
    f.members().edit();
    f.members().setFieldValue("id_no", FieldValue::integer(2));

    f.expectError();
    clickCell(*grid, 2, "name");

    const QStringList errors = f.takeErrors();
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith(QStringLiteral("tbMemberMaster: キーが重複しています")),
             qPrintable(errors.first()));
    QCOMPARE(f.members().state(), TableState::Edit);
    QCOMPARE(f.members().recNo(), 0);
    QCOMPARE(grid->currentIndex().row(), 0);
    QCOMPARE(grid->selectionModel()->selectedIndexes(), QModelIndexList{grid->currentIndex()});
    QCOMPARE(indicator(*grid, 0), QStringLiteral("I"));
}

void TestDbGrid::choosingRowAfterNewRowSettlesFindsItsPlace_data()
{
    QTest::addColumn<QString>("typedId");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<QString>("clickedId");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("ids");

    // The new row is shown at row 0; the clicked row shows id 20 (stored position 1).
    QTest::newRow("posted before it") << "5" << 2 << "20" << 2 << QStringList{"5", "10", "20", "30"};
    QTest::newRow("posted after it") << "25" << 2 << "20" << 1 << QStringList{"10", "20", "25", "30"};
    QTest::newRow("dropped") << "" << 2 << "20" << 1 << QStringList{"10", "20", "30"};
}

void TestDbGrid::choosingRowAfterNewRowSettlesFindsItsPlace()
{
    QFETCH(QString, typedId);
    QFETCH(int, clicked);
    QFETCH(QString, clickedId);
    QFETCH(int, row);
    QFETCH(QStringList, ids);

    GuiFixture f;
    f.addMembers(3, 10, 10);
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    clickCell(*grid, 0, "id_no");
    pressKey(Qt::Key_Insert);
    QCOMPARE(grid->currentIndex().row(), 0);
    typeText(typedId);
    QCOMPARE(shown(*grid, clicked, "id_no"), clickedId);

    clickCell(*grid, clicked, "name");

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(f.members().state(), TableState::Browse);
    QCOMPARE(f.members().fieldValue("id_no").displayText(), clickedId);
    QCOMPARE(f.members().recNo(), row);
    QCOMPARE(grid->currentIndex().row(), row);
    QCOMPARE(grid->gridModel()->rowCount(), ids.size());
    for (int r = 0; r < ids.size(); ++r)
        QCOMPARE(shown(*grid, r, "id_no"), ids.at(r));
}

void TestDbGrid::editedRowShowsBuffer_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("edit") << "edit" << 1 << QStringList{"10", "99", "30"} << QStringList{"会員0", "新", "会員2"};
    QTest::newRow("insert") << "insert" << 1 << QStringList{"10", "99", "20", "30"}
                            << QStringList{"会員0", "新", "会員1", "会員2"};
    QTest::newRow("append") << "append" << 3 << QStringList{"10", "20", "30", "99"}
                            << QStringList{"会員0", "会員1", "会員2", "新"};
}

void TestDbGrid::editedRowShowsBuffer()
{
    QFETCH(QString, how);
    QFETCH(int, row);
    QFETCH(QStringList, ids);
    QFETCH(QStringList, names);

    GuiFixture f;
    f.addMembers(3, 10, 10);
    halvenna::Table& t = f.members();
    QVERIFY(t.locate("id_no", FieldValue::integer(20)));
    DbGrid grid;
    grid.setColumns(kRosterColumns);
    grid.setDataSource(&f.dm->tbMemberMasterDataSource);

    if (how == u"edit")
        t.edit();
    else if (how == u"insert")
        t.insert();
    else
        t.append();
    t.setFieldValue("id_no", FieldValue::integer(99));
    t.setFieldValue("name", FieldValue::fromString("新"));

    QCOMPARE(grid.currentIndex().row(), row);
    QCOMPARE(grid.gridModel()->rowCount(), ids.size());
    for (int r = 0; r < ids.size(); ++r) {
        QCOMPARE(shown(grid, r, "id_no"), ids.at(r));
        QCOMPARE(shown(grid, r, "name"), names.at(r));
    }
    // Nothing is stored yet: dropping the change shows the stored rows again.
    t.cancel();
    QCOMPARE(grid.gridModel()->rowCount(), 3);
    QCOMPARE(shown(grid, 1, "id_no"), QStringLiteral("20"));
    QCOMPARE(shown(grid, 1, "name"), QStringLiteral("会員1"));
    QCOMPARE(grid.currentIndex().row(), 1);
}

void TestDbGrid::typingEditsAndEnterPostsThroughDefaultButton_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");

    QTest::newRow("name") << "name"
                          << "Zed"
                          << "Zed";
    QTest::newRow("name in kanji") << "name"
                                   << "山田"
                                   << "山田";
    QTest::newRow("number with a sign") << "id_no"
                                        << "+42"
                                        << "42";
}

void TestDbGrid::typingEditsAndEnterPostsThroughDefaultButton()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, stored);

    GuiFixture f;
    f.addMember(1, "a");
    f.addMember(2, "b");
    f.addMember(3, "c");
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    TestWindow& w = gw.window;
    clickCell(*grid, 1, field);
    QCOMPARE(f.members().state(), TableState::Browse);

    typeText(typed.left(1));
    QVERIFY(grid->cellEditor());
    QCOMPARE(f.members().state(), TableState::Edit);
    QCOMPARE(indicator(*grid, 1), QStringLiteral("I"));
    typeText(typed.mid(1));
    QCOMPARE(grid->cellEditor()->text(), typed);
    QCOMPARE(w.posts, 0);

    pressKey(Qt::Key_Return);

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(w.posts, 1);
    QCOMPARE(f.members().state(), TableState::Browse);
    QCOMPARE(f.members().fieldValue(field).displayText(), stored);
    QVERIFY(!grid->cellEditor());
    const int row = grid->currentIndex().row();
    QCOMPARE(row, f.members().recNo());
    QCOMPARE(shown(*grid, row, field), stored);
    QCOMPARE(indicator(*grid, row), QStringLiteral("▶"));
}

void TestDbGrid::escapeEndsCellEditingAndWindowCancels_data()
{
    QTest::addColumn<bool>("byShortcut");

    QTest::newRow("window handles the key") << false;
    QTest::newRow("window has an Esc shortcut") << true;
}

void TestDbGrid::escapeEndsCellEditingAndWindowCancels()
{
    QFETCH(bool, byShortcut);

    GuiFixture f;
    f.addMember(1, "a");
    f.addMember(2, "b");
    GridWindow gw(f, kRosterColumns, {.escapeByShortcut = byShortcut});
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    TestWindow& w = gw.window;
    clickCell(*grid, 1, "name");
    typeText("Zed");
    QCOMPARE(f.members().state(), TableState::Edit);

    pressKey(Qt::Key_Escape);

    QCOMPARE(w.cancels, 1);
    QVERIFY(!grid->cellEditor());
    QCOMPARE(f.members().state(), TableState::Browse);
    QCOMPARE(f.members().fieldValue("name").displayText(), QStringLiteral("b"));
    QCOMPARE(shown(*grid, 1, "name"), QStringLiteral("b"));
    QVERIFY(w.isVisible());
}

void TestDbGrid::rowKeys_data()
{
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QString>("typedFirst");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("current");
    QTest::addColumn<TableState>("state");
    QTest::addColumn<QStringList>("ids");

    const QList<int> insert{Qt::Key_Insert};
    const QList<int> down{Qt::Key_Down};
    QTest::newRow("Insert at the current row")
        << 1 << "" << insert << 4 << 1 << TableState::Insert << QStringList{"10", "", "20", "30"};
    QTest::newRow("Down on the last row appends")
        << 2 << "" << down << 4 << 3 << TableState::Insert << QStringList{"10", "20", "30", ""};
    QTest::newRow("Down elsewhere moves")
        << 0 << "" << down << 3 << 1 << TableState::Browse << QStringList{"10", "20", "30"};
    QTest::newRow("Down on a blank new last row keeps it the only one")
        << 2 << "" << QList<int>{Qt::Key_Down, Qt::Key_Down} << 4 << 3 << TableState::Insert
        << QStringList{"10", "20", "30", ""};
    QTest::newRow("Up from a blank new row drops it") << 2 << "" << QList<int>{Qt::Key_Down, Qt::Key_Up} << 3 << 2
                                                      << TableState::Browse << QStringList{"10", "20", "30"};
    QTest::newRow("Insert while typing posts the typed row first")
        << 1 << "Q" << insert << 4 << 1 << TableState::Insert << QStringList{"10", "", "20", "30"};
    QTest::newRow("Down while typing on the last row posts it, then appends")
        << 2 << "Q" << down << 4 << 3 << TableState::Insert << QStringList{"10", "20", "30", ""};
}

void TestDbGrid::rowKeys()
{
    QFETCH(int, startRow);
    QFETCH(QString, typedFirst);
    QFETCH(QList<int>, keys);
    QFETCH(int, rows);
    QFETCH(int, current);
    QFETCH(TableState, state);
    QFETCH(QStringList, ids);

    GuiFixture f;
    f.addMembers(3, 10, 10);
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    clickCell(*grid, startRow, "name");
    const int typedId = (startRow + 1) * 10;
    if (!typedFirst.isEmpty()) {
        typeText(typedFirst);
        QVERIFY(grid->cellEditor());
    }

    for (int key : keys)
        pressKey(Qt::Key(key));

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(grid->gridModel()->rowCount(), rows);
    QCOMPARE(grid->currentIndex().row(), current);
    QCOMPARE(f.members().state(), state);
    for (int r = 0; r < rows; ++r)
        QCOMPARE(shown(*grid, r, "id_no"), ids.at(r));
    QCOMPARE(indicator(*grid, current), state == TableState::Insert ? QStringLiteral("*") : QStringLiteral("▶"));
    // The keyboard stays with the grid, also when the row it typed into was replaced.
    QCOMPARE(QApplication::focusWidget(), grid);
    if (!typedFirst.isEmpty())
        QCOMPARE(storedName(f.members(), typedId), typedFirst);
}

void TestDbGrid::ctrlDeleteAsksThenDeletes_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("ids");

    QTest::newRow("OK deletes") << int(QMessageBox::Ok) << QStringList{"10", "30"};
    QTest::newRow("キャンセル keeps") << int(QMessageBox::Cancel) << QStringList{"10", "20", "30"};
}

void TestDbGrid::ctrlDeleteAsksThenDeletes()
{
    QFETCH(int, answer);
    QFETCH(QStringList, ids);

    GuiFixture f;
    f.addMembers(3, 10, 10);
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    clickCell(*grid, 1, "name");
    MessageBox::seam().clearRequests();
    MessageBox::seam().answer(QMessageBox::StandardButton(answer));

    pressKey(Qt::Key_Delete, Qt::ControlModifier);

    QCOMPARE(MessageBox::seam().pendingAnswers(), 0);
    const QList<MessageBox::Request> asked = MessageBox::seam().requests();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.first().caption, QStringLiteral("確認"));
    QCOMPARE(asked.first().text, QStringLiteral("レコードを削除してもよいですか？"));
    QCOMPARE(asked.first().icon, QMessageBox::Question);
    QCOMPARE(asked.first().buttons, (QStringList{"OK", "キャンセル"}));
    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(f.members().recordCount(), ids.size());
    QCOMPARE(grid->gridModel()->rowCount(), ids.size());
    for (int r = 0; r < ids.size(); ++r)
        QCOMPARE(shown(*grid, r, "id_no"), ids.at(r));
    QCOMPARE(grid->currentIndex().row(), f.members().recNo());
}

void TestDbGrid::focusLeavingDropsUntouchedNewRow_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("rows");
    QTest::addColumn<TableState>("state");

    QTest::newRow("appended, untouched: dropped") << int(Qt::Key_Down) << "" << 3 << TableState::Browse;
    QTest::newRow("inserted, untouched: dropped") << int(Qt::Key_Insert) << "" << 3 << TableState::Browse;
    QTest::newRow("appended, typed into: kept") << int(Qt::Key_Down) << "X" << 4 << TableState::Insert;
}

void TestDbGrid::focusLeavingDropsUntouchedNewRow()
{
    QFETCH(int, key);
    QFETCH(QString, typed);
    QFETCH(int, rows);
    QFETCH(TableState, state);

    GuiFixture f;
    f.addMembers(3, 10, 10);
    GridWindow gw(f, kRosterColumns);
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    TestWindow& w = gw.window;
    clickCell(*grid, 2, "name");
    pressKey(Qt::Key(key));
    QCOMPARE(f.members().state(), TableState::Insert);
    if (!typed.isEmpty())
        typeText(typed);

    w.other->setFocus(Qt::TabFocusReason);

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(f.members().state(), state);
    QCOMPARE(grid->gridModel()->rowCount(), rows);
    QCOMPARE(f.members().recordCount(), 3);
    if (!typed.isEmpty())
        QCOMPARE(f.members().fieldValue("name").displayText(), typed);
}

void TestDbGrid::readOnlyGridChangesNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("current");

    QTest::newRow("a letter") << int(Qt::Key_A) << int(Qt::NoModifier) << 2;
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier) << 2;
    QTest::newRow("F2") << int(Qt::Key_F2) << int(Qt::NoModifier) << 2;
    QTest::newRow("Insert") << int(Qt::Key_Insert) << int(Qt::NoModifier) << 2;
    QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << 2;
    QTest::newRow("Down on the last row") << int(Qt::Key_Down) << int(Qt::NoModifier) << 2;
    QTest::newRow("Up still moves") << int(Qt::Key_Up) << int(Qt::NoModifier) << 1;
}

void TestDbGrid::readOnlyGridChangesNothing()
{
    QFETCH(int, key);
    QFETCH(int, mods);
    QFETCH(int, current);

    GuiFixture f;
    f.addMembers(3, 10, 10);
    GridWindow gw(f, kRosterColumns, {.readOnly = true});
    QVERIFY(gw.showActive());
    DbGrid* grid = gw.grid;
    clickCell(*grid, 2, "name");
    MessageBox::seam().clearRequests();

    QTest::keyClick(grid, Qt::Key(key), Qt::KeyboardModifiers(mods));

    QCOMPARE(MessageBox::seam().requests().size(), 0);
    QVERIFY(!grid->cellEditor());
    QCOMPARE(f.members().state(), TableState::Browse);
    QCOMPARE(f.members().recordCount(), 3);
    QCOMPARE(grid->gridModel()->rowCount(), 3);
    QCOMPARE(grid->currentIndex().row(), current);
    QCOMPARE(f.members().recNo(), current);
}

QTEST_MAIN(TestDbGrid)
#include "tst_dbgrid.moc"

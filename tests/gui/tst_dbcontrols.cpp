// The single-field controls, the navigator, what every editor lets through into a field, and the
// suspending of bound controls.

#include "common/GuiFixture.h"

#include "data/FieldText.h"
#include "data/SjisText.h"
#include "gui/DbGrid.h"

#include <QClipboard>
#include <QDate>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolButton>

using halvenna::DbCheckBox;
using halvenna::DbComboBox;
using halvenna::DbEdit;
using halvenna::DbGrid;
using halvenna::DbGridColumn;
using halvenna::DbNavigator;
using halvenna::FieldDef;
using halvenna::FieldKind;
using halvenna::FieldLineEdit;
using halvenna::FieldValue;
using halvenna::Table;
using halvenna::TableState;

Q_DECLARE_METATYPE(halvenna::FieldKind)
Q_DECLARE_METATYPE(halvenna::TableState)

namespace {

const QString kNull = QStringLiteral("<null>");

QString shownValue(const FieldValue& v)
{
    return v.isNull() ? kNull : v.displayText();
}

// Counts the contents rows of a member, leaving the member current.
int contentsRowsOf(GuiFixture& f, int id)
{
    if (!f.members().locate("id_no", FieldValue::integer(id)))
        return -1;
    return f.dm->tbContents.recordCount();
}

// The editors a test can type into: the grid's cell editor on a member's number, the amount edit of
// the account table, the item edit of the contents table.
struct Editors
{
    GuiFixture& f;
    std::unique_ptr<TestWindow> window;
    DbGrid* grid = nullptr;
    DbEdit* edit = nullptr;
    Table* table = nullptr;
    QString field;

    Editors(GuiFixture& fixture, const QString& control) : f(fixture)
    {
        f.addMember(1, "a");
        f.members().first();
        if (control == u"grid") {
            grid = new DbGrid;
            grid->setColumns({{"id_no", "番号", 60}, {"name", "氏名", 120}});
            grid->setDataSource(&f.dm->tbMemberMasterDataSource);
            table = &f.members();
            window = std::make_unique<TestWindow>(*table, grid);
        } else {
            edit = new DbEdit;
            table = control == u"amount" ? &f.dm->tbAccount : &f.dm->tbContents;
            edit->setDataSource(control == u"amount" ? &f.dm->tbAccountDataSource : &f.dm->tbContentsDataSource);
            edit->setDataField(control);
            window = std::make_unique<TestWindow>(*table, edit);
        }
        window->show();
    }

    bool ready() { return QTest::qWaitForWindowActive(window.get()); }

    // Focuses the editor with its text selected; for the grid, opens the cell editor on a column.
    FieldLineEdit* open(const QString& gridField = QStringLiteral("id_no"))
    {
        if (edit) {
            edit->setFocus(Qt::TabFocusReason);
            edit->selectAll();
            return edit;
        }
        field = gridField;
        grid->setFocus(Qt::TabFocusReason);
        grid->setCurrentIndex(grid->gridModel()->index(0, gridField == u"id_no" ? 0 : 1));
        pressKey(Qt::Key_Return);
        return grid->cellEditor();
    }
};

} // namespace

class TestDbControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void editorTextToFieldValue_data();
    void editorTextToFieldValue();
    void integerKeyFilter_data();
    void integerKeyFilter();
    void integerEditorErrorsAndNull_data();
    void integerEditorErrorsAndNull();
    void textCodePage932CannotHoldIsRefused_data();
    void textCodePage932CannotHoldIsRefused();
    void detailEditStartsRowOnlyWhenTypedInto_data();
    void detailEditStartsRowOnlyWhenTypedInto();
    void editWritesOnEnterFocusOutAndRequest_data();
    void editWritesOnEnterFocusOutAndRequest();
    void comboBoxTakesPickedOrTypedText_data();
    void comboBoxTakesPickedOrTypedText();
    void checkBoxGreyedForNullAndMarksOnClick_data();
    void checkBoxGreyedForNullAndMarksOnClick();
    void tickingMarkPostsTypedAmountFirst_data();
    void tickingMarkPostsTypedAmountFirst();
    void navigatorMovesAndDisablesAtEnds_data();
    void navigatorMovesAndDisablesAtEnds();
    void suspendedControlsRefreshOnceOnResume_data();
    void suspendedControlsRefreshOnceOnResume();
};

void TestDbControls::editorTextToFieldValue_data()
{
    QTest::addColumn<FieldKind>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("error");

    const auto integer = FieldKind::Integer;
    const QString noError;
    QTest::newRow("digits") << integer << "12"
                            << "12" << noError;
    QTest::newRow("plus sign") << integer << "+5"
                               << "5" << noError;
    QTest::newRow("minus sign") << integer << "-7"
                                << "-7" << noError;
    QTest::newRow("largest") << integer << "2147483647"
                             << "2147483647" << noError;
    QTest::newRow("smallest") << integer << "-2147483648"
                              << "-2147483648" << noError;
    QTest::newRow("empty is null") << integer << "" << kNull << noError;
    QTest::newRow("sign inside") << integer << "1-2"
                                 << ""
                                 << "'1-2' は項目 'id_no' に適した整数値ではありません";
    QTest::newRow("sign alone") << integer << "-"
                                << ""
                                << "'-' は項目 'id_no' に適した整数値ではありません";
    QTest::newRow("beyond 32 bits") << integer << "2147483648"
                                    << ""
                                    << "'2147483648' は項目 'id_no' に適した整数値ではありません";
    QTest::newRow("full-width digits") << integer << "１２"
                                       << ""
                                       << "'１２' は項目 'id_no' に適した整数値ではありません";
    QTest::newRow("text") << FieldKind::Text << "山田"
                          << "山田" << noError;
    QTest::newRow("empty text is null") << FieldKind::Text << "" << kNull << noError;
}

void TestDbControls::editorTextToFieldValue()
{
    QFETCH(FieldKind, kind);
    QFETCH(QString, text);
    QFETCH(QString, value);
    QFETCH(QString, error);

    const FieldDef def{QStringLiteral("id_no"), kind, 0};
    try {
        const FieldValue v = halvenna::fieldtext::valueOf(def, text);
        QVERIFY2(error.isEmpty(), "no error was raised");
        QCOMPARE(shownValue(v), value);
        QCOMPARE(v.isInteger(), kind == FieldKind::Integer && !v.isNull());
    } catch (const halvenna::ConversionError& e) {
        QCOMPARE(e.message(), error);
    }
}

void TestDbControls::integerKeyFilter_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("accepted");

    for (const char* control : {"grid", "amount"}) {
        for (const char* key : {"0", "5", "9", "+", "-"})
            QTest::addRow("%s %s", control, key) << control << QString::fromUtf8(key) << true;
        for (const char* key : {"a", "E", " ", ".", ",", "*", "１", "ー"})
            QTest::addRow("%s refuses '%s'", control, key) << control << QString::fromUtf8(key) << false;
    }
}

void TestDbControls::integerKeyFilter()
{
    QFETCH(QString, control);
    QFETCH(QString, key);
    QFETCH(bool, accepted);

    GuiFixture f;
    Editors editors(f, control);
    QVERIFY(editors.ready());
    FieldLineEdit* editor = editors.open();
    QVERIFY(editor);
    const QString before = editor->text();
    const TableState stateBefore = editors.table->state();

    typeText(key);

    QCOMPARE(f.beeps(), accepted ? 0 : 1);
    QCOMPARE(editor->text(), accepted ? key : before);
    // A refused key starts no editing (for a detail table: no new row).
    QCOMPARE(editors.table->state() != stateBefore, accepted);
    // Moving and deleting keys are no characters: never refused.
    pressKey(Qt::Key_Home);
    pressKey(Qt::Key_Delete);
    QCOMPARE(f.beeps(), accepted ? 0 : 1);
}

void TestDbControls::integerEditorErrorsAndNull_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("stored");

    const int enter = Qt::Key_Return;
    const int tab = Qt::Key_Tab;
    QTest::newRow("grid: 1-2, Enter") << "grid"
                                      << "1-2" << enter << "'1-2' は項目 'id_no' に適した整数値ではありません"
                                      << "1";
    QTest::newRow("grid: -+3, Tab") << "grid"
                                    << "-+3" << tab << "'-+3' は項目 'id_no' に適した整数値ではありません"
                                    << "1";
    QTest::newRow("grid: empty stores null, Tab") << "grid"
                                                  << "" << tab << "" << kNull;
    QTest::newRow("amount: 1-2, Enter") << "amount"
                                        << "1-2" << enter << "'1-2' は項目 'amount' に適した整数値ではありません"
                                        << kNull;
    QTest::newRow("amount: empty stores null, Enter") << "amount"
                                                      << "" << enter << "" << kNull;
    QTest::newRow("amount: +7, Enter") << "amount"
                                       << "+7" << enter << ""
                                       << "7";
}

void TestDbControls::integerEditorErrorsAndNull()
{
    QFETCH(QString, control);
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(QString, error);
    QFETCH(QString, stored);

    GuiFixture f;
    Editors editors(f, control);
    QVERIFY(editors.ready());
    FieldLineEdit* editor = editors.open();
    QVERIFY(editor);
    const QString field = control == u"grid" ? QStringLiteral("id_no") : control;
    // Something typed first, so that clearing is a change too.
    typeText(QStringLiteral("9"));
    pressKey(Qt::Key_Backspace);
    typeText(typed);
    QCOMPARE(editor->text(), typed);
    QVERIFY(editors.table->editing());

    if (!error.isEmpty())
        f.expectError();
    pressKey(Qt::Key(key));

    QCOMPARE(f.takeErrors(), error.isEmpty() ? QStringList() : QStringList{halvenna::errorBoxText(error)});
    if (!error.isEmpty()) {
        // Refused: the key goes no further (no post, no other cell), the text stays for the user to
        // correct, and nothing was written.
        QCOMPARE(editors.window->posts, 0);
        QCOMPARE(QApplication::focusWidget(), editor);
        QCOMPARE(editor->text(), typed);
        QVERIFY(editor->isModified());
        QVERIFY(editors.table->editing());
    } else if (key == Qt::Key_Return) {
        // Written, then the default button posted it.
        QCOMPARE(editors.window->posts, 1);
        QCOMPARE(editors.table->state(), TableState::Browse);
    } else {
        QVERIFY(editors.table->editing());
        QCOMPARE(editors.grid->currentIndex().column(), 1);
    }
    QCOMPARE(shownValue(editors.table->fieldValue(field)), stored);
}

void TestDbControls::textCodePage932CannotHoldIsRefused_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("stored"); // as the field shows it afterwards, when not the text itself

    for (const char* control : {"grid", "item"}) {
        QTest::addRow("%s: key 山", control) << control << "key"
                                             << "山" << true << QString();
        QTest::addRow("%s: key ①", control) << control << "key"
                                            << "①" << true << QString();
        QTest::addRow("%s: key 😀", control) << control << "key"
                                            << "😀" << false << QString();
        QTest::addRow("%s: input method 山田", control) << control << "input method"
                                                        << "山田" << true << QString();
        QTest::addRow("%s: input method 😀", control) << control << "input method"
                                                     << "😀" << false << QString();
        QTest::addRow("%s: paste ①②", control) << control << "paste"
                                               << "①②" << true << QString();
        QTest::addRow("%s: paste a😀", control) << control << "paste"
                                               << "a😀" << false << QString();
        // Hangul and a character of JIS X 0213 only have no code page 932 form.
        QTest::addRow("%s: key 한", control) << control << "key"
                                             << "한" << false << QString();
        QTest::addRow("%s: key 𠮷", control) << control << "key"
                                             << "𠮷" << false << QString();
        // The JIS wave dash and minus sign, as input methods here write them, are taken as code
        // page 932's full-width tilde and hyphen-minus.
        QTest::addRow("%s: input method 〜", control) << control << "input method"
                                                      << "〜" << true << "～";
        QTest::addRow("%s: paste 1−3", control) << control << "paste"
                                                << "1−3" << true << "1－3";
    }
}

void TestDbControls::textCodePage932CannotHoldIsRefused()
{
    QFETCH(QString, control);
    QFETCH(QString, how);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QString, stored);
    if (stored.isEmpty())
        stored = text;

    GuiFixture f;
    Editors editors(f, control);
    QVERIFY(editors.ready());
    FieldLineEdit* editor = editors.open(QStringLiteral("name"));
    QVERIFY(editor);
    const QString field = control == u"grid" ? QStringLiteral("name") : control;
    // The editor's text is selected: whatever comes in replaces it.
    const QString before = editor->text();

    if (how == u"key") {
        typeText(text);
    } else if (how == u"input method") {
        QInputMethodEvent event;
        event.setCommitString(text);
        QCoreApplication::sendEvent(QApplication::focusWidget(), &event);
    } else {
        QGuiApplication::clipboard()->setText(text);
        pressKey(Qt::Key_V, Qt::ControlModifier);
    }

    QCOMPARE(f.beeps(), accepted ? 0 : 1);
    QCOMPARE(editor->text(), accepted ? text : before);
    if (!accepted) {
        QCOMPARE(editors.table->state(), TableState::Browse);
        return;
    }
    editors.table->updateRecord();
    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(editors.table->fieldValue(field).displayText(), stored);
    QCOMPARE(editors.table->fieldValue(field).asText(), halvenna::sjis::fromUnicode(stored));
}

void TestDbControls::detailEditStartsRowOnlyWhenTypedInto_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<int>("rows");

    QTest::newRow("focused, nothing typed") << "" << false << 0;
    QTest::newRow("typed") << "箱" << false << 1;
    QTest::newRow("typed, then Esc") << "箱" << true << 0;
}

void TestDbControls::detailEditStartsRowOnlyWhenTypedInto()
{
    QFETCH(QString, typed);
    QFETCH(bool, escape);
    QFETCH(int, rows);

    GuiFixture f;
    f.addMember(1, "a");
    f.addMember(2, "b");
    f.members().first();
    Table& contents = f.dm->tbContents;
    auto* item = new DbEdit;
    item->setDataSource(&f.dm->tbContentsDataSource);
    item->setDataField("item");
    TestWindow w(contents, item);
    auto* year = new DbEdit(&w);
    year->setDataSource(&f.dm->tbContentsDataSource);
    year->setDataField("receipt_year");
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(item->text(), QString());
    QCOMPARE(year->text(), QString());

    item->setFocus(Qt::TabFocusReason);
    typeText(typed);
    if (escape)
        pressKey(Qt::Key_Escape);

    const QString thisYear = QString::number(QDate::currentDate().year());
    if (typed.isEmpty()) {
        QCOMPARE(contents.state(), TableState::Browse);
    } else {
        // The new row is started with its defaults; what was typed stays in the edit.
        QCOMPARE(contents.state(), TableState::Insert);
        QCOMPARE(contents.fieldValue("id_no").asInteger(), 1);
        QCOMPARE(year->text(), thisYear);
        QCOMPARE(item->text(), escape ? QString() : typed);
    }

    f.members().next();

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(contents.state(), TableState::Browse);
    QCOMPARE(item->text(), QString());
    QCOMPARE(contentsRowsOf(f, 2), 0);
    QCOMPARE(contentsRowsOf(f, 1), rows);
    if (rows) {
        QCOMPARE(item->text(), typed);
        QCOMPARE(year->text(), thisYear);
        QCOMPARE(contents.fieldValue("id_no").asInteger(), 1);
    }
}

void TestDbControls::editWritesOnEnterFocusOutAndRequest_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<TableState>("state");

    QTest::newRow("Enter (the default button posts)") << "Enter" << TableState::Browse;
    QTest::newRow("focus moves on") << "focus" << TableState::Insert;
    QTest::newRow("the table asks (a move of the member)") << "move" << TableState::Browse;
}

void TestDbControls::editWritesOnEnterFocusOutAndRequest()
{
    QFETCH(QString, trigger);
    QFETCH(TableState, state);

    GuiFixture f;
    f.addMember(1, "a");
    f.addMember(2, "b");
    f.members().first();
    Table& account = f.dm->tbAccount;
    auto* amount = new DbEdit;
    amount->setDataSource(&f.dm->tbAccountDataSource);
    amount->setDataField("amount");
    TestWindow w(account, amount);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    amount->setFocus(Qt::TabFocusReason);
    typeText("1500");
    QCOMPARE(account.state(), TableState::Insert);
    QVERIFY(account.fieldValue("amount").isNull());

    if (trigger == u"Enter") {
        pressKey(Qt::Key_Return);
        QCOMPARE(w.posts, 1);
    } else if (trigger == u"focus") {
        w.other->setFocus(Qt::TabFocusReason);
    } else {
        f.members().next();
        f.members().first();
    }

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(account.state(), state);
    QCOMPARE(shownValue(account.fieldValue("amount")), QStringLiteral("1500"));
    QCOMPARE(amount->text(), QStringLiteral("1500"));
    if (state == TableState::Browse)
        QCOMPARE(account.fieldValue("amount_prn").asString(), QStringLiteral("1 5 0 0"));
}

void TestDbControls::comboBoxTakesPickedOrTypedText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("downs");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<TableState>("state");

    QTest::newRow("Down picks the first item") << "" << 1 << false << "1" << TableState::Insert;
    QTest::newRow("Down twice picks the second") << "" << 2 << false << "2" << TableState::Insert;
    QTest::newRow("free text") << "12" << 0 << false << "12" << TableState::Insert;
    QTest::newRow("two spaces") << "  " << 0 << false << "  " << TableState::Insert;
    QTest::newRow("typed, then Esc") << "5" << 0 << true << kNull << TableState::Insert;
}

void TestDbControls::comboBoxTakesPickedOrTypedText()
{
    QFETCH(QString, typed);
    QFETCH(int, downs);
    QFETCH(bool, escape);
    QFETCH(QString, stored);
    QFETCH(TableState, state);

    GuiFixture f;
    f.addMember(1, "a");
    f.members().first();
    Table& contents = f.dm->tbContents;
    auto* value = new DbComboBox;
    value->setItems({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "  "});
    value->setDataSource(&f.dm->tbContentsDataSource);
    value->setDataField("value");
    TestWindow w(contents, value);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(value->currentText(), QString());
    QCOMPARE(value->count(), 11);
    value->setFocus(Qt::TabFocusReason);

    typeText(typed);
    for (int i = 0; i < downs; ++i)
        pressKey(Qt::Key_Down);
    if (escape)
        pressKey(Qt::Key_Escape);

    QCOMPARE(contents.state(), state);
    contents.updateRecord();
    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(shownValue(contents.fieldValue("value")), stored);
    QCOMPARE(contents.modified(), stored != kNull);
    // The items stay as given: free text is no new item.
    QCOMPARE(value->count(), 11);
}

void TestDbControls::checkBoxGreyedForNullAndMarksOnClick_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<Qt::CheckState>("shown");
    QTest::addColumn<bool>("bySpace");
    QTest::addColumn<bool>("marked");

    for (bool bySpace : {false, true}) {
        const char* how = bySpace ? "Space" : "click";
        QTest::addRow("null: greyed, %s marks", how) << kNull << Qt::PartiallyChecked << bySpace << true;
        QTest::addRow("false: unchecked, %s marks", how) << "False" << Qt::Unchecked << bySpace << true;
        QTest::addRow("true: checked, %s clears", how) << "True" << Qt::Checked << bySpace << false;
    }
}

void TestDbControls::checkBoxGreyedForNullAndMarksOnClick()
{
    QFETCH(QString, initial);
    QFETCH(Qt::CheckState, shown);
    QFETCH(bool, bySpace);
    QFETCH(bool, marked);

    GuiFixture f;
    f.addMember(1, "a");
    Table& m = f.members();
    m.first();
    if (initial != kNull) {
        m.edit();
        m.setFieldValue("print", FieldValue::logical(initial == u"True"));
        m.post();
    }
    auto* print = new DbCheckBox;
    print->setText(QStringLiteral("印刷"));
    print->setDataSource(&f.dm->tbMemberMasterDataSource);
    print->setDataField("print");
    TestWindow w(m, print);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(print->checkState(), shown);

    if (bySpace) {
        print->setFocus(Qt::TabFocusReason);
        pressKey(Qt::Key_Space);
    } else {
        QStyleOptionButton option;
        option.initFrom(print);
        const QRect box = print->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, print);
        QTest::mouseClick(print, Qt::LeftButton, {}, box.center());
    }

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(m.state(), TableState::Edit);
    QCOMPARE(m.fieldValue("print").isLogical(), true);
    QCOMPARE(m.fieldValue("print").asBoolean(), marked);
    QCOMPARE(print->checkState(), marked ? Qt::Checked : Qt::Unchecked);
    m.post();
    QCOMPARE(m.fieldValue("print").asBoolean(), marked);
    QCOMPARE(print->checkState(), marked ? Qt::Checked : Qt::Unchecked);
}

void TestDbControls::tickingMarkPostsTypedAmountFirst_data()
{
    QTest::addColumn<bool>("byMouse");

    QTest::newRow("the amount edit keeps the focus") << false;
    QTest::newRow("a mouse click takes the focus") << true;
}

void TestDbControls::tickingMarkPostsTypedAmountFirst()
{
    QFETCH(bool, byMouse);

    GuiFixture f;
    f.addMember(1, "a");
    Table& m = f.members();
    Table& account = f.dm->tbAccount;
    m.first();
    auto* amount = new DbEdit;
    amount->setDataSource(&f.dm->tbAccountDataSource);
    amount->setDataField("amount");
    TestWindow w(m, amount);
    auto* print = new DbCheckBox(&w);
    print->setDataSource(&f.dm->tbMemberMasterDataSource);
    print->setDataField("print");
    print->move(0, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    amount->setFocus(Qt::TabFocusReason);
    typeText("800");
    QCOMPARE(account.state(), TableState::Insert);

    if (byMouse) {
        QStyleOptionButton option;
        option.initFrom(print);
        QTest::mouseClick(print, Qt::LeftButton, {},
                          print->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, print).center());
    } else {
        print->click();
    }

    QCOMPARE(f.takeErrors(), QStringList());
    // The amount row was posted (its print form derived) before the member went into edit state.
    QCOMPARE(account.state(), TableState::Browse);
    QCOMPARE(shownValue(account.fieldValue("amount")), QStringLiteral("800"));
    QCOMPARE(account.fieldValue("amount_prn").asString(), QStringLiteral("8 0 0"));
    QCOMPARE(m.state(), TableState::Edit);
    QCOMPARE(m.fieldValue("print").asBoolean(), true);
    QCOMPARE(amount->text(), QStringLiteral("800"));
}

void TestDbControls::navigatorMovesAndDisablesAtEnds_data()
{
    QTest::addColumn<int>("members");
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<int>("row");
    QTest::addColumn<QList<bool>>("enabled"); // first, prior, next, last

    const QList<bool> atFirst{false, false, true, true};
    const QList<bool> between{true, true, true, true};
    const QList<bool> atLast{true, true, false, false};
    QTest::newRow("at the first row") << 3 << "" << 0 << atFirst;
    QTest::newRow("next") << 3 << "next" << 1 << between;
    QTest::newRow("last") << 3 << "last" << 2 << atLast;
    QTest::newRow("next, next") << 3 << "next,next" << 2 << atLast;
    QTest::newRow("last, prior") << 3 << "last,prior" << 1 << between;
    QTest::newRow("last, first") << 3 << "last,first" << 0 << atFirst;
    QTest::newRow("one member") << 1 << "" << 0 << QList<bool>{false, false, false, false};
    QTest::newRow("no member") << 0 << "" << -1 << QList<bool>{false, false, false, false};
}

void TestDbControls::navigatorMovesAndDisablesAtEnds()
{
    QFETCH(int, members);
    QFETCH(QString, clicks);
    QFETCH(int, row);
    QFETCH(QList<bool>, enabled);

    GuiFixture f;
    f.addMembers(members, 1);
    f.members().first();
    auto* nav = new DbNavigator;
    nav->setDataSource(&f.dm->tbMemberMasterDataSource);
    TestWindow w(f.members(), nav);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QStringList names{"先頭のレコード", "前のレコード", "次のレコード", "最後のレコード"};
    for (int b = 0; b < 4; ++b)
        QCOMPARE(nav->button(DbNavigator::Button(b))->accessibleName(), names.at(b));

    const QHash<QString, DbNavigator::Button> buttons{{"first", DbNavigator::First},
                                                      {"prior", DbNavigator::Prior},
                                                      {"next", DbNavigator::Next},
                                                      {"last", DbNavigator::Last}};
    for (const QString& click : clicks.split(u',', Qt::SkipEmptyParts))
        QTest::mouseClick(nav->button(buttons.value(click)), Qt::LeftButton);

    QCOMPARE(f.takeErrors(), QStringList());
    QCOMPARE(f.members().recNo(), row);
    for (int b = 0; b < 4; ++b)
        QCOMPARE(nav->button(DbNavigator::Button(b))->isEnabled(), enabled.at(b));
}

void TestDbControls::suspendedControlsRefreshOnceOnResume_data()
{
    QTest::addColumn<int>("depth");

    QTest::newRow("suspended once") << 1;
    QTest::newRow("suspended twice (nested)") << 2;
}

void TestDbControls::suspendedControlsRefreshOnceOnResume()
{
    QFETCH(int, depth);

    GuiFixture f;
    f.addMembers(3, 1);
    Table& m = f.members();
    m.first();
    auto* grid = new DbGrid;
    grid->setColumns({{"id_no", "番号", 60}, {"name", "氏名", 120}});
    grid->setReadOnly(true);
    grid->setDataSource(&f.dm->tbMemberMasterDataSource);
    TestWindow w(m, grid);
    auto* name = new DbEdit(&w);
    name->setDataSource(&f.dm->tbMemberMasterDataSource);
    name->setDataField("name");
    auto* print = new DbCheckBox(&w);
    print->setDataSource(&f.dm->tbMemberMasterDataSource);
    print->setDataField("print");
    auto* nav = new DbNavigator(&w);
    nav->setDataSource(&f.dm->tbMemberMasterDataSource);
    QSignalSpy resets(grid->gridModel(), &QAbstractItemModel::modelReset);
    QSignalSpy texts(name, &QLineEdit::textChanged);
    QSignalSpy marks(print, &QCheckBox::stateChanged);
    QCOMPARE(name->text(), QStringLiteral("会員0"));
    QCOMPARE(print->checkState(), Qt::PartiallyChecked);

    for (int i = 0; i < depth; ++i)
        m.disableControls();
    // As the print window marks every member: each one edited and posted, ending on the last.
    for (m.first(); !m.eof(); m.next()) {
        m.edit();
        m.setFieldValue("print", FieldValue::logical(true));
        m.post();
    }
    m.last();
    for (int i = 0; i < depth - 1; ++i)
        m.enableControls();

    QCOMPARE(resets.size(), 0);
    QCOMPARE(texts.size(), 0);
    QCOMPARE(marks.size(), 0);
    QCOMPARE(grid->currentIndex().row(), 0);
    QCOMPARE(name->text(), QStringLiteral("会員0"));
    QCOMPARE(nav->button(DbNavigator::Next)->isEnabled(), true);

    m.enableControls();

    QCOMPARE(resets.size(), 1);
    QCOMPARE(texts.size(), 1);
    QCOMPARE(marks.size(), 1);
    QCOMPARE(name->text(), QStringLiteral("会員2"));
    QCOMPARE(print->checkState(), Qt::Checked);
    QCOMPARE(grid->currentIndex().row(), 2);
    QCOMPARE(nav->button(DbNavigator::Next)->isEnabled(), false);
    QCOMPARE(nav->button(DbNavigator::Prior)->isEnabled(), true);
    QCOMPARE(f.takeErrors(), QStringList());
}

QTEST_MAIN(TestDbControls)
#include "tst_dbcontrols.moc"

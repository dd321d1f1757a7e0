#pragma once

// What the widget tests share: typing and keys, a window laid out as the roster lays out its grid,
// a grid bound to the member table in such a window, and GuiFixture: the tables of DataFixture with
// the seams recording, the standard error boxes read back, and a safety net that closes (and fails
// the test for) a message box nobody answered, instead of hanging.

#include "common/DataFixture.h"
#include "common/Seams.h"
#include "data/Error.h"
#include "data/Table.h"
#include "gui/Accessibility.h"
#include "gui/Beep.h"
#include "gui/DbControls.h"
#include "gui/DbGrid.h"
#include "gui/MessageBox.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

// Types text as key presses into widget (the focused widget when null), one character (or surrogate
// pair) a key, Japanese included: QTest::keyClicks only knows the Latin keys. An ASCII character
// comes with its key code, as from a keyboard.
inline void typeText(QWidget* widget, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString ch = text.mid(i, len);
        const char16_t u = ch.at(0).unicode();
        const Qt::Key key = len == 1 && u < 0x80 ? Qt::Key(QChar(u).toUpper().unicode()) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, widget, key, ch, Qt::NoModifier);
        i += len - 1;
    }
}

inline void typeText(const QString& text)
{
    typeText(nullptr, text);
}

inline void pressKey(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), key, mods);
}

// Makes a shown window the active one and waits for it: the offscreen platform does not always
// activate a window shown again, or a modal dialog opened from another one. False when it failed.
inline bool makeActive(QWidget* window)
{
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window) || QApplication::activeWindow() != window)
        QApplication::setActiveWindow(window);
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == window; });
}

// Keys as a user types them into a window, a script such as "Alt+F, Ctrl+A, type:/tmp/a.pdf, Return":
// each step goes to the window's focused widget. A button's mnemonic presses it and lets go a
// moment later, as a click does: the next key waits for the click.
inline void pressKeys(QWidget* window, const QString& script)
{
    for (const QString& raw : script.split(u',', Qt::SkipEmptyParts)) {
        const QString step = raw.trimmed();
        QWidget* focus = QApplication::focusWidget() && QApplication::focusWidget()->window() == window
                             ? QApplication::focusWidget()
                             : window;
        if (step.startsWith(QStringLiteral("type:"))) {
            QTest::keyClicks(focus, step.mid(5));
            continue;
        }
        const QKeySequence keys(step);
        QVERIFY2(keys.count() == 1, qPrintable(step));
        QTest::keyClick(focus, keys[0].key(), keys[0].keyboardModifiers());
        if (keys[0].keyboardModifiers() & Qt::AltModifier) {
            const QList<QAbstractButton*> buttons = window->findChildren<QAbstractButton*>();
            QTRY_VERIFY(std::none_of(buttons.begin(), buttons.end(), [](QAbstractButton* b) { return b->isDown(); }));
        }
    }
}

// The inputs of a window that assistive technology would not read by a name: every widget the
// focus can reach whose accessible name is empty, or is only the value it holds ("12" for a month
// box). By object name. The test installs the program's accessible names first
// (halvenna::installAccessibleNames() in initTestCase, as start-up does before the first window).
inline QStringList unnamedInputs(QWidget* window)
{
    QStringList unnamed;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->focusPolicy() == Qt::NoFocus || w->focusProxy() || !w->isVisibleTo(window))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        const QString name = a ? a->text(QAccessible::Name).trimmed() : QString();
        const QString value = a ? a->text(QAccessible::Value).trimmed() : QString();
        if (name.isEmpty() || (!value.isEmpty() && name == value && w->accessibleName().trimmed() != name))
            unnamed << (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                  : w->objectName());
    }
    return unnamed;
}

// The text a table view's cell of that column shows for `text`: whole, or cut with "…" where the
// style's text margins and the grid line leave too little room (as the view draws it).
inline QString shownInCell(QTableView* view, int column, const QString& text)
{
    QStyleOptionViewItem option;
    option.initFrom(view->viewport());
    option.font = view->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.text = text;
    option.features = QStyleOptionViewItem::HasDisplay;
    option.textElideMode = view->textElideMode();
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const int grid = view->showGrid() ? 1 : 0;
    option.rect = QRect(0, 0, view->columnWidth(column) - grid, view->verticalHeader()->defaultSectionSize() - grid);
    // The style draws the text inside a margin on each side of its rectangle, and measures it in
    // fractions of a pixel.
    const QRect textRect = view->style()->subElementRect(QStyle::SE_ItemViewItemText, &option, view);
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    return QFontMetricsF(option.font).elidedText(text, option.textElideMode, textRect.width() - 2 * margin);
}

// What a screen reader walking a window's accessibility tree meets unnamed, or named with what
// only the eye needs: every visible input, button, list, table, frame, grouping or status text
// whose name is empty, carries an access key "(F)" or a colon, or begins or ends with blanks.
// Each as "objectName (role): name".
inline QStringList badlyNamedInWalk(QWidget* window)
{
    static const QSet<QAccessible::Role> kRoles{
        QAccessible::EditableText, QAccessible::ComboBox,  QAccessible::PushButton, QAccessible::CheckBox,
        QAccessible::RadioButton,  QAccessible::SpinBox,   QAccessible::List,       QAccessible::Table,
        QAccessible::Grouping,     QAccessible::Border,    QAccessible::Pane,       QAccessible::StatusBar,
        QAccessible::Slider,       QAccessible::ButtonMenu};
    QStringList found;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* a) {
        for (int i = 0; i < a->childCount(); ++i) {
            QAccessibleInterface* child = a->child(i);
            if (!child || child->state().invisible)
                continue;
            auto* w = qobject_cast<QWidget*>(child->object());
            const QString name = child->text(QAccessible::Name);
            static const QRegularExpression accessKey(QStringLiteral("\\(&?[A-Za-z0-9]\\)|[:：]\\s*$"));
            const bool named = !name.trimmed().isEmpty() && name == name.trimmed() && !name.startsWith(QChar(0x3000)) &&
                               !name.endsWith(QChar(0x3000)) && !accessKey.match(name).hasMatch();
            if (w && kRoles.contains(child->role()) && !named)
                found << QStringLiteral("%1 (%2): %3")
                             .arg(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                            : w->objectName())
                             .arg(int(child->role()))
                             .arg(name);
            walk(child);
        }
    };
    if (QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window))
        walk(root);
    return found;
}

// A window as the roster lays it out: a bound widget, a default button that posts, a cancel button
// that Esc presses (by a key handler or by a shortcut), and another control to move the focus to.
class TestWindow : public QDialog
{
public:
    TestWindow(halvenna::Table& table, QWidget* bound, bool escapeByShortcut = false)
        : table_(table), escapeByShortcut_(escapeByShortcut)
    {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(bound);
        other = new QLineEdit(this);
        other->setAccessibleName(QStringLiteral("other"));
        layout->addWidget(other);
        auto* buttons = new QHBoxLayout;
        btnMemberReg = new QPushButton(QStringLiteral("登録"), this);
        btnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
        btnCancel->setAutoDefault(false);
        btnMemberReg->setDefault(true);
        buttons->addWidget(btnMemberReg);
        buttons->addWidget(btnCancel);
        layout->addLayout(buttons);
        QObject::connect(btnMemberReg, &QPushButton::clicked, this, [this] {
            ++posts;
            try {
                if (table_.editing())
                    table_.post();
            } catch (const std::exception& e) {
                halvenna::reportControlError(e);
            }
        });
        QObject::connect(btnCancel, &QPushButton::clicked, this, [this] {
            ++cancels;
            table_.cancel();
        });
        if (escapeByShortcut_) {
            auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
            QObject::connect(shortcut, &QShortcut::activated, btnCancel, &QPushButton::click);
        }
        resize(640, 480);
    }

    QLineEdit* other = nullptr;
    QPushButton* btnMemberReg = nullptr;
    QPushButton* btnCancel = nullptr;
    int posts = 0;
    int cancels = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!escapeByShortcut_ && event->key() == Qt::Key_Escape) {
            btnCancel->click();
            return;
        }
        QDialog::keyPressEvent(event);
    }

private:
    halvenna::Table& table_;
    bool escapeByShortcut_ = false;
};

// A grid on the member table's data source with the given columns, in a TestWindow.
struct GridWindow
{
    struct Options
    {
        bool readOnly = false;
        bool escapeByShortcut = false;
    };

    halvenna::DbGrid* grid;
    TestWindow window;

    GridWindow(DataFixture& f, const QList<halvenna::DbGridColumn>& columns, Options options)
        : grid(bound(f, columns, options.readOnly)), window(f.members(), grid, options.escapeByShortcut)
    {}
    GridWindow(DataFixture& f, const QList<halvenna::DbGridColumn>& columns) : GridWindow(f, columns, Options{}) {}

    // Shows the window; true once it is active (takes keys).
    bool showActive()
    {
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }
    // Shows the window; true once it is on the screen.
    bool showExposed()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

private:
    static halvenna::DbGrid* bound(DataFixture& f, const QList<halvenna::DbGridColumn>& columns, bool readOnly)
    {
        auto* g = new halvenna::DbGrid;
        g->setColumns(columns);
        if (readOnly)
            g->setReadOnly(true);
        g->setDataSource(&f.dm->tbMemberMasterDataSource);
        return g;
    }
};

// A message box that shows because no answer was queued would wait for a click and hang the test:
// while the net is up, every such box is closed and its text kept; end() fails the test for them.
// GuiFixture holds one; a suite whose windows outlive a test holds its own, up from init() to
// cleanup().
class UnansweredBoxes
{
public:
    UnansweredBoxes()
    {
        timer_.setInterval(200);
        timer_.callOnTimeout([this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    unanswered_ << box->text();
                    box->done(QMessageBox::Cancel);
                }
            }
        });
    }
    UnansweredBoxes(const UnansweredBoxes&) = delete;
    UnansweredBoxes& operator=(const UnansweredBoxes&) = delete;

    void begin()
    {
        unanswered_.clear();
        timer_.start();
    }
    // Takes the net down and fails the running test when it had to close a box.
    void end()
    {
        timer_.stop();
        const QStringList closed = std::exchange(unanswered_, {});
        QVERIFY2(closed.isEmpty(), qPrintable(QStringLiteral("boxes nobody answered: ") + closed.join(u", ")));
    }

private:
    QTimer timer_;
    QStringList unanswered_;
};

// The tables of DataFixture for a widget test: the seams record from the start, error boxes are
// read back with takeErrors(), refused keys counted with beeps(). A message box that shows because
// no answer was queued is closed by the safety net and fails the test.
struct GuiFixture : DataFixture
{
    GuiFixture()
    {
        seams::begin();
        safetyNet_.begin();
    }
    ~GuiFixture()
    {
        seams::end();
        safetyNet_.end();
    }
    GuiFixture(const GuiFixture&) = delete;
    GuiFixture& operator=(const GuiFixture&) = delete;

    // The action about to run shows an error box: it is answered OK.
    void expectError() { halvenna::MessageBox::seam().answer(QMessageBox::Ok); }

    // The texts of the standard error boxes asked for so far, which are then forgotten with every
    // other box recorded (errors a control reports after the table's operation arrive from the event
    // loop, which is let through first).
    QStringList takeErrors()
    {
        QCoreApplication::processEvents();
        QStringList texts;
        for (const halvenna::MessageBox::Request& r : halvenna::MessageBox::seam().requests())
            if (r.icon == QMessageBox::Critical)
                texts << r.text;
        halvenna::MessageBox::seam().clearRequests();
        return texts;
    }

    qsizetype beeps() const { return halvenna::Beep::seam().requests().size(); }

private:
    UnansweredBoxes safetyNet_;
};

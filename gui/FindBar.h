#pragma once

#include "roster/model/MemberSearch.h"

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <optional>

class QAction;
class QGridLayout;
class QMenuBar;
class QLabel;
class QToolButton;

namespace halvenna {

class Table;

// The find bar above a member grid: as the user types, the member table moves to the first match
// after the member that was current when the typing began; Enter or F3 finds the next, Shift+F3 the
// previous, Esc closes the bar and leaves the member current. The table is read a few thousand rows
// per turn of the event loop, so a keystroke never waits for a pass over a big roster.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    // Rows read per turn of the event loop.
    static constexpr int kRowsPerStep = 2000;

    explicit FindBar(QWidget* parent);

    // The window's 検索 menu: 検索... (Ctrl+F), 次を検索 (F3), 前を検索 (Shift+F3).
    struct MenuActions
    {
        QAction* find = nullptr;
        QAction* next = nullptr;
        QAction* previous = nullptr;
    };
    static MenuActions addMenu(QMenuBar* bar);
    void connectMenu(const MenuActions& actions);

    void setTable(Table* members) { table_ = members; }
    // The grid the bar sits above, and the place the window gives the grid; while the bar shows,
    // it takes the top of that place and the grid the rest. Windows lay their grid out through this.
    void placeGrid(QWidget* grid, const QRect& place);
    // Puts the bar's controls just before the grid in the window's tab order.
    void takeTabPlaceBefore(QWidget* grid);

    // Opens the bar (or selects its text when open) with the focus in it.
    void open();
    // Closes the bar: the member stays current, the focus goes to the grid.
    void close();
    // Enter, F3 and Shift+F3: the next match after the current member, or the one before it.
    void findNext(bool backwards = false);

    bool searching() const { return timer_.isActive(); }
    // Whether the last search ended without a match (the bar is red).
    bool notFound() const { return notFound_; }

private:
    void textEdited(const QString& text);
    void start(bool backwards);
    void stepOn();
    void showNotFound(bool notFound);
    void layOut();
    std::optional<qint64> currentMember() const;

    Table* table_ = nullptr;
    QPointer<QWidget> grid_;
    QRect place_;
    bool compact_ = false;
    QGridLayout* layout_ = nullptr;
    QLabel* label_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QLabel* status_ = nullptr;
    QToolButton* closeButton_ = nullptr;
    QTimer timer_;
    std::optional<MemberSearch> search_;
    // The member current when the typing began: every keystroke searches on from it.
    std::optional<qint64> anchor_;
    bool notFound_ = false;
};

} // namespace halvenna

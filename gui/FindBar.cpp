#include "gui/FindBar.h"

#include "data/FieldValue.h"
#include "data/Table.h"
#include "gui/Accessibility.h"
#include "gui/ErrorReporter.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolButton>

#include <functional>

namespace halvenna {

namespace {

// A bar narrower than this puts its message on a second line.
constexpr int kCompactWidth = 360;
const QString kNotFound = QStringLiteral("見つかりません");

// The bar's edit answers Enter, F3 and Esc itself: in a dialog they would otherwise press the
// default button or close the window.
class FindEdit : public QLineEdit
{
public:
    FindEdit(QWidget* parent, std::function<void(bool)> next, std::function<void()> close)
        : QLineEdit(parent), next_(std::move(next)), close_(std::move(close))
    {}

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            next_(event->modifiers() & Qt::ShiftModifier);
            event->accept();
            return;
        case Qt::Key_F3:
            next_(event->modifiers() & Qt::ShiftModifier);
            event->accept();
            return;
        case Qt::Key_Escape:
            close_();
            event->accept();
            return;
        default:
            QLineEdit::keyPressEvent(event);
        }
    }

private:
    std::function<void(bool)> next_;
    std::function<void()> close_;
};

} // namespace

FindBar::FindBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FindBar"));
    setAutoFillBackground(true);
    label_ = new QLabel(QStringLiteral("検索(&F):"), this);
    edit_ = new FindEdit(
        this, [this](bool backwards) { guarded([&] { findNext(backwards); }); }, [this] { close(); });
    edit_->setObjectName(QStringLiteral("edFind"));
    edit_->setToolTip(
        QStringLiteral("ID番号、氏名、フリガナ、電話番号、郵便番号、住所で探します (Enter/F3 で次、Shift+F3 で前)"));
    label_->setBuddy(edit_);
    edit_->setAccessibleName(spokenName(label_->text()));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("lblFindStatus"));
    // Read as what it is; its text ("見つかりません"...) is what it says.
    status_->setAccessibleName(QStringLiteral("検索の結果"));
    closeButton_ = new QToolButton(this);
    closeButton_->setObjectName(QStringLiteral("btnFindClose"));
    closeButton_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    closeButton_->setAutoRaise(true);
    closeButton_->setAccessibleName(QStringLiteral("検索を閉じる"));
    closeButton_->setToolTip(QStringLiteral("検索を閉じる (Esc)"));
    layout_ = new QGridLayout(this);
    layout_->setContentsMargins(2, 2, 2, 2);
    layout_->setHorizontalSpacing(4);
    layout_->setVerticalSpacing(0);
    layOut();
    connect(edit_, &QLineEdit::textEdited, this, &FindBar::textEdited);
    connect(closeButton_, &QToolButton::clicked, this, &FindBar::close);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, [this] { guarded([this] { stepOn(); }); });
    hide();
}

FindBar::MenuActions FindBar::addMenu(QMenuBar* bar)
{
    QMenu* menu = bar->addMenu(QStringLiteral("検索"));
    menu->setObjectName(QStringLiteral("mnuSearch"));
    const auto action = [menu](const char* name, const QString& text, const QKeySequence& key) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(key);
        return a;
    };
    MenuActions actions;
    actions.find = action("mnuFind", QStringLiteral("検索..."), QKeySequence(Qt::CTRL | Qt::Key_F));
    actions.next = action("mnuFindNext", QStringLiteral("次を検索"), QKeySequence(Qt::Key_F3));
    actions.previous = action("mnuFindPrevious", QStringLiteral("前を検索"), QKeySequence(Qt::SHIFT | Qt::Key_F3));
    return actions;
}

void FindBar::connectMenu(const MenuActions& actions)
{
    connect(actions.find, &QAction::triggered, this, [this] { open(); });
    connect(actions.next, &QAction::triggered, this, [this] { guarded([this] { findNext(false); }); });
    connect(actions.previous, &QAction::triggered, this, [this] { guarded([this] { findNext(true); }); });
}

void FindBar::layOut()
{
    layout_->removeWidget(label_);
    layout_->removeWidget(edit_);
    layout_->removeWidget(status_);
    layout_->removeWidget(closeButton_);
    layout_->addWidget(label_, 0, 0);
    layout_->addWidget(edit_, 0, 1);
    if (compact_) {
        layout_->addWidget(closeButton_, 0, 2);
        layout_->addWidget(status_, 1, 0, 1, 3);
    } else {
        layout_->addWidget(status_, 0, 2);
        layout_->addWidget(closeButton_, 0, 3);
    }
    layout_->setColumnStretch(1, 1);
    // The message's line keeps its height while empty, so the grid below does not jump.
    status_->setMinimumHeight(compact_ ? status_->fontMetrics().height() : 0);
}

void FindBar::placeGrid(QWidget* grid, const QRect& place)
{
    grid_ = grid;
    place_ = place;
    const bool compact = place.width() < kCompactWidth;
    if (compact != compact_) {
        compact_ = compact;
        layOut();
    }
    if (!isVisibleTo(parentWidget())) {
        grid->setGeometry(place);
        return;
    }
    const int height = qMin(sizeHint().height(), place.height());
    setGeometry(place.x(), place.y(), place.width(), height);
    grid->setGeometry(place.adjusted(0, height, 0, 0));
    raise();
}

void FindBar::takeTabPlaceBefore(QWidget* grid)
{
    QWidget* before = grid->previousInFocusChain();
    if (before && before != grid)
        QWidget::setTabOrder(before, edit_);
    QWidget::setTabOrder(edit_, closeButton_);
}

std::optional<qint64> FindBar::currentMember() const
{
    if (!table_ || !table_->active() || !table_->hasCurrentRow() || table_->state() == TableState::Insert)
        return std::nullopt;
    return table_->currentRowid();
}

void FindBar::open()
{
    if (!isVisibleTo(parentWidget())) {
        anchor_ = currentMember();
        show();
        if (grid_)
            placeGrid(grid_, place_);
    }
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
}

void FindBar::close()
{
    timer_.stop();
    search_.reset();
    showNotFound(false);
    hide();
    if (grid_) {
        placeGrid(grid_, place_);
        grid_->setFocus(Qt::OtherFocusReason);
    }
}

void FindBar::textEdited(const QString&)
{
    guarded([this] { start(false); });
}

void FindBar::findNext(bool backwards)
{
    if (!isVisibleTo(parentWidget())) {
        open();
        if (edit_->text().isEmpty())
            return;
    }
    // Typing on from here searches on from the member current now.
    anchor_ = currentMember();
    start(backwards);
}

void FindBar::start(bool backwards)
{
    timer_.stop();
    if (!table_ || !table_->active() || MemberSearch::fold(edit_->text()).isEmpty()) {
        search_.reset();
        showNotFound(false);
        return;
    }
    search_.emplace(*table_);
    search_->start(edit_->text(), anchor_, backwards);
    // The first step at once: on a small roster the answer comes with the keystroke.
    stepOn();
}

void FindBar::stepOn()
{
    if (!search_ || !table_ || !table_->active()) {
        timer_.stop();
        return;
    }
    MemberSearch::Result result = MemberSearch::Result::Searching;
    try {
        result = search_->step(kRowsPerStep);
    } catch (...) {
        timer_.stop();
        search_.reset();
        throw;
    }
    switch (result) {
    case MemberSearch::Result::Searching:
        if (!timer_.isActive())
            timer_.start();
        return;
    case MemberSearch::Result::NotFound:
        timer_.stop();
        search_.reset();
        showNotFound(true);
        return;
    case MemberSearch::Result::Found: {
        timer_.stop();
        const qint64 found = search_->found();
        search_.reset();
        showNotFound(false);
        // An ordinary move: a pending row is settled first, and a refusal is the standard box.
        table_->locate(QStringLiteral("id_no"), FieldValue::integer(qint32(found)));
        return;
    }
    }
}

void FindBar::showNotFound(bool notFound)
{
    notFound_ = notFound;
    status_->setText(notFound ? kNotFound : QString());
    edit_->setAccessibleDescription(notFound ? kNotFound : QString());
    QPalette p = edit_->parentWidget()->palette();
    if (notFound) {
        p.setColor(QPalette::Base, QColor(0xff, 0xd6, 0xd6));
        p.setColor(QPalette::Text, QColor(0x80, 0x00, 0x00));
    }
    edit_->setPalette(p);
    QPalette s = palette();
    if (notFound)
        s.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x00));
    status_->setPalette(s);
}

} // namespace halvenna

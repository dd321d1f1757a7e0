#include "gui/DbControls.h"

#include "data/DataSource.h"
#include "data/Error.h"
#include "data/FieldText.h"
#include "data/Table.h"
#include "gui/Beep.h"
#include "gui/ErrorReporter.h"

#include <QApplication>
#include <QDebug>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QStyle>
#include <QToolButton>

#include <exception>

namespace halvenna {

void reportControlError(const std::exception& e) noexcept
{
    try {
        reportError(e);
    } catch (...) {
        qWarning("An error could not be reported");
    }
}

void reportControlErrorLater(const std::exception& e)
{
    // The error itself is kept, not only its text: what kind of failure it is decides whether a box
    // already showing says it (a lost server).
    const std::exception_ptr caught = std::current_exception();
    const QString message = messageOf(e);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [caught, message] {
            if (caught) {
                try {
                    std::rethrow_exception(caught);
                } catch (const std::exception& error) {
                    reportControlError(error);
                    return;
                } catch (...) {
                }
            }
            reportControlError(Error(message));
        },
        Qt::QueuedConnection);
}

// The link of a single-field control (or of a navigator, which names no field): every change of the
// row that concerns the control makes it show the row again, and the table's request for pending
// input reaches the control's writer.
class FieldLink : public DataLink
{
public:
    QString field;
    std::function<void()> refresh;
    std::function<void()> writePending;
    bool followsEditing = false;

    Table* activeTable() const
    {
        Table* t = table();
        return t && t->active() ? t : nullptr;
    }
    // The open table when it has the field, else null.
    Table* fieldTable() const
    {
        Table* t = activeTable();
        return t && t->fieldIndex(field) >= 0 ? t : nullptr;
    }
    FieldKind kind() const
    {
        Table* t = fieldTable();
        return t ? t->fieldDef(field).kind : FieldKind::Text;
    }
    FieldValue value() const
    {
        Table* t = fieldTable();
        return t ? t->fieldValue(field) : FieldValue();
    }
    // Puts the table into edit state for the user who started typing. The control keeps what was
    // typed: it is not refreshed by the notifications this sends (a new row's defaults among them).
    void edit()
    {
        Table* t = table();
        if (!t)
            return;
        QScopedValueRollback<bool> quiet(quiet_, true);
        t->edit();
    }

protected:
    void activeChanged() override { show(); }
    void dataSetChanged() override { show(); }
    void dataSetScrolled() override { show(); }
    void recordChanged(const QString& changed) override
    {
        if (changed.isEmpty() || changed.compare(field, Qt::CaseInsensitive) == 0)
            show();
    }
    void editingChanged() override
    {
        if (followsEditing)
            show();
    }
    void updateData() override
    {
        if (writePending)
            writePending();
    }

private:
    void show()
    {
        if (!quiet_ && refresh)
            refresh();
    }
    bool quiet_ = false;
};

// ---------------------------------------------------------------- FieldLineEdit

namespace {

// Whether a key types text (rather than moving, deleting or being a shortcut).
bool typesText(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (!c.isPrint())
            return false;
    return true;
}

} // namespace

FieldLineEdit::FieldLineEdit(QWidget* parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textEdited, this, &FieldLineEdit::textWasEdited);
}

void FieldLineEdit::showText(const QString& text)
{
    accepted_ = text;
    userChanged_ = false;
    setText(text);
    setModified(false);
}

void FieldLineEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (onEnter && !onEnter()) {
            event->accept();
            return;
        }
        QLineEdit::keyPressEvent(event);
        // The window's default button answers Enter.
        event->ignore();
        return;
    case Qt::Key_Escape:
        if (onEscape && onEscape()) {
            event->accept();
            return;
        }
        event->ignore();
        return;
    default:
        break;
    }
    if (typesText(event->text()) && !fieldtext::isTypable(kind_, event->text())) {
        Beep::sound(this);
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// Text that arrives some other way than a typed key (pasted, dropped, committed by an input method)
// is checked as a whole once it is in, and taken back out if the field cannot hold it.
void FieldLineEdit::textWasEdited(const QString& text)
{
    if (fieldtext::isTypable(kind_, text)) {
        accepted_ = text;
        userChanged_ = true;
        Q_EMIT userEdited();
        return;
    }
    Beep::sound(this);
    const int cursor = qMin(cursorPosition(), int(accepted_.size()));
    setText(accepted_);
    setModified(userChanged_);
    setCursorPosition(cursor);
}

void FieldLineEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Another window (a message box) or this control's own popup taking the focus is no leaving.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    if (onFocusLost)
        onFocusLost();
}

// ---------------------------------------------------------------- FieldBinding

FieldBinding::FieldBinding() : link_(std::make_unique<FieldLink>()) {}

FieldBinding::~FieldBinding() = default;

void FieldBinding::setDataSource(DataSource* source)
{
    link_->setDataSource(source);
}

DataSource* FieldBinding::dataSource() const
{
    return link_->dataSource();
}

void FieldBinding::setDataField(const QString& field)
{
    link_->field = field;
    if (link_->refresh)
        link_->refresh();
}

QString FieldBinding::dataField() const
{
    return link_->field;
}

void FieldBinding::beginUserEdit()
{
    Table* t = link_->table();
    if (!t || link_->field.isEmpty() || t->editing())
        return;
    try {
        link_->edit();
    } catch (const std::exception& e) {
        reportControlError(e);
        if (link_->refresh)
            link_->refresh();
    }
}

void FieldBinding::writeTyped(const QString& typed, const std::function<void(bool)>& setPending)
{
    Table* t = link_->table();
    if (!t)
        return;
    if (!t->editing())
        link_->edit();
    setPending(false);
    try {
        fieldtext::write(*t, link_->field, typed);
    } catch (...) {
        setPending(true);
        throw;
    }
}

bool FieldBinding::reportingFailure(const std::function<void()>& write) noexcept
{
    try {
        write();
        return true;
    } catch (const std::exception& e) {
        reportControlError(e);
        return false;
    }
}

// ---------------------------------------------------------------- DbEdit

DbEdit::DbEdit(QWidget* parent) : FieldLineEdit(parent)
{
    link_->refresh = [this] { refresh(); };
    link_->writePending = [this] { updateRecord(); };
    connect(this, &FieldLineEdit::userEdited, this, [this] { beginUserEdit(); });
    onEnter = [this] { return commit(); };
    onEscape = [this] { return revert(); };
    onFocusLost = [this] { commit(); };
}

DbEdit::~DbEdit() = default;

void DbEdit::refresh()
{
    try {
        setFieldKind(link_->kind());
        showText(link_->value().displayText());
    } catch (const std::exception& e) {
        showText(QString());
        reportControlErrorLater(e);
    }
}

void DbEdit::updateRecord()
{
    if (isModified())
        writeTyped(text(), [this](bool pending) { setModified(pending); });
}

bool DbEdit::commit() noexcept
{
    return reportingFailure([this] { updateRecord(); });
}

bool DbEdit::revert()
{
    if (!isModified())
        return false;
    refresh();
    selectAll();
    return true;
}

// ---------------------------------------------------------------- DbComboBox

DbComboBox::DbComboBox(QWidget* parent) : QComboBox(parent), edit_(new FieldLineEdit(this))
{
    setEditable(true);
    setLineEdit(edit_);
    // Free text is the field's, not a new item; and nothing is completed behind the user's back.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    link_->refresh = [this] { refresh(); };
    link_->writePending = [this] { updateRecord(); };
    connect(edit_, &FieldLineEdit::userEdited, this, &DbComboBox::userChanged);
    connect(this, &QComboBox::activated, this, &DbComboBox::userChanged);
    edit_->onEnter = [this] { return commit(); };
    edit_->onEscape = [this] { return revert(); };
    edit_->onFocusLost = [this] { commit(); };
}

DbComboBox::~DbComboBox() = default;

void DbComboBox::setItems(const QStringList& items)
{
    clear();
    addItems(items);
    refresh();
}

void DbComboBox::refresh()
{
    QString shown;
    try {
        edit_->setFieldKind(link_->kind());
        shown = link_->value().displayText();
    } catch (const std::exception& e) {
        reportControlErrorLater(e);
    }
    setCurrentIndex(findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive));
    edit_->showText(shown);
    modified_ = false;
}

void DbComboBox::userChanged()
{
    modified_ = true;
    beginUserEdit();
}

void DbComboBox::updateRecord()
{
    if (modified_)
        writeTyped(currentText(), [this](bool pending) { modified_ = pending; });
}

bool DbComboBox::commit() noexcept
{
    return reportingFailure([this] { updateRecord(); });
}

bool DbComboBox::revert()
{
    if (!modified_)
        return false;
    refresh();
    edit_->selectAll();
    return true;
}

// ---------------------------------------------------------------- DbCheckBox

DbCheckBox::DbCheckBox(QWidget* parent) : QCheckBox(parent)
{
    // Null shows as the third state; a click only ever writes true or false.
    setTristate(true);
    link_->refresh = [this] { refresh(); };
}

DbCheckBox::~DbCheckBox() = default;

void DbCheckBox::refresh()
{
    Qt::CheckState state = Qt::Unchecked;
    try {
        if (link_->fieldTable()) {
            const FieldValue v = link_->value();
            state = v.isNull() ? Qt::PartiallyChecked : (v.asBoolean() ? Qt::Checked : Qt::Unchecked);
        }
    } catch (const std::exception& e) {
        reportControlErrorLater(e);
    }
    setCheckState(state);
}

void DbCheckBox::nextCheckState()
{
    Table* t = link_->table();
    if (!t)
        return;
    // An unmarked or greyed box gets marked; only a marked one is cleared.
    const bool mark = checkState() != Qt::Checked;
    try {
        t->edit();
        t->setFieldValue(link_->field, FieldValue::logical(mark));
    } catch (const std::exception& e) {
        reportControlError(e);
    }
    // Shows what the field now holds, also when the write failed or the controls are suspended.
    refresh();
}

// ---------------------------------------------------------------- DbNavigator

DbNavigator::DbNavigator(QWidget* parent) : QWidget(parent), link_(std::make_unique<FieldLink>())
{
    struct Look
    {
        const char* objectName;
        const char* name;
        QStyle::StandardPixmap icon;
    };
    static const Look looks[4] = {
        {"firstButton", "先頭のレコード", QStyle::SP_MediaSkipBackward},
        {"priorButton", "前のレコード", QStyle::SP_MediaSeekBackward},
        {"nextButton", "次のレコード", QStyle::SP_MediaSeekForward},
        {"lastButton", "最後のレコード", QStyle::SP_MediaSkipForward},
    };
    setAccessibleName(QStringLiteral("レコードの移動"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(looks[i].objectName));
        b->setIcon(style()->standardIcon(looks[i].icon));
        b->setToolTip(QString::fromUtf8(looks[i].name));
        b->setAccessibleName(QString::fromUtf8(looks[i].name));
        b->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(b);
        buttons_[i] = b;
        const auto which = static_cast<Button>(i);
        connect(b, &QToolButton::clicked, this, [this, which] { move(which); });
    }
    link_->followsEditing = true;
    link_->refresh = [this] { refresh(); };
    refresh();
}

DbNavigator::~DbNavigator() = default;

void DbNavigator::setDataSource(DataSource* source)
{
    link_->setDataSource(source);
}

DataSource* DbNavigator::dataSource() const
{
    return link_->dataSource();
}

void DbNavigator::move(Button which)
{
    Table* t = link_->table();
    if (!t)
        return;
    try {
        switch (which) {
        case First:
            t->first();
            break;
        case Prior:
            t->prior();
            break;
        case Next:
            t->next();
            break;
        case Last:
            t->last();
            break;
        }
    } catch (const std::exception& e) {
        reportControlError(e);
    }
    // A move that went nowhere (or was refused) sends no notification; the ends may still be news.
    refresh();
}

void DbNavigator::refresh()
{
    bool back = false;
    bool forward = false;
    try {
        if (Table* t = link_->activeTable()) {
            int position = -1;
            int count = t->recordCount();
            if (t->state() == TableState::Insert) {
                position = t->insertPosition();
                ++count;
            } else {
                position = t->recNo();
            }
            back = position > 0;
            forward = position >= 0 && position < count - 1;
        }
    } catch (const std::exception& e) {
        reportControlErrorLater(e);
    }
    buttons_[First]->setEnabled(back);
    buttons_[Prior]->setEnabled(back);
    buttons_[Next]->setEnabled(forward);
    buttons_[Last]->setEnabled(forward);
}

} // namespace halvenna

#include "gui/DbGrid.h"

#include "data/DataSource.h"
#include "data/Table.h"
#include "gui/DbControls.h"
#include "gui/ErrorReporter.h"
#include "gui/MessageBox.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyledItemDelegate>

#include <cmath>

namespace halvenna {

// The view's current index is the table's current row. A change of it that the user asks for moves
// the table first and only then the view, to wherever the table went; the selection is always just
// the current cell.
class DbGrid::SelectionModel : public QItemSelectionModel
{
public:
    explicit SelectionModel(DbGrid& grid) : QItemSelectionModel(grid.model_, &grid), grid_(grid) {}

    using QItemSelectionModel::select;

    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override
    {
        // Only the user moves the table through the view: never while the view follows the table,
        // nor while Qt moves the view on its own during a change the table is telling about.
        if (grid_.following_ || grid_.model_->isFollowingTable() || !index.isValid() ||
            index.row() == grid_.model_->currentRow()) {
            QItemSelectionModel::setCurrentIndex(index, command);
            return;
        }
        const int column = index.column();
        if (!grid_.moveTableTo(index.row()))
            return;
        const int row = grid_.model_->currentRow();
        QItemSelectionModel::setCurrentIndex(row >= 0 ? grid_.model_->index(row, column) : QModelIndex(), command);
    }

    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override
    {
        (void)selection;
        if (command == QItemSelectionModel::NoUpdate)
            return;
        const QModelIndex current = currentIndex();
        QItemSelectionModel::select(current.isValid() ? QItemSelection(current, current) : QItemSelection(),
                                    QItemSelectionModel::ClearAndSelect);
    }

private:
    DbGrid& grid_;
};

// Creates the filtering cell editor and decides what its keys and focus changes do.
class DbGrid::Delegate : public QStyledItemDelegate
{
public:
    explicit Delegate(DbGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        (void)option;
        auto* editor = new FieldLineEdit(parent);
        editor->setFrame(false);
        editor->setFieldKind(grid_.model_->columnKind(index.column()));
        editor->setAccessibleName(grid_.model_->headerData(index.column(), Qt::Horizontal).toString());
        DbGrid* grid = &grid_;
        QObject::connect(editor, &FieldLineEdit::userEdited, grid, [grid] { grid->cellEdited(); });
        editor_ = editor;
        editorIndex_ = index;
        return editor;
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override
    {
        if (editor == editor_)
            editor_ = nullptr;
        QStyledItemDelegate::destroyEditor(editor, index);
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* e = qobject_cast<FieldLineEdit*>(editor);
        // What the user typed is not overwritten by a change of another field of the row.
        if (e && !e->isModified())
            e->showText(index.data(Qt::EditRole).toString());
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        (void)model;
        (void)index;
        if (editor == editor_)
            grid_.commitCellEditor();
    }

    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* editor = qobject_cast<FieldLineEdit*>(object);
        if (!editor)
            return QStyledItemDelegate::eventFilter(object, event);
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Esc is left to the window's shortcuts (its cancel button); the cell editing ends here.
            if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel))
                Q_EMIT closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
            return false;
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (isGridKey(*key)) {
                QCoreApplication::sendEvent(&grid_, event);
                return true;
            }
            switch (key->key()) {
            case Qt::Key_Escape:
                Q_EMIT closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
                return false;
            case Qt::Key_Enter:
            case Qt::Key_Return:
                // The grid writes the cell and hands the key on to the window.
                return false;
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
                if (!grid_.commitCellEditor())
                    return true;
                break;
            default:
                break;
            }
            break;
        }
        case QEvent::FocusOut: {
            QWidget* now = QApplication::focusWidget();
            // A message box, or the grid itself (a click on another cell): the cell stays open, and a
            // move of the table collects its text.
            if (!now || now->window() != editor->window() || grid_.holds(now))
                return false;
            if (grid_.commitCellEditor())
                Q_EMIT closeEditor(editor, QAbstractItemDelegate::NoHint);
            return false;
        }
        default:
            break;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

    mutable QPointer<FieldLineEdit> editor_;
    mutable QPersistentModelIndex editorIndex_;

private:
    // Keys that act on the grid's rows even while a cell is being typed into.
    static bool isGridKey(const QKeyEvent& key)
    {
        const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
        switch (key.key()) {
        case Qt::Key_Insert:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            return mods == Qt::NoModifier;
        case Qt::Key_Delete:
            return mods == Qt::ControlModifier;
        default:
            return false;
        }
    }

    DbGrid& grid_;
};

DbGrid::DbGrid(QWidget* parent) : QTableView(parent), model_(new DbGridModel(this)), delegate_(new Delegate(*this))
{
    setModel(model_);
    QItemSelectionModel* created = selectionModel();
    setSelectionModel(new SelectionModel(*this));
    delete created;
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed);
    setWordWrap(false);
    setSortingEnabled(false);
    setTabKeyNavigation(true);

    QHeaderView* indicator = verticalHeader();
    indicator->setSectionResizeMode(QHeaderView::Fixed);
    indicator->setDefaultSectionSize(fontMetrics().height() + 6);
    indicator->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("▶")) + 12);
    horizontalHeader()->setSectionsMovable(false);

    model_->onUpdateData = [this] { writeCellEditor(); };
    connect(model_, &DbGridModel::currentRowChanged, this, &DbGrid::followTable);
    // A reset hides the cell editor; hidden with the focus, it would pass the focus on as a Tab.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        if (FieldLineEdit* editor = cellEditor(); editor && QApplication::focusWidget() == editor)
            setFocus(Qt::OtherFocusReason);
    });
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        connect(app, &QApplication::focusChanged, this, &DbGrid::focusMoved);
}

DbGrid::~DbGrid()
{
    // The base class's destructor moves the focus away, which must not reach a half-destroyed grid.
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
        disconnect(app, &QApplication::focusChanged, this, &DbGrid::focusMoved);
    model_->onUpdateData = nullptr;
}

void DbGrid::setDataSource(DataSource* source)
{
    model_->setDataSource(source);
}

DataSource* DbGrid::dataSource() const
{
    return model_->dataSource();
}

void DbGrid::setColumns(const QList<DbGridColumn>& columns)
{
    model_->setColumns(columns);
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).width > 0)
            setColumnWidth(i, columns.at(i).width);
}

void DbGrid::setReadOnly(bool readOnly)
{
    if (readOnly && cellEditor())
        closeEditor(cellEditor(), QAbstractItemDelegate::RevertModelCache);
    model_->setReadOnly(readOnly);
    setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers
                             : QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                                   QAbstractItemView::EditKeyPressed);
}

bool DbGrid::isReadOnly() const
{
    return model_->isReadOnly();
}

FieldLineEdit* DbGrid::cellEditor() const
{
    return delegate_->editor_.data();
}

bool DbGrid::holds(const QWidget* widget) const
{
    return widget && (widget == this || isAncestorOf(widget));
}

// ---------------------------------------------------------------- the current row

void DbGrid::followTable(int row)
{
    QScopedValueRollback<bool> following(following_, true);
    const int columns = model_->columnCount();
    const int column =
        qBound(0, currentIndex().isValid() ? currentIndex().column() : lastColumn_, qMax(0, columns - 1));
    const QModelIndex target = row >= 0 && columns > 0 ? model_->index(row, column) : QModelIndex();
    if (target != currentIndex())
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    if (target.isValid())
        scrollTo(target);
}

void DbGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (current.isValid())
        lastColumn_ = current.column();
    QTableView::currentChanged(current, previous);
}

bool DbGrid::moveTableTo(int row) noexcept
{
    try {
        model_->moveTableTo(row);
        return true;
    } catch (const std::exception& e) {
        reportControlError(e);
        return false;
    }
}

int DbGrid::widthForDigits(int count) const
{
    // Measured in fractions of a pixel, as the style lays the text out before it elides it.
    const QFontMetricsF metrics(font());
    qreal widest = 0;
    for (char16_t d = u'0'; d <= u'9'; ++d)
        widest = qMax(widest, metrics.horizontalAdvance(QChar(d)));
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return int(std::ceil(count * widest)) + 2 * margin + (showGrid() ? 1 : 0);
}

// ---------------------------------------------------------------- the cell editor

bool DbGrid::cellEditorModified() const
{
    const FieldLineEdit* e = cellEditor();
    return e && e->isModified();
}

void DbGrid::writeCellEditor()
{
    QPointer<FieldLineEdit> editor = cellEditor();
    const QPersistentModelIndex index = delegate_->editorIndex_;
    if (!editor || !editor->isModified() || !index.isValid())
        return;
    const QString field = model_->columns().value(index.column()).field;
    const QString typed = convertTyped ? convertTyped(field, editor->text()) : editor->text();
    // Cleared first, so that the stored value (cut, or written as a number) shows in the editor.
    editor->setModified(false);
    try {
        model_->writeCell(index.row(), index.column(), typed);
    } catch (...) {
        if (editor)
            editor->setModified(true);
        throw;
    }
    if (onCellWritten)
        guarded([&] { onCellWritten(field); });
}

bool DbGrid::commitCellEditor() noexcept
{
    try {
        writeCellEditor();
        return true;
    } catch (const std::exception& e) {
        reportControlError(e);
        return false;
    }
}

void DbGrid::cellEdited()
{
    Table* t = model_->table();
    if (!t || t->editing())
        return;
    try {
        t->edit();
    } catch (const std::exception& e) {
        reportControlError(e);
        if (FieldLineEdit* editor = cellEditor())
            editor->showText(delegate_->editorIndex_.data(Qt::EditRole).toString());
    }
}

// ---------------------------------------------------------------- keys

void DbGrid::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool editable = !isReadOnly();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mods != Qt::NoModifier)
            break;
        if (state() == QAbstractItemView::EditingState) {
            if (!commitCellEditor()) {
                event->accept();
                return;
            }
            if (FieldLineEdit* editor = cellEditor())
                closeEditor(editor, QAbstractItemDelegate::NoHint);
            // On to the window: its default button.
            event->ignore();
            return;
        }
        if (editable && currentIndex().isValid()) {
            edit(currentIndex());
            event->accept();
            return;
        }
        event->ignore();
        return;
    case Qt::Key_Escape:
        if (FieldLineEdit* editor = cellEditor())
            closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
        // On to the window: its cancel button.
        event->ignore();
        return;
    case Qt::Key_Insert:
        if (editable && mods == Qt::NoModifier) {
            insertRow();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Delete:
        if (editable && mods == Qt::ControlModifier) {
            deleteRow();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Down:
        if (editable && mods == Qt::NoModifier && downOnLastRow()) {
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}

bool DbGrid::downOnLastRow()
{
    Table* t = model_->table();
    if (!t || !t->active())
        return false;
    const int rows = model_->rowCount();
    if (rows > 0 && model_->currentRow() != rows - 1)
        return false;
    // Appending settles the current row first: a blank new one is dropped, so it stays the only one.
    try {
        t->append();
    } catch (const std::exception& e) {
        reportControlError(e);
    }
    return true;
}

void DbGrid::insertRow()
{
    Table* t = model_->table();
    if (!t)
        return;
    try {
        t->insert();
    } catch (const std::exception& e) {
        reportControlError(e);
    }
}

void DbGrid::deleteRow()
{
    Table* t = model_->table();
    if (!t || !t->active() || model_->rowCount() == 0)
        return;
    if (!MessageBox::confirmOkCancel(QStringLiteral("レコードを削除してもよいですか？"), this))
        return;
    try {
        t->deleteRecord();
    } catch (const std::exception& e) {
        reportControlError(e);
    }
}

void DbGrid::focusMoved(QWidget* old, QWidget* now)
{
    // Only a move to another control of the same window leaves the grid; a message box does not.
    if (!holds(old) || !now || holds(now) || now->window() != window())
        return;
    Table* t = model_->table();
    if (!t || !t->active() || t->state() != TableState::Insert || t->modified() || cellEditorModified())
        return;
    try {
        t->cancel();
    } catch (const std::exception& e) {
        reportControlError(e);
    }
}

} // namespace halvenna

#include "gui/DbGridModel.h"

#include "data/DataSource.h"
#include "data/FieldText.h"
#include "gui/DbControls.h"

namespace halvenna {

namespace {

// Rows read at a time, and blocks kept: a screenful or two around each place the view looks at.
constexpr int kBlockRows = 64;
constexpr int kMaxBlocks = 6;

} // namespace

class DbGridModel::Link : public DataLink
{
public:
    explicit Link(DbGridModel& model) : model_(model) {}

protected:
    void activeChanged() override
    {
        Notified n(model_);
        model_.reload();
    }
    void dataSetChanged() override
    {
        Notified n(model_);
        model_.reload();
    }
    void dataSetScrolled() override
    {
        Notified n(model_);
        model_.tableScrolled();
    }
    void recordChanged(const QString& field) override
    {
        Notified n(model_);
        model_.tableRecordChanged(field);
    }
    void editingChanged() override
    {
        Notified n(model_);
        model_.tableEditingChanged();
    }
    void updateData() override
    {
        Notified n(model_);
        if (model_.onUpdateData)
            model_.onUpdateData();
    }

private:
    struct Notified
    {
        explicit Notified(DbGridModel& m) : model(m) { ++model.notifying_; }
        ~Notified() { --model.notifying_; }
        Notified(const Notified&) = delete;
        Notified& operator=(const Notified&) = delete;
        DbGridModel& model;
    };
    DbGridModel& model_;
};

DbGridModel::DbGridModel(QObject* parent) : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

DbGridModel::~DbGridModel() = default;

void DbGridModel::setDataSource(DataSource* source)
{
    link_->setDataSource(source);
    nameFields();
}

void DbGridModel::nameFields()
{
    // Messages about a row name its fields as the grid's captions do.
    if (Table* t = link_->table())
        for (const DbGridColumn& c : std::as_const(columns_))
            if (!c.title.isEmpty())
                t->setFieldCaption(c.field, c.title);
}

DataSource* DbGridModel::dataSource() const
{
    return link_->dataSource();
}

Table* DbGridModel::table() const
{
    return link_->table();
}

Table* DbGridModel::activeTable() const
{
    Table* t = link_->table();
    return t && t->active() ? t : nullptr;
}

void DbGridModel::setColumns(const QList<DbGridColumn>& columns)
{
    columns_ = columns;
    nameFields();
    reload();
}

void DbGridModel::setReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
}

// ---------------------------------------------------------------- following the table

void DbGridModel::reload()
{
    beginResetModel();
    ++generation_;
    blocks_.clear();
    readFailed_ = false;
    readState();
    endResetModel();
    Q_EMIT currentRowChanged(currentRow_);
}

void DbGridModel::readState()
{
    fieldIndexes_.clear();
    kinds_.clear();
    storedCount_ = 0;
    countExact_ = true;
    insertRow_ = -1;
    currentRow_ = -1;
    state_ = RowState::Browse;
    current_ = RowSnapshot();
    Table* t = activeTable();
    for (const DbGridColumn& c : std::as_const(columns_)) {
        const int index = t ? t->fieldIndex(c.field) : -1;
        fieldIndexes_ << index;
        kinds_ << (index >= 0 ? t->fields().at(index).kind : FieldKind::Text);
    }
    if (!t)
        return;
    try {
        storedCount_ = t->estimatedRecordCount();
        countExact_ = t->countKnown();
        if (!countExact_)
            QMetaObject::invokeMethod(this, &DbGridModel::countExactly, Qt::QueuedConnection);
        insertRow_ = t->insertPosition();
        readCurrent();
    } catch (const std::exception& e) {
        storedCount_ = 0;
        countExact_ = true;
        insertRow_ = -1;
        currentRow_ = -1;
        reportControlErrorLater(e);
    }
}

void DbGridModel::countExactly()
{
    Table* t = activeTable();
    // Suspended controls are shown again (and counted) when the table resumes them.
    if (countExact_ || !t || t->controlsDisabled())
        return;
    try {
        if (t->recordCount() == storedCount_) {
            countExact_ = true;
            return;
        }
    } catch (const std::exception& e) {
        countExact_ = true;
        reportControlErrorLater(e);
        return;
    }
    // Rows counted from the end now stand elsewhere: read them again.
    reload();
}

// A position read from the start is the table's own; one read from the end of an estimated count is not.
bool DbGridModel::isExactPosition(int position) const
{
    return countExact_ || position < storedCount_ - position;
}

void DbGridModel::readCurrent()
{
    Table* t = activeTable();
    state_ = RowState::Browse;
    current_ = RowSnapshot();
    currentRow_ = -1;
    if (!t)
        return;
    switch (t->state()) {
    case TableState::Insert:
        state_ = RowState::Insert;
        currentRow_ = t->insertPosition();
        break;
    case TableState::Edit:
        state_ = RowState::Edit;
        currentRow_ = t->recNo();
        break;
    default:
        currentRow_ = t->recNo();
        break;
    }
    if (state_ != RowState::Browse)
        current_ = t->currentSnapshot();
}

void DbGridModel::emitRowChanged(int row)
{
    if (row < 0 || row >= rowCount() || columns_.isEmpty())
        return;
    Q_EMIT dataChanged(index(row, 0), index(row, int(columns_.size()) - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, row, row);
}

void DbGridModel::tableScrolled()
{
    const int before = currentRow_;
    try {
        readCurrent();
    } catch (const std::exception& e) {
        currentRow_ = -1;
        reportControlErrorLater(e);
    }
    emitRowChanged(before);
    emitRowChanged(currentRow_);
    Q_EMIT currentRowChanged(currentRow_);
}

void DbGridModel::tableRecordChanged(const QString& field)
{
    Table* t = activeTable();
    if (!t || currentRow_ < 0)
        return;
    try {
        current_ = t->currentSnapshot();
    } catch (const std::exception& e) {
        reportControlErrorLater(e);
        return;
    }
    // Only the changed field's cells: a single cell changed lets an open editor show what was stored.
    for (int c = 0; c < columns_.size(); ++c)
        if (field.isEmpty() || columns_.at(c).field.compare(field, Qt::CaseInsensitive) == 0)
            Q_EMIT dataChanged(index(currentRow_, c), index(currentRow_, c));
}

void DbGridModel::tableEditingChanged()
{
    Table* t = activeTable();
    if (!t) {
        reload();
        return;
    }
    try {
        // A new row that comes or goes changes the rows; starting or ending an edit only the current one.
        if (t->insertPosition() != insertRow_ || (t->countKnown() && t->recordCount() != storedCount_)) {
            reload();
            return;
        }
        readCurrent();
    } catch (const std::exception& e) {
        reportControlErrorLater(e);
    }
    emitRowChanged(currentRow_);
}

// ---------------------------------------------------------------- reading rows

int DbGridModel::storedPosition(int row) const
{
    if (insertRow_ < 0 || row < insertRow_)
        return row;
    return row == insertRow_ ? -1 : row - 1;
}

const RowSnapshot* DbGridModel::storedRow(int position) const
{
    if (position < 0 || position >= storedCount_)
        return nullptr;
    for (int i = 0; i < blocks_.size(); ++i) {
        const Block& b = blocks_.at(i);
        if (position >= b.start && position < b.start + b.rows.size()) {
            if (i != 0)
                blocks_.move(i, 0);
            return &blocks_.front().rows.at(position - blocks_.front().start);
        }
    }
    Table* t = activeTable();
    if (!t || readFailed_)
        return nullptr;
    Block block;
    try {
        if (position < storedCount_ - position) {
            block.start = position / kBlockRows * kBlockRows;
            block.rows = t->readRows(block.start, kBlockRows);
        } else {
            const int fromEnd = (storedCount_ - 1 - position) / kBlockRows * kBlockRows;
            block.rows = t->readRowsFromEnd(fromEnd, kBlockRows);
            block.start = storedCount_ - fromEnd - int(block.rows.size());
        }
    } catch (const std::exception& e) {
        // Painting asks again and again: one report until the rows change.
        readFailed_ = true;
        reportControlErrorLater(e);
        return nullptr;
    }
    if (position < block.start || position >= block.start + block.rows.size())
        return nullptr;
    blocks_.prepend(std::move(block));
    while (blocks_.size() > kMaxBlocks)
        blocks_.removeLast();
    return &blocks_.front().rows.at(position - blocks_.front().start);
}

int DbGridModel::cachedRows() const
{
    int n = 0;
    for (const Block& b : blocks_)
        n += int(b.rows.size());
    return n;
}

// ---------------------------------------------------------------- the model interface

int DbGridModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return storedCount_ + (insertRow_ >= 0 ? 1 : 0);
}

int DbGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns_.size());
}

FieldKind DbGridModel::columnKind(int column) const
{
    return kinds_.value(column, FieldKind::Text);
}

QVariant DbGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= fieldIndexes_.size())
        return QVariant();
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment horizontal =
            kinds_.at(index.column()) == FieldKind::Integer ? Qt::AlignRight : Qt::AlignLeft;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    const int field = fieldIndexes_.at(index.column());
    if (field < 0)
        return QVariant();
    if (state_ != RowState::Browse && index.row() == currentRow_)
        return current_.texts.value(field);
    const RowSnapshot* row = storedRow(storedPosition(index.row()));
    return row ? QVariant(row->texts.value(field)) : QVariant();
}

QVariant DbGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columns_.size())
            return QVariant();
        if (role == Qt::DisplayRole) {
            const DbGridColumn& c = columns_.at(section);
            return c.title.isEmpty() ? c.field : c.title;
        }
        return QVariant();
    }
    // The row indicator: the current row, and whether it is being edited or inserted.
    if (section != currentRow_)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        switch (state_) {
        case RowState::Insert:
            return QStringLiteral("*");
        case RowState::Edit:
            return QStringLiteral("I");
        case RowState::Browse:
            return QStringLiteral("▶");
        }
        break;
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        switch (state_) {
        case RowState::Insert:
            return QStringLiteral("挿入中の行");
        case RowState::Edit:
            return QStringLiteral("編集中の行");
        case RowState::Browse:
            return QStringLiteral("現在の行");
        }
        break;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    default:
        break;
    }
    return QVariant();
}

Qt::ItemFlags DbGridModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && !readOnly_ && fieldIndexes_.value(index.column(), -1) >= 0)
        f |= Qt::ItemIsEditable;
    return f;
}

bool DbGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || readOnly_)
        return false;
    try {
        writeCell(index.row(), index.column(), value.toString());
        return true;
    } catch (const std::exception& e) {
        reportControlError(e);
        return false;
    }
}

// ---------------------------------------------------------------- changing the table

void DbGridModel::moveTableTo(int row)
{
    Table* t = activeTable();
    if (!t || row == currentRow_ || row < 0 || row >= rowCount())
        return;
    const int position = storedPosition(row);
    const RowSnapshot* target = storedRow(position);
    if (!target)
        return;
    const qint64 rowid = target->rowid;
    const quint64 before = generation_;
    t->checkBrowseMode();
    // A settled row may have taken its place among the others: then the position is no longer known.
    t->gotoRow(rowid, generation_ == before && isExactPosition(position) ? position : -1);
}

void DbGridModel::writeCell(int row, int column, const QString& text)
{
    Table* t = table();
    const int field = fieldIndexes_.value(column, -1);
    // An editor left on a row the table has moved away from writes nothing.
    if (!t || row != currentRow_ || field < 0)
        return;
    if (!t->editing())
        t->edit();
    fieldtext::write(*t, t->fields().at(field).name, text);
}

} // namespace halvenna

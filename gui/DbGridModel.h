#pragma once

#include "data/FieldValue.h"
#include "data/Table.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace halvenna {

class DataSource;

// One column of a grid: the field it shows, its title (the field's name when empty) and its width in
// pixels (the view's default when not above 0).
struct DbGridColumn
{
    QString field;
    QString title;
    int width = 0;
};

// The rows of a data source's table as a grid shows them, in table order. Rows are read in small
// blocks by position, counted from the start or from the end of the table, whichever is nearer, so
// that showing the last rows of a long table costs what showing the first does; a few blocks are kept
// and all are dropped whenever the table's rows change. A big table that was just opened is first
// shown with the table's estimate of its size and counted exactly once the event loop is back, so
// the first screen does not wait for a pass over the table. A new row the table has not stored yet
// is shown where the table places it, and the row being edited or inserted shows the table's buffer.
class DbGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum class RowState { Browse, Edit, Insert };

    explicit DbGridModel(QObject* parent = nullptr);
    ~DbGridModel() override;

    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    // The table behind the data source (possibly closed), or null.
    Table* table() const;
    void setColumns(const QList<DbGridColumn>& columns);
    const QList<DbGridColumn>& columns() const { return columns_; }
    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return readOnly_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Writes a cell of the current row as writeCell does; an error is reported, and false returned.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The row the table's current row is shown at; -1 when there is none.
    int currentRow() const { return currentRow_; }
    // The kind of the field a column shows (text when the table is closed or has no such field).
    FieldKind columnKind(int column) const;

    // Makes the row shown at `row` the table's current row. A pending change is settled first by the
    // table's own rules (posted when changed, dropped when not); throws when that fails.
    void moveTableTo(int row);
    // Writes text typed into a cell of the current row into the column's field, first putting the
    // table into edit state when needed. Throws (no whole number for an integer field, closed table...).
    void writeCell(int row, int column, const QString& text);
    // How many rows are held in memory.
    int cachedRows() const;
    // True while the table is telling the model about a change: the view then only follows.
    bool isFollowingTable() const { return notifying_ > 0; }

    // Called when the table asks its controls for pending input (before a post or a move), so that
    // the view can hand over what is typed in an open cell editor. May throw.
    std::function<void()> onUpdateData;

Q_SIGNALS:
    // The table's current row is now shown at `row` (-1: none).
    void currentRowChanged(int row);

private:
    class Link;
    friend class Link;
    struct Block
    {
        int start = 0;
        QList<RowSnapshot> rows;
    };

    Table* activeTable() const;
    void reload();
    void nameFields();
    void readState();
    void countExactly();
    bool isExactPosition(int position) const;
    void readCurrent();
    void tableScrolled();
    void tableRecordChanged(const QString& field);
    void tableEditingChanged();
    int storedPosition(int row) const;
    const RowSnapshot* storedRow(int position) const;
    void emitRowChanged(int row);

    std::unique_ptr<Link> link_;
    QList<DbGridColumn> columns_;
    QList<int> fieldIndexes_; // per column: the field's index in the table, -1 when missing
    QList<FieldKind> kinds_;
    bool readOnly_ = false;

    int storedCount_ = 0;    // rows the table holds (in the range, for a detail)
    bool countExact_ = true; // false while storedCount_ is the table's estimate
    int insertRow_ = -1;     // where the pending new row is shown, -1 when none
    int currentRow_ = -1;
    RowState state_ = RowState::Browse;
    RowSnapshot current_; // the current row's buffer while it is edited or inserted
    quint64 generation_ = 0;
    int notifying_ = 0;

    mutable QList<Block> blocks_; // most recently used first
    mutable bool readFailed_ = false;
};

} // namespace halvenna

#pragma once

#include "gui/DbGridModel.h"

#include <QTableView>

#include <functional>

namespace halvenna {

class DataSource;
class FieldLineEdit;

// A grid bound to a data source: its current row is the table's current row both ways. Choosing
// another row moves the table, which settles a pending edit by the table's own rules; when that is
// refused the error is reported and the grid stays where the table is.
//
// Editable (the default): typing into a cell puts the row into edit state and the cell editor writes
// into the field. Enter on the grid opens the cell editor; Enter while typing writes the cell and
// then goes on to the window, so that its default button posts; Esc while typing drops the cell's
// text and goes on to the window, so that its cancel button acts. Insert inserts a blank row at the
// current row, Down on the last row appends one, Ctrl+Delete deletes the current row after asking.
// A new row nobody changed is dropped when the focus leaves the grid.
//
// Read-only: rows can be chosen, nothing can be changed.
class DbGrid : public QTableView
{
    Q_OBJECT
public:
    explicit DbGrid(QWidget* parent = nullptr);
    ~DbGrid() override;

    DbGridModel* gridModel() const { return model_; }
    void setDataSource(DataSource* source);
    DataSource* dataSource() const;
    void setColumns(const QList<DbGridColumn>& columns);
    void setReadOnly(bool readOnly);
    bool isReadOnly() const;
    // The width a column needs to show `count` digits whole (each as wide as the font's widest),
    // with the margins the style draws a cell's text inside and the grid line.
    int widthForDigits(int count) const;
    // The open cell editor, or null.
    FieldLineEdit* cellEditor() const;

    // Called when what was typed into a cell has been written into the field (the cell is left,
    // or the row is about to be stored), with the field's name; the row is still being edited.
    // What it throws is reported in the standard box and does not stop the write.
    std::function<void(const QString& field)> onCellWritten;
    // Turns what was typed into a cell of the named field into the text written, before the field
    // cuts it to its width (a code typed in full width is converted whole). Unset: as typed.
    std::function<QString(const QString& field, const QString& typed)> convertTyped;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    class SelectionModel;
    class Delegate;
    friend class SelectionModel;
    friend class Delegate;

    void followTable(int row);
    bool moveTableTo(int row) noexcept;
    void writeCellEditor();
    bool commitCellEditor() noexcept;
    bool cellEditorModified() const;
    void cellEdited();
    bool downOnLastRow();
    void insertRow();
    void deleteRow();
    void focusMoved(QWidget* old, QWidget* now);
    bool holds(const QWidget* widget) const;

    DbGridModel* model_;
    Delegate* delegate_;
    bool following_ = false;
    int lastColumn_ = 0;
};

} // namespace halvenna

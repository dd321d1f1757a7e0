#pragma once

#include "data/sql/SqlConnection.h"
#include "data/table/TableShape.h"

#include <memory>

namespace halvenna {
class DataSource;
class Table;
} // namespace halvenna

namespace halvenna::table {

// The range of a detail table: the rows whose detail field equals the master's current value of
// the master field. It listens to the master's data source; whatever happens to the master's row,
// the detail first finishes its own pending change and then reads its range again when next asked.
class DetailRange
{
public:
    explicit DetailRange(Table& detail);
    ~DetailRange();
    DetailRange(const DetailRange&) = delete;
    DetailRange& operator=(const DetailRange&) = delete;

    // Links to master (null: no master); the range is read again when next asked.
    void setMaster(DataSource* master, const QString& masterField, const QString& detailField);
    bool linked() const { return link_ != nullptr; }
    const QString& detailField() const { return detailField_; }

    // Lifted, the range is every row, whatever the master's row, so that a report can walk them all.
    bool lifted() const { return lifted_; }
    void setLifted(bool lifted) { lifted_ = lifted; }

    // The range must be read again (the master moved or changed).
    bool stale() const { return stale_; }
    void markStale() { stale_ = true; }
    // Takes the master's current value: from now on the range is what where() selects.
    void settle();

    // Restricted: only the rows of the master's current row (an open master, not lifted).
    bool restricted() const { return restricted_; }
    // The master's value; null when the master has no row, which selects no row at all.
    const FieldValue& value() const { return value_; }
    // The range's shape, which decides its SQL: 0 every row, 1 no row, 2 the rows of one value.
    int shape() const { return !restricted_ ? 0 : value_.isNull() ? 1 : 2; }
    // " WHERE ..." selecting the range, with one parameter for the value when shape() is 2.
    QString where(const TableShape& table) const;
    // Binds the value at index (then advanced) when where() has a parameter for it.
    void bind(sql::Statement& statement, int& index) const;

private:
    class MasterLink;
    // Whatever happens to the master's row, the detail first finishes its own pending change.
    void finishPending();
    void masterChanged();

    Table& detail_;
    std::unique_ptr<MasterLink> link_;
    QString masterField_;
    QString detailField_;
    bool stale_ = false;
    bool restricted_ = false;
    bool lifted_ = false;
    FieldValue value_;
};

// Binds a value as the engine stores it: text as UTF-8, logicals as 0 or 1.
void bindValue(sql::Statement& statement, int index, const FieldValue& value);

} // namespace halvenna::table

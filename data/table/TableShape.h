#pragma once

#include "data/sql/SqlConnection.h"
#include "data/table/TableTypes.h"

#include <QHash>

namespace halvenna::table {

// What every piece of an open table shares: its connection, its fields, the order of its rows and
// the SQL that names them. Filled when the table opens, emptied when it closes.
class TableShape
{
public:
    explicit TableShape(QString component) : component_(std::move(component)) {}

    // Reads the table's fields through db. indexField: the field the rows are ordered by (then the
    // order of appending); empty: the row's identity. Throws; nothing is kept then.
    void open(sql::Connection& db, const QString& tableName, const QString& indexField);
    void close();
    bool isOpen() const { return db_ != nullptr; }

    sql::Connection& db() const { return *db_; }
    // The table component's name, first in every message.
    const QString& component() const { return component_; }

    const QList<FieldDef>& fields() const { return fields_; }
    int fieldCount() const { return int(fields_.size()); }
    const FieldDef& field(int index) const { return fields_.at(index); }
    // Callers nearly always spell a field as the table does: a hash finds that at once; other
    // spellings are compared ignoring case. -1 when missing.
    int find(const QString& name) const;
    // The same, throwing "項目 '<name>' が見つかりません" when missing.
    int require(const QString& name) const;
    // Throws for a position that is no field of the open table.
    void checkIndex(int index) const
    {
        if (index < 0 || index >= fields_.size())
            throwNoField(index);
    }

    // The field that is the row's identity itself (INTEGER PRIMARY KEY), or -1.
    int identityField() const { return identityField_; }
    // The field the rows are ordered by, or -1 for the order of appending.
    int orderField() const { return orderField_; }
    // True when rows follow a field other than their identity; a detail's range always follows the
    // order of appending.
    bool orderedByField(bool restricted) const
    {
        return !restricted && orderField_ >= 0 && orderField_ != identityField_;
    }

    // SQL pieces: the quoted table, the engine's row identity, a quoted field.
    const QString& table() const { return table_; }
    const QString& rowid() const { return rowid_; }
    QString quotedField(int index) const { return db_->quoted(fields_.at(index).name); }
    // "SELECT <every field, then the row identity[, then the version]> FROM <table>" followed by
    // rest. The identity is the result column after the last field, the version the one after it.
    QString select(const QString& rest) const { return selectFrom_ + rest; }
    // The rows carry a version (sql::TableColumns::versioned) and its quoted column.
    bool versioned() const { return !version_.isEmpty(); }
    const QString& version() const { return version_; }
    QString orderBy(bool descending, bool restricted) const;

    // A query that always gives one row (a count) gave none.
    [[noreturn]] void throwNoRow(QStringView what) const;

private:
    [[noreturn]] void throwNoField(int index) const;

    QString component_;
    sql::Connection* db_ = nullptr;
    QString table_;
    QString rowid_;
    QString version_;
    QString selectFrom_;
    QList<FieldDef> fields_;
    QHash<QString, int> fieldsByName_;
    int identityField_ = -1;
    int orderField_ = -1;
};

} // namespace halvenna::table

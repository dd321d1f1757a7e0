#pragma once

#include "data/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace halvenna {

class Table;

// The values a report reads from its connection: one entry per row and field, in table order, kept
// as the text the painter draws, decoded once as it was read, in one buffer, so that ten thousand
// sheets cost a few megabytes.
class ReportRows
{
public:
    ReportRows() = default;
    explicit ReportRows(QStringList fields);

    const QStringList& fields() const { return fields_; }
    int fieldIndex(const QString& name) const; // -1 when the report does not read it
    int rowCount() const { return rows_; }
    // A null value reads as empty: both print nothing.
    QStringView text(int row, int field) const;

    // One row of code page 932 values, one per field in the order of fields().
    void appendRow(const QList<QByteArray>& values);
    // The reader's way, value by value: write appends one value's text to the buffer it is given;
    // endRow closes a row once every field has its value.
    template <typename Write> void appendValue(Write&& write)
    {
        write(data_);
        ends_.push_back(data_.size());
    }
    void endRow();

private:
    QStringList fields_;
    QString data_;
    std::vector<qsizetype> ends_; // where each value ends in data_
    int rows_ = 0;
};

// A field a report reads that its connection's table does not have.
class MissingFieldError : public Error
{
public:
    MissingFieldError(const QString& message, QString field) : Error(message), field_(std::move(field)) {}
    const QString& field() const { return field_; }

private:
    QString field_;
};

// A report's data connection: a named component through which a report reads one table.
class ReportConnection
{
public:
    explicit ReportConnection(QString objectName, Table* table = nullptr);
    const QString& objectName() const { return name_; }
    void setTable(Table* table) { table_ = table; }
    Table* table() const { return table_; }

    // Reads the named fields of every stored row, in the table's order, and those of optional the
    // table has (after them). It reads through a cursor of its own: the windows bound to the table
    // go on showing what they showed, on the same row, a detail table's link to its master stays,
    // and a closed table stays closed. A field the table lacks throws MissingFieldError before any
    // row is read.
    ReportRows read(const QStringList& fields, const QStringList& optional = {}) const;

private:
    QString name_;
    Table* table_ = nullptr;
};

} // namespace halvenna

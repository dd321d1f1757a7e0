#pragma once

#include "data/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace halvenna {

class Table;

// The values a report reads from its connection: one entry per row and field, in table order, kept
// as code page 932 bytes in one buffer so that ten thousand sheets cost a few hundred kilobytes.
class ReportRows
{
public:
    ReportRows() = default;
    explicit ReportRows(QStringList fields);

    const QStringList& fields() const { return fields_; }
    int fieldIndex(const QString& name) const; // -1 when the report does not read it
    int rowCount() const { return rows_; }
    // A null value reads as empty: both print nothing.
    QByteArrayView value(int row, int field) const;

    void appendRow(const QList<QByteArray>& values); // one per field, in the order of fields()

private:
    QStringList fields_;
    QByteArray data_;
    std::vector<quint32> ends_; // where each value ends in data_
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

// A report's data connection: a named component that lets a report walk one table.
class ReportConnection
{
public:
    explicit ReportConnection(QString objectName, Table* table = nullptr);
    const QString& objectName() const { return name_; }
    void setTable(Table* table) { table_ = table; }
    Table* table() const { return table_; }

    // Reads the named fields of every row, from the first. Meanwhile the table's bound controls are
    // frozen and its link to the current member is lifted, so a detail table shows all its rows;
    // afterwards it is put back as it was (open or closed, on the same row, linked, controls live),
    // also when reading fails. A field the table lacks throws MissingFieldError before any row is read.
    ReportRows read(const QStringList& fields) const;

private:
    QString name_;
    Table* table_ = nullptr;
};

} // namespace halvenna

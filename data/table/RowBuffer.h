#pragma once

#include "data/sql/SqlConnection.h"
#include "data/table/TableShape.h"

#include <QHash>

#include <optional>
#include <vector>

namespace halvenna::table {

// A store found the row changed or deleted since it was read (its version moved on): nothing was
// stored. The table words the message and reads the row again.
class StaleRow : public DatabaseError
{
public:
    StaleRow() : DatabaseError(QStringLiteral("stale row")) {}
};

// The values of a table's current row, and the storing of them. Values read from the table stay
// where they are, on the statement standing on the row or as the UTF-8 the engine gave, until
// someone reads them; written values are converted to their field's kind and cut to its width at
// once, and remembered as written (the dirty set), so that an update stores only those.
class RowBuffer
{
public:
    explicit RowBuffer(const TableShape& table) : table_(table) {}
    RowBuffer(const RowBuffer&) = delete;
    RowBuffer& operator=(const RowBuffer&) = delete;

    // --- where the values are
    // No row: every field reads null.
    void clear();
    // The values are statement's current row, read when asked; the statement must stay on the row
    // for as long as it is followed (see materialize and dropStatement).
    void follow(const sql::Statement& statement);
    // The values of statement's current row, copied now.
    void copyFrom(const sql::Statement& statement);
    // A new row: every field null.
    void startNew();
    // Copies what is still read from the followed statement, so that the statement may move on.
    void materialize();
    // The followed statement goes without a replacement: the values not yet copied read null.
    void dropStatement() { source_ = nullptr; }
    const sql::Statement* followed() const { return source_; }

    // --- values
    FieldValue value(int field);
    // The field's text exactly as the table holds it (UTF-8), when it is stored text; false otherwise.
    bool storedText(int field, QByteArrayView& utf8) const;
    // Writes value converted to the field's kind: text cut to the width, integers and logicals from
    // text. Throws ConversionError "項目 '<field>' の値として不正です".
    void write(int field, const FieldValue& value);
    // Writes text as the table holds it (UTF-8) that surely fits the field.
    void writeStoredText(int field, QByteArrayView utf8);
    // Throws ConversionError "項目 '<field>' の値として不正です" when sjis, cut to the field's width as
    // storing cuts it, is no code page 932 text. Other kinds are checked when written.
    void checkText(int field, const QByteArray& sjis) const;

    // The version of the row as read (tables whose rows carry one), 0 for a new row.
    qint64 version() const { return version_; }

    // value as a store writes it into field: converted to the field's kind and cut to its width
    // as write() does, then as the engine takes it (text UTF-8, a whole number, 1/0 for a logical);
    // nullopt for null. Throws ConversionError as write().
    std::optional<QByteArray> storedForm(int field, const FieldValue& value) const;
    // value as write() would hold it in field (converted and cut). Throws as write().
    FieldValue convertedValue(int field, const FieldValue& value) const;

    // The fields written since clearDirty, as bits by position.
    quint64 dirty() const { return dirty_; }
    void clearDirty() { dirty_ = 0; }

    // --- storing (statements kept until forgetStatements)
    // Inserts the row with every field; returns the new row's identity. Throws.
    qint64 insert();
    // Stores the fields written into the row rowid, which then holds the row's identity after it;
    // false when nothing was written, and nothing stored. Throws; StaleRow when the row's version
    // is no longer the one read.
    bool update(qint64& rowid);
    // Deletes the row rowid. Throws; StaleRow as update.
    void remove(qint64 rowid);
    // The table closes: its statements go with its connection.
    void forgetStatements();

private:
    struct Cell
    {
        enum Kind : quint8 {
            Unread, // still on the followed statement
            Null,
            Int,
            Utf8, // text as the table holds it
            Sjis, // text in code page 932 (written, or converted once read)
        };
        Cell() = default;
        explicit Cell(Kind k) : kind(k) {}

        Kind kind = Null;
        qint64 i = 0;
        QByteArray bytes;
    };

    Cell& cellFor(int field);
    Cell converted(int field, const FieldValue& value) const;
    void bind(sql::Statement& statement, int index, const Cell& cell);

    const TableShape& table_;
    std::vector<Cell> cells_; // empty: every value is on the followed statement (or null without one)
    const sql::Statement* source_ = nullptr;
    quint64 dirty_ = 0;
    qint64 version_ = 0;

    sql::Statement* insert_ = nullptr;
    sql::Statement* delete_ = nullptr;
    QHash<quint64, sql::Statement*> updates_; // by the set of fields they store
    std::vector<QByteArray> converted_;       // UTF-8 bound in place until the statement has run
};

} // namespace halvenna::table

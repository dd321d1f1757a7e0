#include "data/table/RowBuffer.h"

#include "data/SjisText.h"

namespace halvenna::table {

namespace {

constexpr quint64 bit(int field)
{
    return quint64(1) << field;
}

FieldValue fromInteger(qint64 v, FieldKind kind)
{
    if (kind == FieldKind::Logical)
        return FieldValue::logical(v != 0);
    if (kind == FieldKind::Text)
        return FieldValue::text(QByteArray::number(v));
    return FieldValue::integer(qint32(v));
}

// Stored text in code page 932. ASCII is the same bytes in both.
QByteArray toSjis(QByteArrayView utf8)
{
    if (sjis::isAscii(utf8))
        return utf8.toByteArray();
    return sjis::fromUnicode(QString::fromUtf8(utf8));
}

[[noreturn]] void throwNotAValue(const FieldDef& def)
{
    throw ConversionError(QStringLiteral("項目 '%1' の値として不正です").arg(def.name));
}

// Converted text bound in place lives until the statement has run.
class DropAfterwards
{
public:
    explicit DropAfterwards(std::vector<QByteArray>& v) : v_(v) {}
    ~DropAfterwards() { v_.clear(); }
    DropAfterwards(const DropAfterwards&) = delete;
    DropAfterwards& operator=(const DropAfterwards&) = delete;

private:
    std::vector<QByteArray>& v_;
};

} // namespace

// ---------------------------------------------------------------- where the values are

void RowBuffer::clear()
{
    cells_.clear();
    source_ = nullptr;
    version_ = 0;
}

void RowBuffer::follow(const sql::Statement& statement)
{
    cells_.clear();
    source_ = &statement;
    // The version follows the identity (TableShape::select).
    version_ = table_.versioned() ? statement.integer(table_.fieldCount() + 1) : 0;
}

void RowBuffer::copyFrom(const sql::Statement& statement)
{
    follow(statement);
    materialize();
}

void RowBuffer::startNew()
{
    cells_.assign(size_t(table_.fieldCount()), Cell{});
    source_ = nullptr;
    version_ = 0;
}

void RowBuffer::materialize()
{
    if (!source_)
        return;
    if (cells_.empty())
        cells_.assign(size_t(table_.fieldCount()), Cell(Cell::Unread));
    for (int i = 0; i < int(cells_.size()); ++i) {
        Cell& c = cells_[size_t(i)];
        if (c.kind != Cell::Unread)
            continue;
        switch (source_->type(i)) {
        case sql::ValueType::Null:
            c.kind = Cell::Null;
            break;
        case sql::ValueType::Integer:
            c.kind = Cell::Int;
            c.i = source_->integer(i);
            break;
        case sql::ValueType::Text:
            c.kind = Cell::Utf8;
            c.bytes = source_->text(i).toByteArray();
            break;
        }
    }
    source_ = nullptr;
}

// ---------------------------------------------------------------- values

FieldValue RowBuffer::value(int field)
{
    const FieldKind kind = table_.field(field).kind;
    if (cells_.empty() || cells_[size_t(field)].kind == Cell::Unread) {
        if (!source_)
            return FieldValue();
        switch (source_->type(field)) {
        case sql::ValueType::Null:
            return FieldValue();
        case sql::ValueType::Integer:
            return fromInteger(source_->integer(field), kind);
        case sql::ValueType::Text:
            // Text in a number field, stored by another program, is handed over as text.
            return FieldValue::text(toSjis(source_->text(field)));
        }
    }
    Cell& c = cells_[size_t(field)];
    switch (c.kind) {
    case Cell::Unread:
    case Cell::Null:
        return FieldValue();
    case Cell::Int:
        return fromInteger(c.i, kind);
    case Cell::Utf8:
        // Converted once, then kept in code page 932.
        if (!sjis::isAscii(c.bytes))
            c.bytes = sjis::fromUnicode(QString::fromUtf8(c.bytes));
        c.kind = Cell::Sjis;
        [[fallthrough]];
    case Cell::Sjis:
        return FieldValue::text(c.bytes);
    }
    return FieldValue();
}

bool RowBuffer::storedText(int field, QByteArrayView& utf8) const
{
    if (table_.field(field).kind != FieldKind::Text)
        return false;
    if (cells_.empty() || cells_[size_t(field)].kind == Cell::Unread) {
        if (!source_ || source_->type(field) != sql::ValueType::Text)
            return false;
        utf8 = source_->text(field);
        return true;
    }
    const Cell& c = cells_[size_t(field)];
    if (c.kind != Cell::Utf8)
        return false;
    utf8 = c.bytes;
    return true;
}

RowBuffer::Cell& RowBuffer::cellFor(int field)
{
    if (cells_.empty())
        cells_.assign(size_t(table_.fieldCount()), Cell(source_ ? Cell::Unread : Cell::Null));
    dirty_ |= bit(field);
    return cells_[size_t(field)];
}

void RowBuffer::write(int field, const FieldValue& value)
{
    Cell cell = converted(field, value);
    cellFor(field) = std::move(cell);
}

std::optional<QByteArray> RowBuffer::storedForm(int field, const FieldValue& value) const
{
    const Cell cell = converted(field, value);
    switch (cell.kind) {
    case Cell::Int:
        return QByteArray::number(cell.i);
    case Cell::Sjis:
        return sjis::isAscii(cell.bytes) ? cell.bytes : sjis::toUnicode(cell.bytes).toUtf8();
    case Cell::Utf8:
        return cell.bytes;
    case Cell::Null:
    case Cell::Unread:
        break;
    }
    return std::nullopt;
}

FieldValue RowBuffer::convertedValue(int field, const FieldValue& value) const
{
    const Cell cell = converted(field, value);
    switch (cell.kind) {
    case Cell::Int:
        return fromInteger(cell.i, table_.field(field).kind);
    case Cell::Sjis:
        return FieldValue::text(cell.bytes);
    case Cell::Utf8:
        return FieldValue::text(toSjis(cell.bytes));
    case Cell::Null:
    case Cell::Unread:
        break;
    }
    return FieldValue();
}

RowBuffer::Cell RowBuffer::converted(int field, const FieldValue& value) const
{
    const FieldDef& def = table_.field(field);
    Cell cell;
    if (value.isNull()) {
        cell.kind = Cell::Null;
    } else {
        switch (def.kind) {
        case FieldKind::Text: {
            QByteArray text = value.asText();
            if (def.width > 0)
                text = sjis::cutToWidth(text, def.width);
            cell.kind = Cell::Sjis;
            cell.bytes = std::move(text);
            break;
        }
        case FieldKind::Integer:
            if (value.isText()) {
                const QByteArray text = value.asText();
                qint32 v = 0;
                if (text.isEmpty()) {
                    cell.kind = Cell::Null;
                    break;
                }
                if (!parseWholeNumber(text, v))
                    throwNotAValue(def);
                cell.kind = Cell::Int;
                cell.i = v;
            } else {
                cell.kind = Cell::Int;
                cell.i = value.isLogical() ? (value.asBoolean() ? 1 : 0) : value.asInteger();
            }
            break;
        case FieldKind::Logical:
            if (value.isText() && value.asText().isEmpty()) {
                cell.kind = Cell::Null;
                break;
            }
            cell.kind = Cell::Int;
            try {
                cell.i = value.asBoolean() ? 1 : 0;
            } catch (const ConversionError&) {
                throwNotAValue(def);
            }
            break;
        }
    }
    return cell;
}

void RowBuffer::writeStoredText(int field, QByteArrayView utf8)
{
    Cell cell;
    cell.kind = Cell::Utf8;
    cell.bytes = utf8.toByteArray();
    cellFor(field) = std::move(cell);
}

void RowBuffer::checkText(int field, const QByteArray& sjis) const
{
    const FieldDef& def = table_.field(field);
    if (def.kind != FieldKind::Text)
        return;
    // Bytes beyond the width are cut away when the value is stored: only what is kept must be text.
    const bool cut = def.width > 0 && sjis.size() > def.width;
    if (!sjis::isValid(cut ? sjis::cutToWidth(sjis, def.width) : sjis))
        throwNotAValue(def);
}

// ---------------------------------------------------------------- storing

void RowBuffer::bind(sql::Statement& st, int index, const Cell& c)
{
    // Every statement here has all its parameters bound at each use, so bytes bound in place are
    // never read again once the cells or the converted text have gone.
    switch (c.kind) {
    case Cell::Null:
        st.bindNull(index);
        break;
    case Cell::Int:
        st.bindInteger(index, c.i);
        break;
    case Cell::Utf8:
        st.bindTextInPlace(index, c.bytes);
        break;
    case Cell::Sjis:
        // ASCII is the same bytes in both encodings: most postal codes and numbers skip the conversion.
        if (sjis::isAscii(c.bytes)) {
            st.bindTextInPlace(index, c.bytes);
        } else {
            converted_.push_back(sjis::toUnicode(c.bytes).toUtf8());
            st.bindTextInPlace(index, converted_.back());
        }
        break;
    case Cell::Unread: {
        const int field = int(&c - cells_.data());
        if (!source_ || source_->type(field) == sql::ValueType::Null)
            st.bindNull(index);
        else if (source_->type(field) == sql::ValueType::Integer)
            st.bindInteger(index, source_->integer(field));
        else
            st.bindText(index, source_->text(field));
        break;
    }
    }
}

qint64 RowBuffer::insert()
{
    const int n = table_.fieldCount();
    if (cells_.empty())
        cells_.assign(size_t(n), Cell(source_ ? Cell::Unread : Cell::Null));
    const int identity = table_.identityField();
    if (identity >= 0 && cells_[size_t(identity)].kind == Cell::Null)
        throw DatabaseError(
            QStringLiteral("%1: 項目 '%2' には値が必要です").arg(table_.component(), table_.field(identity).name));
    sql::Connection& db = table_.db();
    // An engine that gives back what it stored says the new row's identity (and version) at once.
    const QString back =
        db.returning(table_.versioned() ? table_.rowid() + QStringLiteral(", ") + table_.version() : table_.rowid());
    if (!insert_) {
        QStringList columns;
        QStringList marks;
        for (int i = 0; i < n; ++i) {
            columns << table_.quotedField(i);
            marks << QStringLiteral("?");
        }
        insert_ = &db.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)%4")
                                  .arg(table_.table(), columns.join(u", "), marks.join(u','), back));
    }
    DropAfterwards dropConverted(converted_);
    sql::Query q(*insert_);
    for (int i = 0; i < n; ++i)
        bind(*q, i + 1, cells_[size_t(i)]);
    const bool gaveRow = q->step(u"行を保存できません");
    if (back.isEmpty())
        return db.lastInsertId();
    if (!gaveRow)
        table_.throwNoRow(u"行を保存できません");
    if (table_.versioned())
        version_ = q->integer(1);
    return q->integer(0);
}

bool RowBuffer::update(qint64& rowid)
{
    const int n = table_.fieldCount();
    const int identity = table_.identityField();
    // The row's identity written with its own value is no change: leaving it out spares the engine
    // moving the row and its index entries.
    if (identity >= 0 && (dirty_ & bit(identity)) && cells_[size_t(identity)].kind == Cell::Int &&
        cells_[size_t(identity)].i == rowid)
        dirty_ &= ~bit(identity);
    if (dirty_ == 0)
        return false;
    const bool versioned = table_.versioned();
    sql::Statement*& st = updates_[dirty_];
    if (!st) {
        QStringList sets;
        for (int i = 0; i < n; ++i)
            if (dirty_ & bit(i))
                sets << table_.quotedField(i) + QStringLiteral(" = ?");
        QString sql =
            QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?").arg(table_.table(), sets.join(u", "), table_.rowid());
        // Only the row as it was read is changed; the engine raises the version and says the new one.
        if (versioned)
            sql += QStringLiteral(" AND %1 = ?%2").arg(table_.version(), table_.db().returning(table_.version()));
        st = &table_.db().prepare(sql);
    }
    {
        DropAfterwards dropConverted(converted_);
        sql::Query q(*st);
        int index = 1;
        for (int i = 0; i < n; ++i)
            if (dirty_ & bit(i))
                bind(*q, index++, cells_[size_t(i)]);
        q->bindInteger(index++, rowid);
        if (versioned)
            q->bindInteger(index, version_);
        const bool gaveRow = q->step(u"行を保存できません");
        if (versioned) {
            if (!gaveRow)
                throw StaleRow();
            version_ = q->integer(0);
        }
    }
    if (identity >= 0 && cells_[size_t(identity)].kind == Cell::Int)
        rowid = cells_[size_t(identity)].i;
    return true;
}

void RowBuffer::remove(qint64 rowid)
{
    const bool versioned = table_.versioned();
    if (!delete_) {
        QString sql = QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(table_.table(), table_.rowid());
        if (versioned)
            sql += QStringLiteral(" AND %1 = ?%2").arg(table_.version(), table_.db().returning(table_.rowid()));
        delete_ = &table_.db().prepare(sql);
    }
    sql::Query q(*delete_);
    q->bindInteger(1, rowid);
    if (versioned)
        q->bindInteger(2, version_);
    if (!q->step(u"行を削除できません") && versioned)
        throw StaleRow();
}

void RowBuffer::forgetStatements()
{
    insert_ = nullptr;
    delete_ = nullptr;
    updates_.clear();
}

} // namespace halvenna::table

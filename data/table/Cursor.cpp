#include "data/table/Cursor.h"

#include <algorithm>

namespace halvenna::table {

namespace {

constexpr QStringView kCannotRead = u"テーブルを読めません";

// 0: the rows follow their identity; 1: a field, and the current row's value of it is null; 2: a
// field, with a value.
int orderShape(bool byField, const FieldValue& orderValue)
{
    return !byField ? 0 : orderValue.isNull() ? 1 : 2;
}

// The statement in slot, prepared the first time; the SQL is only built then.
template <typename MakeSql>
sql::Statement& prepared(const TableShape& table, sql::Statement*& slot, sql::Connection::Use use, MakeSql makeSql)
{
    if (!slot)
        slot = &table.db().prepare(makeSql(), use);
    return *slot;
}

} // namespace

Cursor::Cursor(const TableShape& table, const DetailRange& range, RowBuffer& row)
    : table_(table), range_(range), row_(row)
{}

int Cursor::nextPage(bool fresh)
{
    const int most = table_.db().cursorPage();
    if (most == 0)
        return 0;
    // The first page is small (a window shows a screenful), later ones grow: a walk through the
    // whole table costs few queries.
    constexpr int kFirstPage = 64;
    page_ = fresh || page_ == 0 ? std::min(kFirstPage, most) : std::min(page_ * 4, most);
    return page_;
}

void Cursor::standOn(sql::Statement* statement, bool forward, int page)
{
    live_ = statement;
    forward_ = forward;
    pageLeft_ = page > 0 ? page - 1 : -1;
    row_.follow(*statement);
    hasRow_ = true;
    rowid_ = statement->integer(table_.fieldCount());
}

void Cursor::take(sql::Statement& statement)
{
    row_.copyFrom(statement);
    hasRow_ = true;
    rowid_ = statement.integer(table_.fieldCount());
}

// ---------------------------------------------------------------- moving

bool Cursor::first()
{
    letGo();
    // A detail table asks this at every move of its master: the query is prepared once per range shape.
    const int page = nextPage(true);
    sql::Query q(prepared(table_, first_[size_t(range_.shape())], sql::Connection::Use::Cursor, [&] {
        return table_.select(range_.where(table_) + table_.orderBy(false, range_.restricted()) +
                             (page > 0 ? QStringLiteral(" LIMIT ?") : QString()));
    }));
    int index = 1;
    range_.bind(*q, index);
    if (page > 0)
        q->bindInteger(index, page);
    if (q->step(kCannotRead)) {
        standOn(q.keep(), true, page);
        recNo_ = 0;
        bof_ = true;
        eof_ = false;
        return true;
    }
    clear();
    count_ = 0;
    return false;
}

bool Cursor::last()
{
    letGo();
    sql::Query q(prepared(table_, last_[size_t(range_.shape())], sql::Connection::Use::Query, [&] {
        return table_.select(range_.where(table_) + table_.orderBy(true, range_.restricted()) +
                             QStringLiteral(" LIMIT 1"));
    }));
    int index = 1;
    range_.bind(*q, index);
    if (q->step(kCannotRead)) {
        take(*q);
        recNo_ = count_ >= 0 ? count_ - 1 : -1;
        eof_ = true;
        bof_ = false;
        return true;
    }
    clear();
    count_ = 0;
    return false;
}

bool Cursor::next()
{
    if (!hasRow_) {
        eof_ = true;
        return false;
    }
    // A paged cursor at the end of its page reads on with a query of its own.
    const bool moved = live_ && forward_ && pageLeft_ != 0 ? stepOn() : seekAfter(false);
    if (!moved) {
        eof_ = true;
        return false;
    }
    if (recNo_ >= 0)
        ++recNo_;
    bof_ = false;
    eof_ = false;
    return true;
}

bool Cursor::stepOn()
{
    sql::Statement* cursor = live_;
    bool more = false;
    try {
        more = cursor->step(kCannotRead);
    } catch (...) {
        // The failed cursor no longer holds the current row: read it again, then report the failure.
        const bool reread = row_.followed() == cursor;
        letGo();
        if (reread) {
            try {
                load(rowid_);
            } catch (...) {
                // The cursor's failure is the one to report.
            }
        }
        throw;
    }
    if (more) {
        if (pageLeft_ > 0)
            --pageLeft_;
        row_.follow(*cursor);
        rowid_ = cursor->integer(table_.fieldCount());
        return true;
    }
    // The cursor has run out and no longer holds the current row: read it again.
    const bool reread = row_.followed() == cursor;
    letGo();
    if (reread)
        load(rowid_);
    return false;
}

bool Cursor::prior()
{
    if (!hasRow_) {
        bof_ = true;
        return false;
    }
    const int before = recNo_;
    if (!seekAfter(true)) {
        bof_ = true;
        return false;
    }
    recNo_ = before > 0 ? before - 1 : -1;
    bof_ = false;
    eof_ = false;
    return true;
}

bool Cursor::seekAfter(bool backwards)
{
    row_.materialize();
    const qint64 current = rowid_;
    const bool byField = table_.orderedByField(range_.restricted());
    const FieldValue orderValue = byField ? row_.value(table_.orderField()) : FieldValue();
    const int shape = orderShape(byField, orderValue);
    sql::Statement*& slot = after_[size_t((backwards ? 9 : 0) + shape * 3 + range_.shape())];
    letGo();
    if (!slot) {
        const QString& id = table_.rowid();
        QString condition;
        if (shape == 0) {
            condition = QStringLiteral("%1 %2 ?").arg(id, QLatin1String(backwards ? "<" : ">"));
        } else {
            const QString f = table_.quotedField(table_.orderField());
            if (shape == 1)
                condition = backwards ? QStringLiteral("(%1 IS NULL AND %2 < ?)").arg(f, id)
                                      : QStringLiteral("((%1 IS NULL AND %2 > ?) OR %1 IS NOT NULL)").arg(f, id);
            else
                condition = backwards ? QStringLiteral("(%1 < ? OR %1 IS NULL OR (%1 = ? AND %2 < ?))").arg(f, id)
                                      : QStringLiteral("(%1 > ? OR (%1 = ? AND %2 > ?))").arg(f, id);
        }
        QString sql = table_.select(range_.where(table_) + QStringLiteral(" AND ") + condition +
                                    table_.orderBy(backwards, range_.restricted()));
        // Backwards reads one row; forwards leaves a cursor standing on it, so that further steps
        // cost one step each (a page of them, where the engine reads in pages).
        if (backwards)
            sql += QStringLiteral(" LIMIT 1");
        else if (table_.db().cursorPage() > 0)
            sql += QStringLiteral(" LIMIT ?");
        slot = &table_.db().prepare(sql, backwards ? sql::Connection::Use::Query : sql::Connection::Use::Cursor);
    }
    sql::Query q(*slot);
    int index = 1;
    range_.bind(*q, index);
    if (shape == 2) {
        bindValue(*q, index++, orderValue);
        bindValue(*q, index++, orderValue);
    }
    q->bindInteger(index++, current);
    const int page = backwards ? 0 : nextPage(false);
    if (page > 0)
        q->bindInteger(index, page);
    if (!q->step(kCannotRead))
        return false;
    if (backwards)
        take(*q);
    else
        standOn(q.keep(), true, page);
    return true;
}

bool Cursor::find(int field, const FieldValue& key, LocateOptions options)
{
    const FieldDef& def = table_.field(field);
    const bool restricted = range_.restricted();
    const bool partial = def.kind == FieldKind::Text && options.partialKey;
    // The query depends on the field, the options, the range and whether the key is null.
    const quint32 shape = quint32(field) << 5 | (options.partialKey ? 1 : 0) | (options.caseInsensitive ? 2 : 0) |
                          (key.isNull() ? 4 : 0) | (restricted ? 8 : 0) | (range_.shape() == 1 ? 16 : 0);
    sql::Statement*& slot = find_[shape];
    if (!slot) {
        const QString f = table_.quotedField(field);
        const bool ignoringCase = def.kind == FieldKind::Text && options.caseInsensitive;
        sql::Connection& db = table_.db();
        const QString left = partial ? QStringLiteral("substr(%1, 1, length(?))").arg(f) : f;
        QString condition;
        if (key.isNull())
            condition = QStringLiteral("%1 IS NULL").arg(f);
        else if (ignoringCase)
            condition = db.equalIgnoringCase(left, QStringLiteral("?"));
        else
            condition = QStringLiteral("%1 = ?").arg(left);
        slot = &db.prepare(table_.select(range_.where(table_) + QStringLiteral(" AND ") + condition +
                                         table_.orderBy(false, restricted) + QStringLiteral(" LIMIT 1")),
                           sql::Connection::Use::Cursor);
    }
    sql::Statement& st = *slot;
    // The same query may be what the current row stands on; should it find nothing, the row stays.
    if (live_ == &st) {
        row_.materialize();
        letGo();
    }
    sql::Query q(st);
    int index = 1;
    range_.bind(*q, index);
    if (!key.isNull()) {
        if (partial)
            bindValue(*q, index++, key);
        bindValue(*q, index++, key);
    }
    if (!q->step(kCannotRead))
        return false;
    letGo();
    if (table_.db().inTransaction())
        standOn(q.keep(), false, 0);
    else
        take(*q);
    recNo_ = -1;
    bof_ = false;
    eof_ = false;
    return true;
}

void Cursor::load(qint64 rowid)
{
    letGo();
    {
        sql::Query q(prepared(table_, load_, sql::Connection::Use::Query,
                              [&] { return table_.select(QStringLiteral(" WHERE %1 = ?").arg(table_.rowid())); }));
        q->bindInteger(1, rowid);
        if (q->step(kCannotRead)) {
            take(*q);
            return;
        }
    }
    // The row is gone (deleted by another program): stand on the first row instead.
    first();
}

void Cursor::afterDelete(int position)
{
    if (count_ > 0)
        --count_;
    if (seekAfter(false)) {
        recNo_ = position;
        bof_ = false;
        eof_ = false;
    } else if (seekAfter(true)) {
        recNo_ = position > 0 ? position - 1 : -1;
        eof_ = false;
        bof_ = false;
    } else {
        clear();
        count_ = 0;
    }
}

bool Cursor::findRangeStart()
{
    if (!hasRow_)
        return false;
    if (recNo_ != 0)
        first();
    bof_ = false;
    eof_ = false;
    return true;
}

void Cursor::arrivedAt(int position)
{
    recNo_ = position;
    bof_ = false;
    eof_ = false;
}

// ---------------------------------------------------------------- counting

int Cursor::count()
{
    if (count_ < 0) {
        sql::Query q(prepared(table_, counting_[size_t(range_.shape())], sql::Connection::Use::Query, [&] {
            return QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(table_.table(), range_.where(table_));
        }));
        int index = 1;
        range_.bind(*q, index);
        if (!q->step(kCannotRead))
            table_.throwNoRow(kCannotRead);
        count_ = int(q->integer(0));
    }
    return count_;
}

int Cursor::position()
{
    if (!hasRow_)
        return -1;
    if (recNo_ < 0) {
        const bool byField = table_.orderedByField(range_.restricted());
        const FieldValue orderValue = byField ? row_.value(table_.orderField()) : FieldValue();
        const int shape = orderShape(byField, orderValue);
        sql::Statement*& slot = position_[size_t(shape * 3 + range_.shape())];
        if (!slot) {
            const QString& id = table_.rowid();
            QString condition = QStringLiteral("%1 < ?").arg(id);
            if (shape > 0) {
                const QString f = table_.quotedField(table_.orderField());
                condition = shape == 1 ? QStringLiteral("(%1 IS NULL AND %2 < ?)").arg(f, id)
                                       : QStringLiteral("(%1 < ? OR %1 IS NULL OR (%1 = ? AND %2 < ?))").arg(f, id);
            }
            slot = &table_.db().prepare(QStringLiteral("SELECT COUNT(*) FROM %1%2 AND %3")
                                            .arg(table_.table(), range_.where(table_), condition));
        }
        sql::Query q(*slot);
        int index = 1;
        range_.bind(*q, index);
        if (shape == 2) {
            bindValue(*q, index++, orderValue);
            bindValue(*q, index++, orderValue);
        }
        q->bindInteger(index, rowid_);
        if (!q->step(kCannotRead))
            table_.throwNoRow(kCannotRead);
        recNo_ = int(q->integer(0));
    }
    return recNo_;
}

// ---------------------------------------------------------------- the current row's life

void Cursor::standOnNew()
{
    letGo();
    row_.startNew();
    hasRow_ = true;
    rowid_ = 0;
}

void Cursor::inserted(qint64 rowid)
{
    rowid_ = rowid;
    if (count_ >= 0)
        ++count_;
    recNo_ = -1;
    // The new row takes its place in table order; a cursor left elsewhere no longer fits.
    letGo();
}

void Cursor::updated(qint64 rowid, bool moved)
{
    rowid_ = rowid;
    if (moved) {
        recNo_ = -1;
        row_.materialize();
        letGo();
    }
}

void Cursor::clear()
{
    letGo();
    hasRow_ = false;
    rowid_ = 0;
    row_.clear();
    recNo_ = -1;
    eof_ = true;
    bof_ = true;
}

// ---------------------------------------------------------------- the running statement

void Cursor::letGo()
{
    if (!live_)
        return;
    if (row_.followed() == live_)
        row_.dropStatement();
    live_->reset();
    live_ = nullptr;
    forward_ = false;
}

void Cursor::leaveTransaction()
{
    if (!live_ || forward_)
        return;
    row_.materialize();
    letGo();
}

void Cursor::forgetStatements()
{
    live_ = nullptr;
    forward_ = false;
    first_ = {};
    last_ = {};
    after_ = {};
    counting_ = {};
    position_ = {};
    load_ = nullptr;
    find_.clear();
}

} // namespace halvenna::table

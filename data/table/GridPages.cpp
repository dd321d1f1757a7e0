#include "data/table/GridPages.h"

#include "data/Error.h"

#include <algorithm>
#include <limits>

namespace halvenna::table {

namespace {

constexpr QStringView kCannotRead = u"テーブルを読めません";

} // namespace

GridPages::GridPages(const TableShape& table, const DetailRange& range, Cursor& cursor, RowBuffer& row)
    : table_(table), range_(range), cursor_(cursor), row_(row)
{}

RowSnapshot GridPages::snapshotFrom(const sql::Statement& st, const std::vector<int>* fields) const
{
    const int n = fields ? int(fields->size()) : table_.fieldCount();
    RowSnapshot row;
    row.texts.reserve(n);
    row.nulls.reserve(n);
    for (int i = 0; i < n; ++i) {
        switch (st.type(i)) {
        case sql::ValueType::Null:
            row.texts << QString();
            row.nulls << true;
            break;
        case sql::ValueType::Integer: {
            const qint64 v = st.integer(i);
            row.texts << (table_.field(fields ? fields->at(i) : i).kind == FieldKind::Logical
                              ? (v ? QStringLiteral("True") : QStringLiteral("False"))
                              : QString::number(v));
            row.nulls << false;
            break;
        }
        case sql::ValueType::Text:
            row.texts << QString::fromUtf8(st.text(i));
            row.nulls << false;
            break;
        }
    }
    row.rowid = st.integer(n);
    return row;
}

QList<RowSnapshot> GridPages::read(int offset, int count, bool fromEnd)
{
    sql::Statement*& slot = pages_[size_t((fromEnd ? 3 : 0) + range_.shape())];
    if (!slot)
        slot = &table_.db().prepare(table_.select(range_.where(table_) + table_.orderBy(fromEnd, range_.restricted()) +
                                                  QStringLiteral(" LIMIT ? OFFSET ?")));
    sql::Query q(*slot);
    int index = 1;
    range_.bind(*q, index);
    q->bindInteger(index++, count);
    q->bindInteger(index, offset);
    QList<RowSnapshot> rows;
    while (q->step(kCannotRead)) {
        if (fromEnd)
            rows.prepend(snapshotFrom(*q, nullptr));
        else
            rows.append(snapshotFrom(*q, nullptr));
    }
    return rows;
}

QList<RowSnapshot> GridPages::readAfter(qint64 after, int count, bool backwards, const std::vector<int>& fields)
{
    if (range_.restricted() || table_.orderedByField(false))
        throw Error(QStringLiteral("%1: 行の番号順に並んだ表だけを先へ読めます").arg(table_.component()));
    // Only the fields asked for: a reader of every row pays for each column it converts.
    QString columns;
    for (const int f : fields) {
        table_.checkIndex(f);
        columns += table_.quotedField(f) + QStringLiteral(", ");
    }
    sql::Query q(table_.db().prepare(
        QStringLiteral("SELECT %1%2 FROM %3 WHERE %2 %4 CAST(? AS BIGINT)%5 LIMIT ?")
            .arg(columns, table_.rowid(), table_.table(), backwards ? u"<" : u">", table_.orderBy(backwards, false))));
    q->bindInteger(1, after);
    q->bindInteger(2, count);
    QList<RowSnapshot> rows;
    rows.reserve(count);
    while (q->step(kCannotRead))
        rows.append(snapshotFrom(*q, &fields));
    return rows;
}

int GridPages::estimatedCount()
{
    if (cursor_.knownCount() >= 0)
        return cursor_.knownCount();
    // A small table is counted at once; a big one ordered by its row identity is estimated from
    // the lowest and highest identity, which costs two index lookups instead of a pass.
    constexpr int kSmall = 1000;
    sql::Statement*& bounded = bounded_[size_t(range_.shape())];
    if (!bounded)
        bounded = &table_.db().prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM %1%2 LIMIT %3) AS r")
                                           .arg(table_.table(), range_.where(table_))
                                           .arg(kSmall + 1));
    int small = 0;
    {
        sql::Query q(*bounded);
        int index = 1;
        range_.bind(*q, index);
        if (!q->step(kCannotRead))
            table_.throwNoRow(kCannotRead);
        small = int(q->integer(0));
    }
    if (small <= kSmall) {
        cursor_.setKnownCount(small);
        return small;
    }
    if (range_.restricted() || table_.orderedByField(false))
        return cursor_.count();
    if (!span_)
        span_ = &table_.db().prepare(QStringLiteral("SELECT (SELECT max(%2) FROM %1) - (SELECT min(%2) FROM %1) + 1")
                                         .arg(table_.table(), table_.rowid()));
    sql::Query q(*span_);
    if (!q->step(kCannotRead))
        table_.throwNoRow(kCannotRead);
    const qint64 span = q->integer(0);
    return int(std::clamp<qint64>(span, small, std::numeric_limits<int>::max()));
}

RowSnapshot GridPages::current()
{
    RowSnapshot row;
    if (!table_.isOpen() || !cursor_.hasRow())
        return row;
    row.rowid = cursor_.rowid();
    for (int i = 0; i < table_.fieldCount(); ++i) {
        const FieldValue v = row_.value(i);
        row.texts << v.displayText();
        row.nulls << v.isNull();
    }
    return row;
}

void GridPages::forgetStatements()
{
    pages_ = {};
    bounded_ = {};
    span_ = nullptr;
}

} // namespace halvenna::table

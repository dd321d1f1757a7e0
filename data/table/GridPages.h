#pragma once

#include "data/sql/SqlConnection.h"
#include "data/table/Cursor.h"
#include "data/table/DetailRange.h"
#include "data/table/RowBuffer.h"
#include "data/table/TableShape.h"

#include <array>
#include <vector>

namespace halvenna::table {

// What a grid reads of a table without moving its current row: blocks of rows by position from
// either end, the table's size (estimated for a big table so that the first screen comes at once),
// and the current row's display texts.
class GridPages
{
public:
    GridPages(const TableShape& table, const DetailRange& range, Cursor& cursor, RowBuffer& row);
    GridPages(const GridPages&) = delete;
    GridPages& operator=(const GridPages&) = delete;

    // count rows from position offset (from 0) in table order; fromEnd: counted from the end, the
    // rows still returned in table order.
    QList<RowSnapshot> read(int offset, int count, bool fromEnd);
    // Up to count rows whose identity follows `after` (backwards: precedes it), nearest first, with
    // the texts of `fields` only (in that order). For a whole table in the order of its row
    // identity: one index range per call, however far it reads.
    QList<RowSnapshot> readAfter(qint64 after, int count, bool backwards, const std::vector<int>& fields);
    // The record count when it is known or cheap to know; for a big table ordered by its row
    // identity, an estimate from the identities' span (exact when the numbers have no gaps).
    int estimatedCount();
    // The current row's display texts (for a pending row, from what was written).
    RowSnapshot current();
    // The table closes: the statements go with its connection.
    void forgetStatements();

private:
    // The row's texts: every field, or those of `fields` in that order.
    RowSnapshot snapshotFrom(const sql::Statement& statement, const std::vector<int>* fields) const;

    const TableShape& table_;
    const DetailRange& range_;
    Cursor& cursor_;
    RowBuffer& row_;
    std::array<sql::Statement*, 6> pages_{};
    std::array<sql::Statement*, 3> bounded_{};
    sql::Statement* span_ = nullptr;
};

} // namespace halvenna::table

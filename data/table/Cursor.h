#pragma once

#include "data/sql/SqlConnection.h"
#include "data/table/DetailRange.h"
#include "data/table/RowBuffer.h"
#include "data/table/TableShape.h"

#include <QHash>

#include <array>

namespace halvenna::table {

// Where a table stands and how it moves. Walking forward steps one running statement (the cursor)
// that stands on the current row, so a walk costs one step per row and the row's values are read
// from the statement only when asked (RowBuffer). Other moves query the row they go to.
//
// A running statement holds a read lock on the file. The cursor is let go of between user actions
// (Table::releaseReadLock); a row found by locate inside a transaction, where the lock is held
// anyway, stays on its statement until the transaction ends.
class Cursor
{
public:
    Cursor(const TableShape& table, const DetailRange& range, RowBuffer& row);
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    bool hasRow() const { return hasRow_; }
    qint64 rowid() const { return rowid_; }
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    // The current row's position from 0 in table order, -1 when not known (position() counts it).
    int knownPosition() const { return recNo_; }
    void setKnownPosition(int position) { recNo_ = position; }
    // The number of rows in the range, -1 when not known (count() counts it).
    int knownCount() const { return count_; }
    void setKnownCount(int count) { count_ = count; }

    // --- moving; each tells whether it found a row
    bool first();
    bool last();
    bool next();
    bool prior();
    // The first row of the range whose field equals key; stays put when there is none.
    bool find(int field, const FieldValue& key, LocateOptions options);
    // Stands on the row rowid, or on the first row when that row is gone.
    void load(qint64 rowid);
    // The current row was deleted: stands on the row after it, or the one before it at the end.
    void afterDelete(int position);
    // Looking for the master's own key in a detail's range is asking for the range's first row.
    bool findRangeStart();
    // The row moved to by a grid is at position (-1: not known).
    void arrivedAt(int position);

    // --- counting
    int count();
    int position();

    // --- the current row's life
    // A new row, not stored yet, becomes current.
    void standOnNew();
    // The new row was stored: it has its identity and takes its place in table order.
    void inserted(qint64 rowid);
    // The row was updated and has identity rowid now; moved: it may stand elsewhere in table order.
    void updated(qint64 rowid, bool moved);
    // No current row.
    void clear();

    // --- the running statement
    bool holdsStatement() const { return live_ != nullptr; }
    // Lets go of the running statement. A caller that keeps the current row materializes it first;
    // most replace it.
    void letGo();
    // A transaction ends: a row found by locate is copied off its statement, which is let go of.
    void leaveTransaction();
    // The table closes: the statements go with its connection.
    void forgetStatements();

private:
    // page: the rows the statement was limited to (0: none).
    void standOn(sql::Statement* statement, bool forward, int page);
    // The number of rows the next forward query reads (0: all); fresh: a walk begins.
    int nextPage(bool fresh);
    void take(sql::Statement& statement);
    bool stepOn();
    bool seekAfter(bool backwards);

    const TableShape& table_;
    const DetailRange& range_;
    RowBuffer& row_;

    sql::Statement* live_ = nullptr; // stands on the current row
    bool forward_ = false;           // and stepping it gives the next row in table order
    int pageLeft_ = -1;              // rows left on its page after the current one (-1: no pages)
    int page_ = 0;                   // the size of the last page asked for

    bool hasRow_ = false;
    qint64 rowid_ = 0;
    bool eof_ = true;
    bool bof_ = true;
    int recNo_ = -1;
    int count_ = -1;

    // Statements by the shape of their query (the range's shape, the order value's, the key's),
    // so that moving builds no SQL.
    std::array<sql::Statement*, 3> first_{};
    std::array<sql::Statement*, 3> last_{};
    std::array<sql::Statement*, 18> after_{};
    std::array<sql::Statement*, 3> counting_{};
    std::array<sql::Statement*, 9> position_{};
    sql::Statement* load_ = nullptr;
    QHash<quint32, sql::Statement*> find_;
};

} // namespace halvenna::table

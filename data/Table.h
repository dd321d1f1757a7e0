#pragma once

#include "data/DataSource.h"
#include "data/FieldValue.h"
#include "data/sql/SqlConnection.h"
#include "data/table/Cursor.h"
#include "data/table/DetailRange.h"
#include "data/table/GridPages.h"
#include "data/table/RowBuffer.h"
#include "data/table/TableShape.h"
#include "data/table/TableTypes.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

#include <deque>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace halvenna {

namespace sql {
class Connection;
}

// Field names that code uses on every row, looked up once per opening of each table they are used
// with (Table::resolve). Made once, as a static of the code that uses them.
class FieldNames
{
public:
    FieldNames(std::initializer_list<const char*> names);
    explicit FieldNames(QStringList names) : names_(std::move(names)) {}
    const QStringList& names() const { return names_; }

private:
    QStringList names_;
};

// A table component: one table of one database file, with a current row, the four states, events
// and the master-detail link. The pieces live in data/table/: the cursor and its moves (Cursor),
// the current row's values and their storing (RowBuffer), the rows a grid reads (GridPages) and the
// range of a detail table (DetailRange); the engine stands behind sql::Connection (data/sql/).
// This class keeps the states and their rules, the events and the batches.
class Table
{
public:
    Table(QString componentName, QString fileName, QString tableName);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    const QString& objectName() const { return name_; }
    const QString& tableName() const { return tableName_; }
    // The folder the alias stands for; the file is looked for there when the table opens.
    void setDatabaseDir(const QString& dir) { dir_ = dir; }
    QString filePath() const;
    // A libpq connection string or URI: the table lives on that PostgreSQL server instead of in the
    // folder (empty: the folder). Takes effect when the table next opens.
    void setServer(const QString& conninfo) { server_ = conninfo; }
    const QString& server() const { return server_; }
    // Run on the connection before a table on a server opens: its owner's check that the server's
    // table has what the owner relies on (throwing what the user reads). None: no check.
    using ServerCheck = std::function<void(sql::Connection& db, const QString& table, const QString& label)>;
    void setServerCheck(ServerCheck check) { serverCheck_ = std::move(check); }

    // The field whose order the rows follow (then the order of appending); empty: the primary key.
    void setIndexFieldName(const QString& field) { indexField_ = field; }
    // Makes this a detail of master: it shows only the rows whose detailField equals the master's masterField.
    void setMasterSource(DataSource* master, const QString& masterField, const QString& detailField);

    // Events. beforePost runs inside post before the row is stored; newRecord inside append/insert
    // after the link has filled the key. Values set by newRecord do not count as changes.
    std::function<void(Table&)> beforePost;
    std::function<void(Table&)> newRecord;

    // Lifts (true) or restores (false) the restriction to the master's current row, so that a
    // report can walk every row of a detail table. Moves to the first row of the new range.
    void liftMasterLink(bool lifted);
    bool masterLinkLifted() const { return range_.lifted(); }

    // --- state
    void open();
    void close();
    void setActive(bool active) { active ? open() : close(); }
    bool active() const { return db_ != nullptr; }
    TableState state() const { return state_; }
    bool editing() const { return state_ == TableState::Edit || state_ == TableState::Insert; }
    bool modified() const { return modified_; }

    // --- moving
    void first();
    void prior();
    void next();
    void last();
    bool eof();
    bool bof();
    int recordCount();
    // The record count when it is known or cheap to know; for a big table ordered by its row
    // identity, an estimate from the identities' span (exact when the numbers have no gaps).
    // Grids show their first screen with it and ask recordCount() once the screen is up.
    int estimatedRecordCount();
    bool countKnown() const { return cursor_.knownCount() >= 0; }
    bool isEmpty();
    // Finds the first row (within the range for a detail) whose field equals value; stays put if none.
    bool locate(const QString& field, const FieldValue& value, LocateOptions options = {});
    bool locate(int field, const FieldValue& value, LocateOptions options = {});
    // Moves to a row a grid shows, known by its identity and position.
    void gotoRow(qint64 rowid, int position);
    // The position (from 0) of the current row in table order; -1 when there is none.
    int recNo();

    // --- changing
    void append();
    void insert();
    void edit();
    void post();
    void cancel();
    void deleteRecord();
    // Finishes a pending change: input pending in bound controls is written, then posted if
    // anything was written since editing began, otherwise dropped.
    void checkBrowseMode();
    // Asks the bound controls to write their pending input into the row.
    void updateRecord();
    // Deletes every row. Works on the closed table too.
    void emptyTable();

    // --- fields, by name or by position (from fieldIndex or resolve, valid while the table is open;
    // a position that is no field is refused with an error)
    const QList<FieldDef>& fields() const { return shape_.fields(); }
    int fieldIndex(const QString& name) const; // -1 when missing
    // The positions of names, looked up once per opening of this table. Throws for a missing field.
    const std::vector<int>& resolve(const FieldNames& names) const;
    const FieldDef& fieldDef(const QString& name) const;
    const FieldDef& fieldDef(int field) const;
    FieldValue fieldValue(const QString& name);
    FieldValue fieldValue(int field);
    void setFieldValue(const QString& name, const FieldValue& value);
    void setFieldValue(int field, const FieldValue& value);
    // Writes text as a user or a file gives it: converted to the field's kind
    // ("項目 '%s' の値として不正です" when it is no whole number for an integer field).
    void setFieldText(const QString& name, const QByteArray& sjisText);
    void setFieldText(int field, const QByteArray& sjisText);
    // Checks text as setFieldText would store it into a text field, without writing it: cut to the
    // field's width, what is kept must be code page 932 text, else ConversionError
    // "項目 '<field>' の値として不正です". Lets a caller refuse a whole line before writing any of it.
    void checkText(int field, const QByteArray& sjisText) const;
    // Writes the current value of source's field of the same name into this row's field: what a
    // print job does to stage a row. Stored text that surely fits is handed over unconverted.
    void copyField(Table& source, const QString& name);
    // The same by field positions (from fieldIndex), for jobs that copy many rows.
    void copyField(Table& source, int from, int to);

    // The caption a grid shows above field: messages name the field by it (by its name when none).
    void setFieldCaption(const QString& field, const QString& caption);
    QString fieldCaption(const QString& field) const;

    // --- bulk work
    // The engine stores many rows faster in one statement than row by row (a server: one round
    // trip instead of one per row).
    bool storesInBulk() const;
    // Rewrites every row of a table that is no detail: compute gets the values of `reads` and gives
    // those of `writes` (converted and cut as setFieldValue would), stored a page at a time in one
    // transaction, the rows read locked until it ends where the engine locks rows. No event runs:
    // compute is the whole rule. Pending changes are finished first; the current row is read again
    // afterwards, and bound controls hear of a new data set.
    using RowRewrite = std::function<void(const std::vector<FieldValue>& in, std::vector<FieldValue>& out)>;
    void rewriteEveryRow(const FieldNames& reads, const FieldNames& writes, const RowRewrite& compute);
    // value as setFieldValue would store it into field (converted to its kind, cut to its width),
    // without writing it. Throws ConversionError as setFieldValue.
    FieldValue convertedValue(int field, const FieldValue& value) const;
    // Stores rows by their key, fields[0] (a unique field), in one statement where the engine can:
    // a row whose key is stored has `fields` replaced and keeps the others, a new row has null in
    // the others. Values converted as setFieldValue converts them; no key twice. No event runs; the
    // current row is not moved. Inside a batch they commit with it.
    void mergeRows(const std::vector<int>& fields, const std::vector<std::vector<FieldValue>>& rows);

    // --- bound controls
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return disableCount_ > 0; }

    // Lets go of the engine's read lock between user actions: a table standing on a row reads it
    // through an open cursor, which holds a shared lock on the file and would keep another program
    // from committing for as long as a window merely shows the row. The row stays current; the next
    // move reads on with a query of its own. Nothing is done inside a batch. A table on a server
    // also forgets its count, which other PCs change meanwhile.
    void releaseReadLock() noexcept;
    // Another PC changed the table: the current row, the count and the rows a grid shows are read
    // again (the current row stays current, or the first row when it is gone). A row being edited,
    // a batch or suspended controls are not disturbed: the reading waits (readAgainPending) until
    // the table is back at rest, and the row being edited stays as typed until stored or refused.
    // Returns whether it read.
    bool readAgain();
    bool readAgainPending() const { return readAgainPending_; }
    // Leaves the reading for later: the caller keeps the table still (a detail is being walked whole).
    void deferReadAgain() { readAgainPending_ = true; }
    // Not editing, in no batch, its controls not suspended, not walked whole by a report (its master
    // link lifted).
    bool atRest() const { return !editing() && batchDepth_ == 0 && disableCount_ == 0 && !range_.lifted(); }
    // The server's id of the table's connection (0: none, or no server), to tell its own changes
    // from other PCs'.
    qint64 sessionId() const;

    // Groups every store until the matching endBatch into one transaction. What was stored before
    // an error stays stored: endBatch commits. Nests.
    void beginBatch();
    void endBatch();
    // One transaction for the life of the scope. Its commit can fail: that error is thrown from the
    // destructor, unless another error is already on its way out of the scope (that one counts).
    class Batch
    {
    public:
        explicit Batch(Table& t) : t_(t), uncaught_(std::uncaught_exceptions()) { t_.beginBatch(); }
        ~Batch() noexcept(false);
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        Table& t_;
        int uncaught_;
    };

    // The bound controls, and the detail tables following this table, kept still for the life of
    // the scope (bulk work: select-all, an import); resumed however the scope is left. Resuming runs
    // the controls and the details, which can fail; such a failure never leaves the destructor: it is
    // reported (reportUnthrowable), unless another error is already on its way out (that one counts).
    class ControlsSuspended
    {
    public:
        explicit ControlsSuspended(Table& t) : t_(t), uncaught_(std::uncaught_exceptions()) { t_.disableControls(); }
        ~ControlsSuspended() noexcept;
        ControlsSuspended(const ControlsSuspended&) = delete;
        ControlsSuspended& operator=(const ControlsSuspended&) = delete;

    private:
        Table& t_;
        int uncaught_;
    };

    // --- for grids: reading rows by position without moving the current row
    // count rows from position `from` (0-based) in table order.
    QList<RowSnapshot> readRows(int from, int count);
    // The rows of the range as the table orders them, counted from the end: the last `count` rows
    // before position (recordCount - fromEnd).
    QList<RowSnapshot> readRowsFromEnd(int fromEnd, int count);
    // Up to count rows after (backwards: before) the row with identity `rowid`, nearest first, with
    // the texts of `fields` only (positions from resolve(), in that order), for a reader that walks
    // the whole table in steps (a search). Only for a table that is no detail and is ordered by its
    // row identity.
    QList<RowSnapshot> readRowsAfter(qint64 rowid, int count, bool backwards, const std::vector<int>& fields);
    // Where a pending new row stands among the stored rows (the position it is shown at); -1 when none.
    int insertPosition();

    // --- for a reader of every stored row at once (a report)
    // One stored row as such a reader is handed it: each value as the text the table shows (a
    // logical as True/False), decoded once from the engine's bytes; null is empty.
    class StoredRow
    {
    public:
        // The names read, one per value.
        const QStringList& fields() const { return fields_; }
        bool isNull(int column) const { return statement_.type(column) == sql::ValueType::Null; }
        // Appends the value's text to out.
        void appendText(int column, QString& out) const;

    private:
        friend class Table;
        StoredRow(const sql::Statement& statement, const QStringList& fields, const std::vector<FieldKind>& kinds)
            : statement_(statement), fields_(fields), kinds_(kinds)
        {}
        const sql::Statement& statement_;
        const QStringList& fields_;
        const std::vector<FieldKind>& kinds_;
        mutable QStringDecoder decoder_{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
    };
    struct StoredRead
    {
        QStringList fields; // the names read, in the order of the row's values
        QString missing;    // a required name the table lacks: then nothing was read
    };
    // Reads every stored row in the table's order through a statement of its own: all of a
    // detail's rows whatever its master stands on, as stored. The current row, a pending edit, the
    // master link and the bound controls stay as they are and nothing is notified; a closed table is
    // read through a connection of its own and stays closed. Names are resolved once: each of fields
    // must be there, those of optional the table lacks are left out.
    StoredRead readStoredRows(const QStringList& fields, const QStringList& optional,
                              const std::function<void(const StoredRow&)>& row);
    // The current row's display texts (for a pending row a grid shows from the buffer).
    RowSnapshot currentSnapshot();
    qint64 currentRowid() const { return cursor_.rowid(); }
    bool hasCurrentRow() const { return cursor_.hasRow(); }

private:
    friend class DataSource;
    friend class table::DetailRange;

    [[noreturn]] void throwClosed() const;
    void checkActive() const;
    void checkEditing() const;
    std::unique_ptr<sql::Connection> connect(const QString& path) const;

    bool findAndMove(int field, const FieldValue& value, LocateOptions options);
    void ensureRange();
    void refreshRange();
    void forgetRolledBackRows();
    [[noreturn]] void rereadStaleRow(bool deleting);
    void rereadRows();
    void rereadPendingQuietly() noexcept;
    void startNewRow(bool atEnd);
    void wrote(int field);
    void storeRow();
    void notify(DataSource::Event event, const QString& field);
    void beforeMove();
    void afterMove();
    void finishDetailsBeforeChange();

    void attachSource(DataSource* s);
    void detachSource(DataSource* s);

    QString name_;
    QString fileName_;
    QString tableName_;
    QString dir_;
    QString server_;
    ServerCheck serverCheck_;
    QString indexField_;

    std::unique_ptr<sql::Connection> db_;
    table::TableShape shape_;
    table::RowBuffer row_;
    table::DetailRange range_;
    table::Cursor cursor_;
    table::GridPages grid_;
    // Positions of the FieldNames used on this table since it opened (a deque keeps them in place).
    mutable std::deque<std::pair<const FieldNames*, std::vector<int>>> resolved_;

    TableState state_ = TableState::Inactive;
    bool modified_ = false;
    bool inNewRecordEvent_ = false;
    bool readAgainPending_ = false;
    // The fields written since editing began, but by the record rules: what the user typed.
    quint64 typed_ = 0;
    bool inRules_ = false;
    QHash<QString, QString> captions_; // by field name in lower case
    // Where to go back to when a new row is cancelled.
    bool savedHasRow_ = false;
    qint64 savedRowid_ = 0;
    int savedRecNo_ = -1;
    int insertPos_ = -1;

    int batchDepth_ = 0;
    QList<DataSource*> sources_;
    int disableCount_ = 0;
};

} // namespace halvenna

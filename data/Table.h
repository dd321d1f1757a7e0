#pragma once

#include "data/DataSource.h"
#include "data/FieldValue.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace halvenna {

enum class TableState { Inactive, Browse, Edit, Insert };

struct FieldDef
{
    QString name;
    FieldKind kind = FieldKind::Text;
    int width = 0; // code page 932 bytes for text; 0 = no limit
};

struct LocateOptions
{
    bool caseInsensitive = false;
    bool partialKey = false;
};

// One row of a table as a grid shows it: its identity and the display text of each field.
struct RowSnapshot
{
    qint64 rowid = 0;
    QStringList texts;
    QList<bool> nulls;
};

// A table component: one table of one SQLite file, with a current row, the four states, events,
// and the master-detail link. Rows are read through a forward cursor that is only stepped on
// `next`, so walking a table costs one step per row; a row's values are converted only when read.
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
    bool masterLinkLifted() const { return linkLifted_; }

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
    bool countKnown() const { return count_ >= 0; }
    bool isEmpty();
    // Finds the first row (within the range for a detail) whose field equals value; stays put if none.
    bool locate(const QString& field, const FieldValue& value, LocateOptions options = {});
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

    // --- fields
    const QList<FieldDef>& fields() const { return fields_; }
    int fieldIndex(const QString& name) const; // -1 when missing
    const FieldDef& fieldDef(const QString& name) const;
    FieldValue fieldValue(const QString& name);
    void setFieldValue(const QString& name, const FieldValue& value);
    // Writes text as a user or a file gives it: converted to the field's kind
    // ("項目 '%s' の値として不正です" when it is no whole number for an integer field).
    void setFieldText(const QString& name, const QByteArray& sjisText);
    // Writes the current value of source's field of the same name into this row's field: what a
    // print job does to stage a row. Stored text that surely fits is handed over unconverted.
    void copyField(Table& source, const QString& name);
    // The same by field positions (from fieldIndex), for jobs that copy many rows.
    void copyField(Table& source, int from, int to);

    // --- bound controls
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return disableCount_ > 0; }

    // Lets go of the engine's read lock between user actions: a table standing on a row reads it
    // through an open cursor, which holds a shared lock on the file and would keep another program
    // from committing for as long as a window merely shows the row. The row stays current; the next
    // move reads on with a query of its own. Nothing is done inside a batch.
    void releaseReadLock() noexcept;

    // Groups every store until the matching endBatch into one transaction. What was stored before
    // an error stays stored: endBatch commits. Nests.
    void beginBatch();
    void endBatch();
    class Batch
    {
    public:
        explicit Batch(Table& t) : t_(t) { t_.beginBatch(); }
        ~Batch() noexcept(false);
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        Table& t_;
    };

    // --- for grids: reading rows by position without moving the current row
    // count rows from position `from` (0-based) in table order.
    QList<RowSnapshot> readRows(int from, int count);
    // The rows of the range as the table orders them, counted from the end: the last `count` rows
    // before position (recordCount - fromEnd).
    QList<RowSnapshot> readRowsFromEnd(int fromEnd, int count);
    // Where a pending new row stands among the stored rows (the position it is shown at); -1 when none.
    int insertPosition();
    // The current row's display texts (for a pending row a grid shows from the buffer).
    RowSnapshot currentSnapshot();
    qint64 currentRowid() const { return rowid_; }
    bool hasCurrentRow() const { return hasRow_; }

private:
    friend class DataSource;
    class MasterLink;
    struct Cell;
    struct StatementCache;

    [[noreturn]] void throwClosed() const;
    [[noreturn]] void throwEngine(const QString& what, sqlite3* db = nullptr) const;
    void checkActive() const;
    int requireField(const QString& name) const;
    sqlite3_stmt* prepare(const QString& sql);
    sqlite3_stmt* prepareCursor(const QString& sql);
    void exec(const char* sql);

    QString orderBy(bool descending) const;
    QString rangeWhere() const;
    void bindRange(sqlite3_stmt* st, int& index) const;
    void ensureRange();
    void refreshRange();
    void resetCursor();
    void readCurrentFrom(sqlite3_stmt* st);
    bool seekFirst();
    bool seekLast();
    bool seekAfterCurrent(bool backwards);
    void materialize();
    void clearCurrent();
    void setCurrentRowid(qint64 rowid);
    void loadRowById(qint64 rowid);
    FieldValue cellValue(int index);
    RowSnapshot snapshotFrom(sqlite3_stmt* st);
    QList<RowSnapshot> readRowsOrdered(int offset, int count, bool fromEnd);

    void forgetRolledBackRows();
    void startNewRow(bool atEnd);
    void storeRow();
    void notify(int event, const QString& field = {});
    void beforeMove();
    void afterMove();
    void finishDetailsBeforeChange();

    void attachSource(DataSource* s);
    void detachSource(DataSource* s);

    QString name_;
    QString fileName_;
    QString tableName_;
    QString dir_;
    QString indexField_;

    sqlite3* db_ = nullptr;
    QList<FieldDef> fields_;
    QHash<QString, int> fieldsByName_;
    QString columnList_;
    QString insertSql_;
    sqlite3_stmt* insertStmt_ = nullptr;             // reset after each use, so always ready
    QHash<quint64, sqlite3_stmt*> updateStatements_; // by the set of fields they store
    QHash<quint32, QString> locateSql_;              // by field, options and key shape
    QString firstSql_[3];                            // the first row's query, by the range's shape
    quint64 dirty_ = 0;                              // fields written since editing began
    int rowidAlias_ = -1;                            // field that is the row's identity (INTEGER PRIMARY KEY), or -1
    int orderField_ = -1;                            // field the rows are ordered by, or -1 for order of appending

    std::unique_ptr<StatementCache> statements_;
    std::unique_ptr<StatementCache> cursorStatements_; // kept apart: a live cursor must not be reset by a query
    // The forward cursor: live while it stands on the current row.
    sqlite3_stmt* cursor_ = nullptr;
    bool cursorOnCurrent_ = false;

    // The current row.
    bool hasRow_ = false;
    qint64 rowid_ = 0;
    std::vector<Cell> cells_; // empty while the values are read straight from the cursor
    bool eof_ = true;
    bool bof_ = true;
    int recNo_ = -1;
    int count_ = -1; // cached record count of the range, -1 unknown

    TableState state_ = TableState::Inactive;
    bool modified_ = false;
    bool inNewRecordEvent_ = false;
    // Where to go back to when a new row is cancelled.
    bool savedHasRow_ = false;
    qint64 savedRowid_ = 0;
    int savedRecNo_ = -1;
    int insertPos_ = -1;

    // Master-detail link.
    std::unique_ptr<MasterLink> masterLink_;
    QString masterField_;
    QString detailField_;
    bool rangeStale_ = false;
    bool rangeRestricted_ = false;
    bool linkLifted_ = false;
    FieldValue rangeValue_;

    int batchDepth_ = 0;
    QList<DataSource*> sources_;
    int disableCount_ = 0;
};

} // namespace halvenna

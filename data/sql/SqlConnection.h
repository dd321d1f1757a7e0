#pragma once

// What the table layer asks of an SQL engine: one connection to one table's database, its prepared
// statements, its transactions and the words for its failures. A local SQLite file
// (SqliteConnection) or a PostgreSQL server (PostgresConnection) stands behind it; nothing here
// names either.

#include "data/Error.h"
#include "data/FieldValue.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace halvenna::sql {

// What went wrong in the engine, as the user is told of it.
// Unreachable: the server cannot be reached (or was lost); the location names it.
enum class Failure { DuplicateKey, InUse, DiskFull, ReadOnly, Damaged, Unreachable, Other };

// A failure of the engine on one table. The message is the one the user sees; the failure and the
// engine's own words are kept for code that words a message of its own (the schema tool).
class EngineError : public DatabaseError
{
public:
    EngineError(const QString& message, Failure failure, QString detail)
        : DatabaseError(message), failure_(failure), detail_(std::move(detail))
    {}
    Failure failure() const { return failure_; }
    const QString& detail() const { return detail_; }

private:
    Failure failure_;
    QString detail_;
};

// The message for a failure: label names the table component, location the table's file, what the
// operation (for failures without words of their own), detail the engine's words.
QString failureMessage(Failure failure, const QString& label, const QString& location, QStringView what,
                       const QString& detail);

// The kind of a result value. Anything the engine holds that is neither null nor a whole number is
// read as text.
enum class ValueType { Null, Integer, Text };

// A column of a table as the engine declares it.
struct Column
{
    QString name;
    FieldKind kind = FieldKind::Text;
    int width = 0; // code page 932 bytes for text; 0 = no limit
};

struct TableColumns
{
    QList<Column> columns;
    int identity = -1; // the column that is the row's identity itself, or -1
    // The SQL that names a row's identity in this table: a hidden column of the engine's, or the
    // identity column itself.
    QString identitySql;
    // The rows carry a version the engine raises at every change, so that a store can tell that
    // another PC changed or deleted the row since it was read (a shared table on a server).
    bool versioned = false;
};

// A prepared statement, owned by its connection and kept until the connection closes. Parameters
// count from 1, result columns from 0. Text is UTF-8 both ways.
class Statement
{
public:
    virtual ~Statement() = default;

    virtual void bindNull(int index) = 0;
    virtual void bindInteger(int index, qint64 value) = 0;
    // The engine keeps a copy of the bytes.
    virtual void bindText(int index, QByteArrayView utf8) = 0;
    // The caller keeps the bytes unchanged until the statement is reset: nothing is copied.
    virtual void bindTextInPlace(int index, QByteArrayView utf8) = 0;

    // Runs to the next result row: true when there is one, false when the statement is done. A
    // failure resets the statement and throws EngineError; what names the operation in the message.
    virtual bool step(QStringView what) = 0;
    // Ends the run, letting go of whatever the engine holds for it (read locks included).
    virtual void reset() noexcept = 0;

    // The current row's values; a text view stays valid until the next step or reset.
    virtual ValueType type(int column) const = 0;
    virtual qint64 integer(int column) const = 0;
    virtual QByteArrayView text(int column) const = 0;
};

// One use of a prepared statement: whatever way the scope is left, the statement is reset, so that
// no statement keeps a read lock by accident. keep() hands a running statement on (a cursor).
class Query
{
public:
    explicit Query(Statement& statement) noexcept : statement_(&statement) {}
    ~Query()
    {
        if (statement_)
            statement_->reset();
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Statement* operator->() const { return statement_; }
    Statement& operator*() const { return *statement_; }
    Statement* keep() noexcept { return std::exchange(statement_, nullptr); }

private:
    Statement* statement_;
};

// The connection to the database of one table: owns its statements and closes when it goes.
class Connection
{
public:
    // Statements that stay running between calls (the cursor) are kept apart from those used and
    // reset at once, so that a query of the same text never resets a running cursor.
    enum class Use { Query, Cursor };

    Connection(QString label, QString location) : label_(std::move(label)), location_(std::move(location)) {}
    virtual ~Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The table component's name and where its data lives, for messages.
    const QString& label() const { return label_; }
    const QString& location() const { return location_; }

    // The statement for sql, prepared once and kept: the same text gives the same statement, reset
    // and with its parameters cleared. Throws EngineError.
    virtual Statement& prepare(const QString& sql, Use use = Use::Query) = 0;
    // Runs sql, one or more statements that give no rows. Throws EngineError.
    virtual void execute(const QString& sql, QStringView what) = 0;

    virtual void begin(QStringView what) = 0;
    // Ends the transaction, keeping its changes. When the engine refuses, the transaction is rolled
    // back and the refusal thrown; beforeRollback runs first (the last chance to read what running
    // statements show) and what it throws is dropped: the refusal is the error to report.
    virtual void commit(QStringView what, const std::function<void()>& beforeRollback = {}) = 0;
    virtual void rollback() noexcept = 0;
    // False also after the engine ended a transaction on its own (after an I/O error or a full disk).
    virtual bool inTransaction() const = 0;

    // The columns of a table, in their order. Throws EngineError.
    virtual TableColumns columns(const QString& table) = 0;
    // The identity of the row the last insert on this connection made, for an engine whose inserts
    // give back no row (returning() is empty).
    virtual qint64 lastInsertId() const = 0;
    // The server's id of this connection's session; 0 for an engine that has no server.
    virtual qint64 sessionId() const { return 0; }

    // The engine's dialect: a quoted identifier; left = right ignoring the case of ASCII letters.
    virtual QString quoted(const QString& identifier) const;
    virtual QString equalIgnoringCase(const QString& left, const QString& right) const = 0;
    // What an INSERT, UPDATE or DELETE appends to give back the row's values it names (empty: the
    // engine cannot; the insert's identity is lastInsertId()).
    virtual QString returning(const QString& columns) const
    {
        Q_UNUSED(columns);
        return {};
    }
    // A cursor that walks a table is read in pages of this many rows at most, each page a query of
    // its own continuing after the last row of the one before; 0: the engine reads rows as they
    // are stepped (a local file), so a cursor is one query however far it walks.
    virtual int cursorPage() const { return 0; }
    // A failed statement inside a transaction ends the transaction (the engine undoes it whole).
    virtual bool failureEndsTransaction() const { return false; }
    // What a SELECT appends to lock the rows it reads until the transaction ends (empty: the engine
    // locks the whole file anyway).
    virtual QString lockingRead() const { return {}; }
    // Stores many rows at once, each row's values (as text: UTF-8, a whole number, 1/0 for a
    // logical; nullopt for null) into columns (quoted) of the row whose identity is in ids; kinds
    // are the columns' kinds. The engine may send them all in one statement. Throws EngineError.
    virtual void updateRows(const QString& table, const QString& identity, const QStringList& columns,
                            const QList<FieldKind>& kinds, const std::vector<qint64>& ids,
                            const std::vector<std::vector<std::optional<QByteArray>>>& rows, QStringView what);
    // Stores many rows by their key (columns[0], unique): a row whose key is there has the other
    // columns replaced (columns not named are kept), a new one is inserted. Values as updateRows;
    // no key twice. The rows are handed over: an engine may keep them until they are stored. Throws
    // EngineError.
    virtual void mergeRows(const QString& table, const QStringList& columns, const QList<FieldKind>& kinds,
                           std::vector<std::vector<std::optional<QByteArray>>> rows, QStringView what);

private:
    QString label_;
    QString location_;
};

} // namespace halvenna::sql

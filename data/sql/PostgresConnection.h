#pragma once

#include "data/sql/SqlConnection.h"

#include <memory>
#include <optional>
#include <unordered_map>

struct pg_conn;

namespace halvenna::sql {

class PostgresStatement;

// A connection to a PostgreSQL server through libpq, for the tables several PCs share. The table
// layer's SQL (with "?" for parameters) is turned into the server's ("$1"...) once, when prepared.
//
// A lost connection is an EngineError (Failure::Unreachable) naming the server, never a hang: the
// connection, each statement and each wait for a row lock have timeouts. The next use after a loss
// connects again, so the program works again once the server is back; a transaction the loss cut
// short is gone whole (failureEndsTransaction).
class PostgresConnection final : public Connection
{
public:
    // Seconds to wait for the server to answer a connection; milliseconds a statement may run and a
    // row lock may be waited for before the statement fails ("in use").
    static constexpr int kConnectTimeoutS = 10;
    static constexpr int kStatementTimeoutMs = 120000;
    static constexpr int kLockTimeoutMs = 3000;

    // Connects with conninfo, a libpq connection string or URI (passwords come from libpq's own
    // places: ~/.pgpass, PGPASSWORD). Throws EngineError "<label>: サーバー <server> に接続できません
    // (<libpq's words>)".
    static std::unique_ptr<PostgresConnection> open(const QString& conninfo, const QString& label);
    ~PostgresConnection() override;

    // Where the server is, as messages and the About box name it: "host:port/database" (a socket
    // folder stands for the host). Reads conninfo only; never connects. Empty for a string libpq
    // cannot read.
    static QString describe(const QString& conninfo);
    // Why libpq cannot read conninfo: "接続文字列を読めません", with the option it refused when it
    // names one; empty when it reads it. Never quotes the string, which may hold a password.
    static QString unreadable(const QString& conninfo);
    // The options conninfo sets, as libpq reads them (none for a string it cannot read).
    static QList<QPair<QString, QString>> options(const QString& conninfo);
    // Whether conninfo itself carries a password (password=..., or user:secret@ in a URI).
    static bool holdsPassword(const QString& conninfo);
    // The server's id of this connection's session (its backend process), to tell its own
    // notifications from other PCs'.
    qint64 sessionId() const override;
    // Asks the server to tell this connection of every notification on channel.
    void listen(const QString& channel);
    // Reads what the server sent meanwhile without waiting: the notifications that came, as
    // (payload, session of the sender). False when the connection is lost.
    bool takeNotifications(QList<QPair<QString, qint64>>& notifications);
    // The connection's socket, for waiting on what the server sends; -1 when there is none.
    int socket() const;

    Statement& prepare(const QString& sql, Use use = Use::Query) override;
    void execute(const QString& sql, QStringView what) override;

    void begin(QStringView what) override;
    void commit(QStringView what, const std::function<void()>& beforeRollback = {}) override;
    void rollback() noexcept override;
    bool inTransaction() const override;

    TableColumns columns(const QString& table) override;
    qint64 lastInsertId() const override { return 0; }

    QString equalIgnoringCase(const QString& left, const QString& right) const override
    {
        return QStringLiteral("lower(%1) = lower(%2)").arg(left, right);
    }
    QString returning(const QString& columns) const override { return QStringLiteral(" RETURNING ") + columns; }
    int cursorPage() const override { return kCursorPage; }
    bool failureEndsTransaction() const override { return true; }
    QString lockingRead() const override { return QStringLiteral(" FOR UPDATE"); }
    // All the rows in one statement: each column's values sent as one array.
    void updateRows(const QString& table, const QString& identity, const QStringList& columns,
                    const QList<FieldKind>& kinds, const std::vector<qint64>& ids,
                    const std::vector<std::vector<std::optional<QByteArray>>>& rows, QStringView what) override;
    // Inside a transaction the pages are copied into the table (COPY, the server's fastest way in)
    // under a savepoint, one COPY streaming page after page while the caller reads the next; should
    // a key be there already (or come twice), what that COPY held is undone to the savepoint and
    // merged by one INSERT ... ON CONFLICT a page, as every later page of the transaction. Outside a
    // transaction, or after such a key, the statement alone. Neither is waited for.
    void mergeRows(const QString& table, const QStringList& columns, const QList<FieldKind>& kinds,
                   std::vector<std::vector<std::optional<QByteArray>>> rows, QStringView what) override;

    // The server's words for a failure, worded for this table; undoes a transaction the failure
    // left aborted.
    EngineError failure(void* result, QStringView what);
    // Connects again after a loss. Throws EngineError (Unreachable).
    void ensureConnected();
    // Waits for the answer to a statement sent without waiting (mergeRows) and throws its failure;
    // everything that talks to the server calls it first.
    void collect();
    // Bumped at every new connection: statements prepared on an earlier one are prepared again.
    quint64 generation() const { return generation_; }
    pg_conn* handle() const { return conn_; }

    // The hidden columns of a shared table: its rows' identity (tables without a key of their own)
    // and version.
    static QString rowIdColumn() { return QStringLiteral("row_id"); }
    static QString versionColumn() { return QStringLiteral("version"); }

private:
    static constexpr int kCursorPage = 2000;

    PostgresConnection(pg_conn* conn, QString conninfo, QString label, QString location);
    [[noreturn]] void throwUnreachable(const QString& detail);
    // "CAST(? AS <type>[])": a parameter holding a column's values as one array.
    static QString arrayOf(FieldKind kind);
    void run(const char* sql, QStringView what);
    // A page of mergeRows, and a COPY of several: what is kept to merge them instead.
    struct Page
    {
        QString table;
        QStringList columns;
        QList<FieldKind> kinds;
        std::vector<std::vector<std::optional<QByteArray>>> rows;
        QString what;
    };
    struct Copy
    {
        std::vector<Page> pages;
        size_t rows = 0;
    };
    // Rows one COPY takes at most before it is ended and another begun: what is kept to merge
    // instead stays small.
    static constexpr size_t kCopyRows = 20000;
    void sendMerge(const Page& page);
    void startCopy(Page page);
    void addToCopy(Page page);

    pg_conn* conn_;
    QString conninfo_;
    quint64 generation_ = 1;
    bool awaiting_ = false; // a statement was sent and its answer not yet collected
    QString awaitingWhat_;
    // The COPY under way (its data not yet ended), kept to be merged instead should a key of it be
    // there.
    std::optional<Copy> copying_;
    // Counts transactions begun; which one holds the page savepoint, and which one merges by
    // statement since a copy met a key already there.
    quint64 transaction_ = 0;
    quint64 savepointIn_ = 0;
    quint64 mergingIn_ = 0;
    quint64 nextName_ = 0;
    // By their text; [0] used and reset at once, [1] cursors (Connection::Use).
    std::unordered_map<QString, std::unique_ptr<PostgresStatement>> statements_[2];

    friend class PostgresStatement;
};

// The table layer's "?" parameters as the server's "$1", "$2"... (quoted text left alone); the
// number of parameters in count.
QString numberedParameters(const QString& sql, int& count);

} // namespace halvenna::sql

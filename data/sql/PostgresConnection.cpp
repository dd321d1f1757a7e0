#include "data/sql/PostgresConnection.h"

#include <libpq-fe.h>

#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace halvenna::sql {

namespace {

// Type identities of the server's built-in types (pg_type.oid; fixed since the types exist).
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;

enum class Kind : quint8 { Text, Integer, Boolean };

Kind kindOf(Oid type)
{
    switch (type) {
    case kInt2:
    case kInt4:
    case kInt8:
        return Kind::Integer;
    case kBool:
        return Kind::Boolean;
    default:
        return Kind::Text;
    }
}

Failure failureOf(const char* state)
{
    if (!state)
        return Failure::Other;
    const QByteArrayView s(state);
    if (s == "23505")
        return Failure::DuplicateKey;
    // A row lock another PC holds, a deadlock, a serialization conflict.
    if (s == "55P03" || s == "40P01" || s == "40001")
        return Failure::InUse;
    if (s == "53100")
        return Failure::DiskFull;
    if (s == "25006")
        return Failure::ReadOnly;
    if (s == "XX001" || s == "XX002")
        return Failure::Damaged;
    // Connection failures, and the server shutting down or starting up.
    if (s.startsWith("08") || s == "57P01" || s == "57P02" || s == "57P03")
        return Failure::Unreachable;
    return Failure::Other;
}

QString wordsOf(const char* text)
{
    return QString::fromUtf8(text).trimmed();
}

// The libpq options every connection gets before the user's own string (which may override them)
// and after it (which may not: the encoding of every text, the timeouts).
struct ConnectOptions
{
    std::vector<QByteArray> keys;
    std::vector<QByteArray> values;

    explicit ConnectOptions(const QString& conninfo)
    {
        add("connect_timeout", QByteArray::number(PostgresConnection::kConnectTimeoutS));
        // A server that went away without closing the connection (a cable pulled, a PC switched
        // off) is noticed within seconds instead of when the system gives up after many minutes.
        add("keepalives", "1");
        add("keepalives_idle", "10");
        add("keepalives_interval", "5");
        add("keepalives_count", "3");
        add("tcp_user_timeout", "20000");
        add("application_name", "halvenna");
        add("dbname", conninfo.toUtf8());
        add("client_encoding", "UTF8");
        add("options", QByteArray("-c statement_timeout=") +
                           QByteArray::number(PostgresConnection::kStatementTimeoutMs) +
                           " -c lock_timeout=" + QByteArray::number(PostgresConnection::kLockTimeoutMs));
    }
    void add(const char* key, const QByteArray& value)
    {
        keys.emplace_back(key);
        values.push_back(value);
    }
    std::vector<const char*> pointers(const std::vector<QByteArray>& v) const
    {
        std::vector<const char*> p;
        for (const QByteArray& b : v)
            p.push_back(b.constData());
        p.push_back(nullptr);
        return p;
    }
};

} // namespace

QString numberedParameters(const QString& sql, int& count)
{
    QString out;
    out.reserve(sql.size() + 16);
    count = 0;
    QChar quote;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (!quote.isNull()) {
            out += c;
            if (c == quote)
                quote = QChar(); // a doubled quote closes and opens again: the same
            continue;
        }
        if (c == u'\'' || c == u'"') {
            quote = c;
            out += c;
            continue;
        }
        if (c != u'?') {
            out += c;
            continue;
        }
        // "?NNN" names its parameter; "?" takes the next one.
        qsizetype j = i + 1;
        while (j < sql.size() && sql.at(j).isDigit())
            ++j;
        const int number = j > i + 1 ? sql.mid(i + 1, j - i - 1).toInt() : count + 1;
        count = std::max(count, number);
        out += u'$' + QString::number(number);
        i = j - 1;
    }
    return out;
}

class PostgresStatement final : public Statement
{
public:
    PostgresStatement(PostgresConnection& owner, QByteArray name, QByteArray sql, int parameters)
        : owner_(owner), name_(std::move(name)), sql_(std::move(sql)),
          isQuery_(sql_.trimmed().left(6).toUpper() == "SELECT"), values_(size_t(parameters)),
          nulls_(size_t(parameters), true)
    {}
    ~PostgresStatement() override { reset(); }
    PostgresStatement(const PostgresStatement&) = delete;
    PostgresStatement& operator=(const PostgresStatement&) = delete;

    void bindNull(int index) override
    {
        slot(index) = QByteArray();
        nulls_[size_t(index - 1)] = true;
    }
    void bindInteger(int index, qint64 value) override { set(index, QByteArray::number(value)); }
    void bindText(int index, QByteArrayView utf8) override { set(index, utf8.toByteArray()); }
    void bindTextInPlace(int index, QByteArrayView utf8) override { set(index, utf8.toByteArray()); }

    bool step(QStringView what) override
    {
        if (!result_)
            run(what);
        if (row_ + 1 < rows_) {
            ++row_;
            return true;
        }
        row_ = rows_;
        return false;
    }
    void reset() noexcept override
    {
        if (result_)
            PQclear(result_);
        result_ = nullptr;
        rows_ = 0;
        row_ = -1;
    }

    ValueType type(int column) const override
    {
        if (PQgetisnull(result_, row_, column))
            return ValueType::Null;
        return kinds_[size_t(column)] == Kind::Text ? ValueType::Text : ValueType::Integer;
    }
    qint64 integer(int column) const override
    {
        const char* v = PQgetvalue(result_, row_, column);
        if (kinds_[size_t(column)] == Kind::Boolean)
            return v[0] == 't' ? 1 : 0;
        return std::strtoll(v, nullptr, 10);
    }
    QByteArrayView text(int column) const override
    {
        return QByteArrayView(PQgetvalue(result_, row_, column), PQgetlength(result_, row_, column));
    }

    void clear()
    {
        reset();
        for (size_t i = 0; i < values_.size(); ++i) {
            values_[i] = QByteArray();
            nulls_[i] = true;
        }
    }

private:
    QByteArray& slot(int index)
    {
        if (index < 1 || index > int(values_.size()))
            throw EngineError(failureMessage(Failure::Other, owner_.label(), owner_.location(), u"値を設定できません",
                                             QStringLiteral("parameter %1").arg(index)),
                              Failure::Other, QString());
        return values_[size_t(index - 1)];
    }
    void set(int index, QByteArray value)
    {
        slot(index) = std::move(value);
        nulls_[size_t(index - 1)] = false;
    }

    void run(QStringView what)
    {
        const bool inTransaction = owner_.inTransaction();
        try {
            runOnce(what);
        } catch (const EngineError& e) {
            // A query outside a transaction changes nothing: after a lost connection (the server
            // restarted overnight) it is simply asked again on a new one.
            if (e.failure() != Failure::Unreachable || inTransaction || !isQuery_)
                throw;
            runOnce(what);
        }
    }

public:
    // Sends the statement without waiting for its answer, which the connection collects before
    // anything else it does (PostgresConnection::collect); the caller goes on meanwhile.
    void send(QStringView what)
    {
        pg_conn* conn = ready(what);
        std::vector<const char*> values;
        std::vector<int> lengths;
        parameters(values, lengths);
        if (!PQsendQueryPrepared(conn, name_.constData(), int(values.size()), values.data(), lengths.data(), nullptr,
                                 0))
            throw owner_.failure(nullptr, what);
        owner_.awaiting_ = true;
        owner_.awaitingWhat_ = what.toString();
    }

private:
    // The connection, with what was sent before answered and this statement prepared on it.
    pg_conn* ready(QStringView what)
    {
        owner_.collect();
        owner_.ensureConnected();
        pg_conn* conn = owner_.conn_;
        if (preparedIn_ != owner_.generation()) {
            PGresult* prepared = PQprepare(conn, name_.constData(), sql_.constData(), int(values_.size()), nullptr);
            if (PQresultStatus(prepared) != PGRES_COMMAND_OK)
                throw owner_.failure(prepared, what);
            PQclear(prepared);
            preparedIn_ = owner_.generation();
        }
        return conn;
    }

    void parameters(std::vector<const char*>& values, std::vector<int>& lengths) const
    {
        values.resize(values_.size());
        lengths.resize(values_.size());
        for (size_t i = 0; i < values_.size(); ++i) {
            values[i] = nulls_[i] ? nullptr : values_[i].constData();
            lengths[i] = int(values_[i].size());
        }
    }

    void runOnce(QStringView what)
    {
        pg_conn* conn = ready(what);
        std::vector<const char*> values;
        std::vector<int> lengths;
        parameters(values, lengths);
        PGresult* r =
            PQexecPrepared(conn, name_.constData(), int(values.size()), values.data(), lengths.data(), nullptr, 0);
        const ExecStatusType status = PQresultStatus(r);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            throw owner_.failure(r, what);
        result_ = r;
        rows_ = PQntuples(r);
        row_ = -1;
        kinds_.resize(size_t(PQnfields(r)));
        for (int c = 0; c < PQnfields(r); ++c)
            kinds_[size_t(c)] = kindOf(PQftype(r, c));
    }

    PostgresConnection& owner_;
    QByteArray name_;
    QByteArray sql_;
    bool isQuery_;
    quint64 preparedIn_ = 0;
    std::vector<QByteArray> values_;
    std::vector<bool> nulls_;
    PGresult* result_ = nullptr;
    int rows_ = 0;
    int row_ = -1;
    std::vector<Kind> kinds_;
};

// ---------------------------------------------------------------- the connection

QString PostgresConnection::describe(const QString& conninfo)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (error)
        PQfreemem(error);
    if (!options)
        return {};
    QString host;
    QString port;
    QString db;
    QString user;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QByteArrayView key(o->keyword);
        if (key == "host" || (key == "hostaddr" && host.isEmpty()))
            host = QString::fromUtf8(o->val);
        else if (key == "port")
            port = QString::fromUtf8(o->val);
        else if (key == "dbname")
            db = QString::fromUtf8(o->val);
        else if (key == "user")
            user = QString::fromUtf8(o->val);
    }
    PQconninfoFree(options);
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    QString where = host;
    if (!port.isEmpty())
        where += u':' + port;
    where += u'/' + (db.isEmpty() ? (user.isEmpty() ? QString() : user) : db);
    return where;
}

QString PostgresConnection::unreadable(const QString& conninfo)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    const QString words = error ? QString::fromUtf8(error).trimmed() : QString();
    if (error)
        PQfreemem(error);
    if (options) {
        PQconninfoFree(options);
        return {};
    }
    // libpq's words quote the text it stumbled on, which may be a password: only an option's own
    // name is passed on.
    static const QRegularExpression option(
        QStringLiteral(R"re(^invalid (?:connection option|URI query parameter:) "([A-Za-z0-9_]{1,64})"$)re"));
    const QRegularExpressionMatch m = option.match(words);
    if (m.hasMatch())
        return QStringLiteral("接続文字列を読めません (libpq が知らないオプション %1)").arg(m.captured(1));
    return QStringLiteral("接続文字列を読めません");
}

QList<QPair<QString, QString>> PostgresConnection::options(const QString& conninfo)
{
    QList<QPair<QString, QString>> set;
    if (conninfo.trimmed().isEmpty())
        return set;
    PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), nullptr);
    if (!options)
        return set;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val)
            set.append({QString::fromUtf8(o->keyword), QString::fromUtf8(o->val)});
    PQconninfoFree(options);
    return set;
}

bool PostgresConnection::holdsPassword(const QString& conninfo)
{
    PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), nullptr);
    if (!options)
        return false;
    bool found = false;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && std::strcmp(o->keyword, "password") == 0)
            found = true;
    PQconninfoFree(options);
    return found;
}

std::unique_ptr<PostgresConnection> PostgresConnection::open(const QString& conninfo, const QString& label)
{
    const QString where = describe(conninfo);
    if (where.isEmpty())
        throw EngineError(QStringLiteral("%1: %2").arg(label, unreadable(conninfo)), Failure::Other, QString());
    const ConnectOptions options(conninfo);
    const std::vector<const char*> keys = options.pointers(options.keys);
    const std::vector<const char*> values = options.pointers(options.values);
    pg_conn* conn = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!conn)
        throw EngineError(failureMessage(Failure::Unreachable, label, where, {}, QStringLiteral("out of memory")),
                          Failure::Unreachable, QString());
    std::unique_ptr<PostgresConnection> c(new PostgresConnection(conn, conninfo, label, where));
    if (PQstatus(conn) != CONNECTION_OK)
        c->throwUnreachable(wordsOf(PQerrorMessage(conn)));
    return c;
}

PostgresConnection::PostgresConnection(pg_conn* conn, QString conninfo, QString label, QString location)
    : Connection(std::move(label), std::move(location)), conn_(conn), conninfo_(std::move(conninfo))
{}

PostgresConnection::~PostgresConnection()
{
    for (auto& cache : statements_)
        cache.clear();
    PQfinish(conn_);
}

void PostgresConnection::throwUnreachable(const QString& detail)
{
    throw EngineError(failureMessage(Failure::Unreachable, label(), location(), {}, detail), Failure::Unreachable,
                      detail);
}

qint64 PostgresConnection::sessionId() const
{
    return PQstatus(conn_) == CONNECTION_OK ? PQbackendPID(conn_) : 0;
}

void PostgresConnection::listen(const QString& channel)
{
    execute(QStringLiteral("LISTEN ") + quoted(channel), u"変更の知らせを受けられません");
}

int PostgresConnection::socket() const
{
    return PQsocket(conn_);
}

bool PostgresConnection::takeNotifications(QList<QPair<QString, qint64>>& notifications)
{
    if (!PQconsumeInput(conn_) || PQstatus(conn_) != CONNECTION_OK)
        return false;
    while (PGnotify* n = PQnotifies(conn_)) {
        notifications.append({QString::fromUtf8(n->extra), qint64(n->be_pid)});
        PQfreemem(n);
    }
    return true;
}

void PostgresConnection::collect()
{
    if (!awaiting_)
        return;
    awaiting_ = false;
    std::optional<Copy> copied = std::exchange(copying_, std::nullopt);
    PGresult* failed = nullptr;
    if (copied && PQputCopyEnd(conn_, nullptr) != 1)
        throw failure(nullptr, awaitingWhat_);
    while (PGresult* r = PQgetResult(conn_)) {
        const ExecStatusType status = PQresultStatus(r);
        if (!failed && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            failed = r;
        else
            PQclear(r);
    }
    if (copied && failed && PQstatus(conn_) == CONNECTION_OK &&
        failureOf(PQresultErrorField(failed, PG_DIAG_SQLSTATE)) == Failure::DuplicateKey) {
        // A key the COPY held is there already (or came twice): nothing of the COPY stays, and its
        // pages are merged instead, in their order, each waited for here, as is the rest of this
        // transaction.
        PQclear(failed);
        run("ROLLBACK TO SAVEPOINT halvenna_page", copied->pages.front().what);
        mergingIn_ = transaction_;
        for (const Page& page : copied->pages) {
            sendMerge(page);
            collect();
        }
        return;
    }
    if (failed || PQstatus(conn_) != CONNECTION_OK)
        throw failure(failed, awaitingWhat_);
}

void PostgresConnection::ensureConnected()
{
    if (PQstatus(conn_) == CONNECTION_OK)
        return;
    // The statements prepared on the lost connection went with it.
    PQreset(conn_);
    ++generation_;
    if (PQstatus(conn_) != CONNECTION_OK)
        throwUnreachable(wordsOf(PQerrorMessage(conn_)));
}

EngineError PostgresConnection::failure(void* result, QStringView what)
{
    auto* r = static_cast<PGresult*>(result);
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    Failure kind = failureOf(state);
    QString detail = wordsOf(r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr);
    if (const char* more = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL) : nullptr)
        detail += u' ' + wordsOf(more);
    if (detail.isEmpty())
        detail = wordsOf(PQerrorMessage(conn_));
    if (PQstatus(conn_) != CONNECTION_OK)
        kind = Failure::Unreachable;
    if (r)
        PQclear(r);
    // The server refuses everything after a failure inside a transaction until it is undone: it
    // is undone here, and the table layer told so by inTransaction().
    if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_INERROR)
        PQclear(PQexec(conn_, "ROLLBACK"));
    ++transaction_;
    return EngineError(failureMessage(kind, label(), location(), what, detail), kind, detail);
}

Statement& PostgresConnection::prepare(const QString& sql, Use use)
{
    auto& cache = statements_[use == Use::Cursor ? 1 : 0];
    if (const auto it = cache.find(sql); it != cache.end()) {
        it->second->clear();
        return *it->second;
    }
    int parameters = 0;
    const QString numbered = numberedParameters(sql, parameters);
    // Prepared on the server when first run, so that preparing never waits for it.
    auto statement = std::make_unique<PostgresStatement>(*this, "h" + QByteArray::number(++nextName_),
                                                         numbered.toUtf8(), parameters);
    Statement& result = *statement;
    cache.emplace(sql, std::move(statement));
    return result;
}

void PostgresConnection::run(const char* sql, QStringView what)
{
    collect();
    ensureConnected();
    PGresult* r = PQexec(conn_, sql);
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw failure(r, what);
    PQclear(r);
}

void PostgresConnection::execute(const QString& sql, QStringView what)
{
    run(sql.toUtf8().constData(), what);
}

void PostgresConnection::begin(QStringView what)
{
    run("BEGIN", what);
    ++transaction_;
}

void PostgresConnection::commit(QStringView what, const std::function<void()>& beforeRollback)
{
    std::optional<EngineError> refusal;
    try {
        // A statement sent without waiting is part of the transaction: its failure refuses it.
        collect();
    } catch (const EngineError& e) {
        refusal = e;
    }
    if (!refusal) {
        PGresult* r = PQexec(conn_, "COMMIT");
        const ExecStatusType status = PQresultStatus(r);
        ++transaction_;
        if (status == PGRES_COMMAND_OK && std::strcmp(PQcmdStatus(r), "COMMIT") == 0) {
            PQclear(r);
            return;
        }
        if (status == PGRES_COMMAND_OK) {
            // The server ended a transaction that had failed: nothing of it was kept.
            PQclear(r);
            refusal = EngineError(
                failureMessage(Failure::Other, label(), location(), what, QStringLiteral("transaction rolled back")),
                Failure::Other, QString());
        } else {
            refusal = failure(r, what);
        }
    }
    if (beforeRollback) {
        try {
            beforeRollback();
        } catch (...) {
            // The refused commit is the error to report.
        }
    }
    rollback();
    throw *refusal;
}

void PostgresConnection::rollback() noexcept
{
    // A COPY under way is cut short and undone with the rest: no need to merge it instead.
    if (std::exchange(copying_, std::nullopt))
        PQputCopyEnd(conn_, "rolled back");
    ++transaction_;
    try {
        collect();
    } catch (...) {
        // Undone with the transaction anyway.
    }
    if (inTransaction())
        PQclear(PQexec(conn_, "ROLLBACK"));
}

bool PostgresConnection::inTransaction() const
{
    if (PQstatus(conn_) != CONNECTION_OK)
        return false;
    const PGTransactionStatusType s = PQtransactionStatus(conn_);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

namespace {

// An array literal of the server's: {"a","b",NULL}, each text quoted with its quotes and backslashes
// escaped.
QByteArray arrayLiteral(const std::vector<std::vector<std::optional<QByteArray>>>& rows, size_t column)
{
    QByteArray out("{");
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r > 0)
            out += ',';
        const std::optional<QByteArray>& v = rows[r][column];
        if (!v) {
            out += "NULL";
            continue;
        }
        out += '"';
        for (const char c : *v) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '"';
    }
    return out + '}';
}

} // namespace

void PostgresConnection::updateRows(const QString& table, const QString& identity, const QStringList& columns,
                                    const QList<FieldKind>& kinds, const std::vector<qint64>& ids,
                                    const std::vector<std::vector<std::optional<QByteArray>>>& rows, QStringView what)
{
    if (ids.empty())
        return;
    QStringList arrays{QStringLiteral("CAST(? AS bigint[])")};
    QStringList names{QStringLiteral("row_identity")};
    QStringList sets;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        const FieldKind kind = kinds.at(c);
        arrays << arrayOf(kind);
        names << QStringLiteral("v%1").arg(c);
        sets << QStringLiteral("%1 = r.v%2").arg(columns.at(c)).arg(c);
    }
    Query q(prepare(QStringLiteral("UPDATE %1 SET %2 FROM unnest(%3) AS r(%4) WHERE %1.%5 = r.row_identity")
                        .arg(table, sets.join(QStringLiteral(", ")), arrays.join(QStringLiteral(", ")),
                             names.join(QStringLiteral(", ")), identity)));
    QByteArray idList("{");
    for (size_t r = 0; r < ids.size(); ++r)
        idList += (r > 0 ? "," : "") + QByteArray::number(ids[r]);
    q->bindText(1, idList + '}');
    for (qsizetype c = 0; c < columns.size(); ++c)
        q->bindText(int(c) + 2, arrayLiteral(rows, size_t(c)));
    q->step(what);
}

QString PostgresConnection::arrayOf(FieldKind kind)
{
    return QStringLiteral("CAST(? AS %1[])")
        .arg(QLatin1String(kind == FieldKind::Integer   ? "integer"
                           : kind == FieldKind::Logical ? "boolean"
                                                        : "text"));
}

void PostgresConnection::mergeRows(const QString& table, const QStringList& columns, const QList<FieldKind>& kinds,
                                   std::vector<std::vector<std::optional<QByteArray>>> rows, QStringView what)
{
    if (rows.empty())
        return;
    const size_t count = rows.size();
    Page page{table, columns, kinds, std::move(rows), what.toString()};
    if (copying_ && copying_->rows + count <= kCopyRows && copying_->pages.front().table == table &&
        copying_->pages.front().columns == columns) {
        addToCopy(std::move(page));
        return;
    }
    collect();
    ensureConnected();
    // A savepoint needs a transaction; after a key met in this one, the rest is likely there too.
    if (inTransaction() && mergingIn_ != transaction_)
        startCopy(std::move(page));
    else
        sendMerge(page);
}

void PostgresConnection::sendMerge(const Page& page)
{
    QStringList arrays;
    QStringList sets;
    for (qsizetype c = 0; c < page.columns.size(); ++c) {
        arrays << arrayOf(page.kinds.at(c));
        if (c > 0)
            sets << QStringLiteral("%1 = EXCLUDED.%1").arg(page.columns.at(c));
    }
    auto& st = static_cast<PostgresStatement&>(
        prepare(QStringLiteral("INSERT INTO %1 (%2) SELECT * FROM unnest(%3) ON CONFLICT (%4) DO UPDATE SET %5")
                    .arg(page.table, page.columns.join(QStringLiteral(", ")), arrays.join(QStringLiteral(", ")),
                         page.columns.at(0), sets.join(QStringLiteral(", ")))));
    for (qsizetype c = 0; c < page.columns.size(); ++c)
        st.bindText(int(c) + 1, arrayLiteral(page.rows, size_t(c)));
    // Not waited for: the caller reads the next page while the server stores this one. A failure
    // is thrown by whatever next uses the connection, at the latest the commit.
    st.send(page.what);
}

namespace {

// The rows in COPY's text format: a tab between values, a line feed after each row, \N for null,
// the text's own backslashes, tabs and line ends escaped.
QByteArray copyText(const std::vector<std::vector<std::optional<QByteArray>>>& rows)
{
    QByteArray out;
    qsizetype size = 0;
    for (const auto& row : rows)
        for (const std::optional<QByteArray>& v : row)
            size += (v ? v->size() : 2) + 1;
    out.reserve(size + size / 16);
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0)
                out += '\t';
            const std::optional<QByteArray>& v = row[c];
            if (!v) {
                out += "\\N";
                continue;
            }
            // Most values hold nothing to escape: appended whole.
            if (std::none_of(v->cbegin(), v->cend(),
                             [](char ch) { return ch == '\\' || ch == '\t' || ch == '\n' || ch == '\r'; })) {
                out += *v;
                continue;
            }
            for (const char ch : *v) {
                switch (ch) {
                case '\\':
                    out += "\\\\";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                default:
                    out += ch;
                }
            }
        }
        out += '\n';
    }
    return out;
}

} // namespace

void PostgresConnection::startCopy(Page page)
{
    // The savepoint of the COPY before is released first, so that savepoints never nest.
    QByteArray sql = savepointIn_ == transaction_ ? "RELEASE SAVEPOINT halvenna_page; " : "";
    sql += "SAVEPOINT halvenna_page; COPY " + page.table.toUtf8() + " (" +
           page.columns.join(QStringLiteral(", ")).toUtf8() + ") FROM STDIN";
    PGresult* r = PQexec(conn_, sql.constData());
    if (PQresultStatus(r) != PGRES_COPY_IN)
        throw failure(r, page.what);
    PQclear(r);
    savepointIn_ = transaction_;
    awaiting_ = true;
    awaitingWhat_ = page.what;
    copying_.emplace();
    addToCopy(std::move(page));
}

void PostgresConnection::addToCopy(Page page)
{
    const QByteArray data = copyText(page.rows);
    if (PQputCopyData(conn_, data.constData(), int(data.size())) != 1) {
        // The connection is gone, and the transaction with it.
        awaiting_ = false;
        copying_.reset();
        throw failure(nullptr, page.what);
    }
    copying_->rows += page.rows.size();
    copying_->pages.push_back(std::move(page));
}

TableColumns PostgresConnection::columns(const QString& table)
{
    const QString what = QStringLiteral("テーブル %1 を読めません").arg(table);
    QStringList keys;
    {
        Query q(prepare(QStringLiteral("SELECT a.attname::text FROM pg_index i JOIN pg_class t ON t.oid = i.indrelid "
                                       "JOIN pg_namespace n ON n.oid = t.relnamespace "
                                       "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = ANY (i.indkey) "
                                       "WHERE i.indisprimary AND t.relname = ? AND n.nspname = current_schema()")));
        q->bindText(1, table.toUtf8());
        while (q->step(what))
            keys << QString::fromUtf8(q->text(0));
    }
    Query q(prepare(QStringLiteral("SELECT column_name::text, data_type::text, character_maximum_length::integer "
                                   "FROM information_schema.columns "
                                   "WHERE table_schema = current_schema() AND table_name = ? "
                                   "ORDER BY ordinal_position")));
    q->bindText(1, table.toUtf8());
    TableColumns result;
    bool rowId = false;
    while (q->step(what)) {
        const QString name = QString::fromUtf8(q->text(0));
        if (name == rowIdColumn()) {
            rowId = true;
            continue;
        }
        if (name == versionColumn()) {
            result.versioned = true;
            continue;
        }
        Column c;
        c.name = name;
        const QByteArrayView type = q->text(1);
        if (type == "integer" || type == "smallint" || type == "bigint")
            c.kind = FieldKind::Integer;
        else if (type == "boolean")
            c.kind = FieldKind::Logical;
        else
            c.width = q->type(2) == ValueType::Null ? 0 : int(q->integer(2));
        result.columns.append(c);
        if (keys.size() == 1 && keys.front() == name && c.kind == FieldKind::Integer)
            result.identity = int(result.columns.size() - 1);
    }
    if (result.identity >= 0)
        result.identitySql = quoted(result.columns.at(result.identity).name);
    else if (rowId)
        result.identitySql = quoted(rowIdColumn());
    else if (!result.columns.isEmpty())
        throw EngineError(failureMessage(Failure::Other, label(), location(), what,
                                         QStringLiteral("no key column and no %1").arg(rowIdColumn())),
                          Failure::Other, QString());
    return result;
}

} // namespace halvenna::sql

#include "data/sql/SqliteConnection.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace halvenna::sql {

namespace {

Failure failureOf(int code)
{
    switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
        return code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE ? Failure::DuplicateKey
                                                                                        : Failure::Other;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Failure::InUse;
    case SQLITE_FULL:
        return Failure::DiskFull;
    case SQLITE_READONLY:
        return Failure::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Failure::Damaged;
    default:
        return Failure::Other;
    }
}

// The engine's words as the user reads them (Japanese); its own English stays in the error's
// detail. A rule of the file (a trigger's RAISE) speaks for itself.
QString userWords(int code, const QString& engineText, const QString& path)
{
    const auto after = [&engineText](QLatin1StringView prefix) {
        return engineText.startsWith(prefix) ? engineText.mid(prefix.size()) : engineText;
    };
    switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
        if (code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE)
            return after(QLatin1StringView("UNIQUE constraint failed: "));
        if (code == SQLITE_CONSTRAINT_NOTNULL)
            return QStringLiteral("%1 に値がありません").arg(after(QLatin1StringView("NOT NULL constraint failed: ")));
        if (code == SQLITE_CONSTRAINT_CHECK)
            return QStringLiteral("%1 の条件に合いません").arg(after(QLatin1StringView("CHECK constraint failed: ")));
        return engineText;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("ファイルが壊れているか、テーブルのファイルではありません");
    case SQLITE_CANTOPEN:
        if (!path.isEmpty() && !QFileInfo::exists(path))
            return QStringLiteral("ファイルがありません");
        return QStringLiteral("ファイルを開けません");
    case SQLITE_IOERR:
        return QStringLiteral("ディスクの読み書きに失敗しました");
    case SQLITE_NOMEM:
        return QStringLiteral("メモリが足りません");
    case SQLITE_FULL:
        return QStringLiteral("ディスクがいっぱいです");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("他のプログラムが使用中です");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("書き込みが許されていません");
    case SQLITE_ERROR:
        if (engineText.startsWith(QLatin1StringView("no such table")))
            return QStringLiteral("テーブルがありません (%1)").arg(after(QLatin1StringView("no such table: ")));
        if (engineText.startsWith(QLatin1StringView("no such column")))
            return QStringLiteral("列がありません (%1)").arg(after(QLatin1StringView("no such column: ")));
        return QStringLiteral("SQLite のエラー %1").arg(code);
    default:
        return QStringLiteral("SQLite のエラー %1").arg(code);
    }
}

// The storage format's declared types: VARCHAR(n) text, INTEGER, BOOLEAN.
Column columnOf(const QString& name, const QString& declared)
{
    Column c;
    c.name = name;
    const QString type = declared.trimmed().toUpper();
    if (type.startsWith(u"INT")) {
        c.kind = FieldKind::Integer;
    } else if (type.startsWith(u"BOOL")) {
        c.kind = FieldKind::Logical;
    } else {
        c.kind = FieldKind::Text;
        const qsizetype open = type.indexOf(u'(');
        const qsizetype close = type.indexOf(u')');
        if (open > 0 && close > open)
            c.width = type.mid(open + 1, close - open - 1).trimmed().toInt();
    }
    return c;
}

// SQLite binds a null pointer as NULL: empty text is bound as the empty string it is.
const char* textPointer(QByteArrayView utf8)
{
    return utf8.data() ? utf8.data() : "";
}

} // namespace

QString sqliteWords(int code)
{
    return userWords(code, QString(), QString());
}

class SqliteStatement final : public Statement
{
public:
    SqliteStatement(const SqliteConnection& owner, sqlite3_stmt* statement) : owner_(owner), st_(statement) {}
    ~SqliteStatement() override { sqlite3_finalize(st_); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void bindNull(int index) override { check(sqlite3_bind_null(st_, index)); }
    void bindInteger(int index, qint64 value) override { check(sqlite3_bind_int64(st_, index, value)); }
    void bindText(int index, QByteArrayView utf8) override
    {
        check(sqlite3_bind_text(st_, index, textPointer(utf8), int(utf8.size()), SQLITE_TRANSIENT));
    }
    void bindTextInPlace(int index, QByteArrayView utf8) override
    {
        check(sqlite3_bind_text(st_, index, textPointer(utf8), int(utf8.size()), SQLITE_STATIC));
    }

    bool step(QStringView what) override
    {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        // Worded before the reset, which reports the same failure again.
        const EngineError failure = owner_.lastError(what);
        sqlite3_reset(st_);
        throw failure;
    }
    void reset() noexcept override { sqlite3_reset(st_); }

    ValueType type(int column) const override
    {
        switch (sqlite3_column_type(st_, column)) {
        case SQLITE_NULL:
            return ValueType::Null;
        case SQLITE_INTEGER:
            return ValueType::Integer;
        default:
            return ValueType::Text;
        }
    }
    qint64 integer(int column) const override { return sqlite3_column_int64(st_, column); }
    QByteArrayView text(int column) const override
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st_, column));
        return QByteArrayView(text, sqlite3_column_bytes(st_, column));
    }

    // Ready for another use.
    void clear()
    {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }

private:
    void check(int rc) const
    {
        if (rc != SQLITE_OK)
            throw owner_.lastError(u"値を設定できません");
    }

    const SqliteConnection& owner_;
    sqlite3_stmt* st_;
};

std::unique_ptr<SqliteConnection> SqliteConnection::open(const QString& path, const QString& label, Mode mode)
{
    // SQLite counts every allocation under a process-wide lock for statistics nobody here reads;
    // switched off before the engine starts (once started, it refuses and keeps counting).
    [[maybe_unused]] static const int noMemoryStatistics = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    if (mode == Mode::Create)
        flags |= SQLITE_OPEN_CREATE;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    // Owned from here on, also when opening failed: SQLite may hand out a handle to close even then.
    std::unique_ptr<SqliteConnection> connection(db ? new SqliteConnection(db, label, path) : nullptr);
    if (rc != SQLITE_OK) {
        const QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        const int code = db ? sqlite3_extended_errcode(db) : rc;
        throw EngineError(
            QStringLiteral("%1: テーブル %2 を開けません (%3)").arg(label, path, userWords(code, detail, path)),
            failureOf(rc), detail);
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return connection;
}

SqliteConnection::SqliteConnection(sqlite3* db, QString label, QString location)
    : Connection(std::move(label), std::move(location)), db_(db)
{}

SqliteConnection::~SqliteConnection()
{
    // Every statement of ours is finalized first; should someone have left a statement of their own
    // on handle(), the engine closes the handle once that one is finalized too.
    for (auto& cache : statements_)
        cache.clear();
    sqlite3_close_v2(db_);
}

EngineError SqliteConnection::lastError(QStringView what) const
{
    const int code = sqlite3_extended_errcode(db_);
    const QString detail = QString::fromUtf8(sqlite3_errmsg(db_));
    const Failure failure = failureOf(code);
    return EngineError(failureMessage(failure, label(), location(), what, userWords(code, detail, location())), failure,
                       detail);
}

Statement& SqliteConnection::prepare(const QString& sql, Use use)
{
    auto& cache = statements_[use == Use::Cursor ? 1 : 0];
    if (const auto it = cache.find(sql); it != cache.end()) {
        it->second->clear();
        return *it->second;
    }
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db_, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(st);
        throw lastError(u"テーブルを読めません");
    }
    auto statement = std::make_unique<SqliteStatement>(*this, st);
    Statement& result = *statement;
    cache.emplace(sql, std::move(statement));
    return result;
}

void SqliteConnection::execute(const QString& sql, QStringView what)
{
    if (sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw lastError(what);
}

void SqliteConnection::begin(QStringView what)
{
    if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw lastError(what);
}

void SqliteConnection::commit(QStringView what, const std::function<void()>& beforeRollback)
{
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return;
    const EngineError refusal = lastError(what);
    if (beforeRollback) {
        try {
            beforeRollback();
        } catch (...) {
            // The refused commit is the error to report.
        }
    }
    rollback();
    throw refusal;
}

void SqliteConnection::rollback() noexcept
{
    // Should the rollback itself fail, closing the connection still drops the transaction.
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool SqliteConnection::inTransaction() const
{
    return !sqlite3_get_autocommit(db_);
}

TableColumns SqliteConnection::columns(const QString& table)
{
    Query q(prepare(QStringLiteral("SELECT name, type, pk FROM pragma_table_info(?1)")));
    q->bindText(1, table.toUtf8());
    const QString what = QStringLiteral("テーブル %1 を読めません").arg(location());
    TableColumns result;
    int keys = 0;
    int identity = -1;
    while (q->step(what)) {
        const QString type = QString::fromUtf8(q->text(1));
        result.columns.append(columnOf(QString::fromUtf8(q->text(0)), type));
        // Only a single INTEGER PRIMARY KEY column is the rowid itself.
        if (q->integer(2) > 0) {
            ++keys;
            if (result.columns.last().kind == FieldKind::Integer && type.trimmed().toUpper() == u"INTEGER")
                identity = int(result.columns.size() - 1);
        }
    }
    result.identity = keys == 1 ? identity : -1;
    result.identitySql = QStringLiteral("rowid");
    return result;
}

qint64 SqliteConnection::lastInsertId() const
{
    return sqlite3_last_insert_rowid(db_);
}

} // namespace halvenna::sql

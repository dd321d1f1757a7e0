#pragma once

#include "data/sql/SqlConnection.h"

#include <QHash>

#include <memory>
#include <unordered_map>

struct sqlite3;

namespace halvenna::sql {

class SqliteStatement;

// The one owner of an SQLite file: opens it, keeps its prepared statements, and closes it (with
// every statement) when it goes. Nothing else closes an SQLite handle.
class SqliteConnection final : public Connection
{
public:
    // How long a statement waits for another program's lock before it fails with "in use".
    static constexpr int kBusyTimeoutMs = 3000;

    enum class Mode {
        Existing, // the file must be there: opening never makes a table file
        Create,   // made when missing (the schema tool)
    };

    // Opens the file at path. Throws EngineError "<label>: テーブル <path> を開けません (<engine's words>)".
    static std::unique_ptr<SqliteConnection> open(const QString& path, const QString& label,
                                                  Mode mode = Mode::Existing);
    ~SqliteConnection() override;

    Statement& prepare(const QString& sql, Use use = Use::Query) override;
    void execute(const QString& sql, QStringView what) override;

    void begin(QStringView what) override;
    void commit(QStringView what, const std::function<void()>& beforeRollback = {}) override;
    void rollback() noexcept override;
    bool inTransaction() const override;

    TableColumns columns(const QString& table) override;
    qint64 lastInsertId() const override;

    QString equalIgnoringCase(const QString& left, const QString& right) const override
    {
        return QStringLiteral("%1 = %2 COLLATE NOCASE").arg(left, right);
    }

    // The error the engine reports now, worded for this table.
    EngineError lastError(QStringView what) const;
    // The handle itself, for code that measures or tests SQLite beside the table layer.
    sqlite3* handle() const { return db_; }

private:
    SqliteConnection(sqlite3* db, QString label, QString location);

    sqlite3* db_;
    // By their text; [0] used and reset at once, [1] cursors (Connection::Use).
    std::unordered_map<QString, std::unique_ptr<SqliteStatement>> statements_[2];
};

// What an SQLite result code means, in the words the user reads ("ディスクがいっぱいです"), for a
// failure met outside a connection (the online backup, a check of a copy).
QString sqliteWords(int code);

} // namespace halvenna::sql

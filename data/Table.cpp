#include "data/Table.h"

#include "data/Error.h"
#include "data/SjisText.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <limits>

namespace halvenna {

namespace {

// How long a store waits for another program's lock before it gives up with an error.
constexpr int kBusyTimeoutMs = 3000;

QString quoted(const QString& identifier)
{
    QString q = identifier;
    q.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

enum NotifyEvent { evActive, evDataSet, evScroll, evRecord, evEditing, evUpdateData, evCheckBrowseMode };

// Kinds of the storage format: VARCHAR(n) text, INTEGER, BOOLEAN.
FieldDef parseFieldDef(const QString& name, const QString& declared)
{
    FieldDef def;
    def.name = name;
    const QString type = declared.trimmed().toUpper();
    if (type.startsWith(u"INT")) {
        def.kind = FieldKind::Integer;
    } else if (type.startsWith(u"BOOL")) {
        def.kind = FieldKind::Logical;
    } else {
        def.kind = FieldKind::Text;
        const qsizetype open = type.indexOf(u'(');
        const qsizetype close = type.indexOf(u')');
        if (open > 0 && close > open)
            def.width = type.mid(open + 1, close - open - 1).trimmed().toInt();
    }
    return def;
}

} // namespace

// Prepared statements of one connection, keyed by their SQL.
struct Table::StatementCache
{
    QHash<QString, sqlite3_stmt*> statements;
    ~StatementCache() { clear(); }
    void clear()
    {
        for (sqlite3_stmt* st : std::as_const(statements))
            sqlite3_finalize(st);
        statements.clear();
    }
};

// One value of the current row. Text straight from storage stays UTF-8 until someone reads it,
// so walking and re-storing rows costs no conversion.
struct Table::Cell
{
    enum Kind : quint8 { Null, Int, Utf8, Sjis } kind = Null;
    qint64 i = 0;
    QByteArray bytes;
};

// The detail side of the master-detail link, listening to the master's data source.
class Table::MasterLink : public DataLink
{
public:
    explicit MasterLink(Table& detail) : detail_(detail) {}

protected:
    // Whatever happens to the master's row, the detail first finishes its own pending change.
    void activeChanged() override { follow(); }
    void dataSetChanged() override { follow(); }
    void dataSetScrolled() override { follow(); }
    void recordChanged(const QString& field) override
    {
        if (field.isEmpty() || field.compare(detail_.masterField_, Qt::CaseInsensitive) == 0)
            follow();
    }
    void checkBrowseMode() override { detail_.checkBrowseMode(); }

private:
    void follow()
    {
        detail_.checkBrowseMode();
        detail_.refreshRange();
    }
    Table& detail_;
};

Table::Table(QString componentName, QString fileName, QString tableName)
    : name_(std::move(componentName)), fileName_(std::move(fileName)), tableName_(std::move(tableName)),
      statements_(std::make_unique<StatementCache>()), cursorStatements_(std::make_unique<StatementCache>())
{}

Table::~Table()
{
    try {
        close();
    } catch (...) {
        // Closing drops what is pending; a failure to close the file cannot be reported from here.
    }
    for (DataSource* s : std::as_const(sources_))
        s->table_ = nullptr;
}

QString Table::filePath() const
{
    return QDir(dir_).filePath(fileName_);
}

void Table::setMasterSource(DataSource* master, const QString& masterField, const QString& detailField)
{
    masterLink_.reset();
    masterField_ = masterField;
    detailField_ = detailField;
    if (master) {
        masterLink_ = std::make_unique<MasterLink>(*this);
        masterLink_->setDataSource(master);
    }
    refreshRange();
}

// ---------------------------------------------------------------- errors and statements

void Table::throwClosed() const
{
    throw DatabaseError(
        QStringLiteral("%1: %2").arg(name_, QStringLiteral("データセットは閉じているため, この操作は実行できません")));
}

void Table::throwEngine(const QString& what, sqlite3* db) const
{
    if (!db)
        db = db_;
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
    const QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
    QString message;
    switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
        if (code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE)
            message = QStringLiteral("%1: キーが重複しています (%2)").arg(name_, detail);
        else
            message = QStringLiteral("%1: %2 (%3)").arg(name_, what, detail);
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        message = QStringLiteral("%1: テーブル %2 は他のプログラムが使用中です").arg(name_, filePath());
        break;
    case SQLITE_FULL:
        message = QStringLiteral("%1: ディスクがいっぱいで %2 に書き込めません").arg(name_, filePath());
        break;
    case SQLITE_READONLY:
        message = QStringLiteral("%1: %2 に書き込めません").arg(name_, filePath());
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        message = QStringLiteral("%1: テーブル %2 が壊れています (%3)").arg(name_, filePath(), detail);
        break;
    default:
        message = QStringLiteral("%1: %2 (%3)").arg(name_, what, detail);
        break;
    }
    throw DatabaseError(message);
}

void Table::checkActive() const
{
    if (!db_)
        throwClosed();
}

int Table::requireField(const QString& name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw DatabaseError(QStringLiteral("%1: 項目 '%2' が見つかりません").arg(name_, name));
    return i;
}

int Table::fieldIndex(const QString& name) const
{
    // Callers nearly always spell a field as the table does: look that up first.
    if (const auto it = fieldsByName_.constFind(name); it != fieldsByName_.cend())
        return *it;
    for (int i = 0; i < fields_.size(); ++i) {
        const QString& candidate = fields_.at(i).name;
        if (candidate.size() == name.size() && candidate.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

const FieldDef& Table::fieldDef(const QString& name) const
{
    return fields_.at(requireField(name));
}

namespace {

sqlite3_stmt* cachedStatement(QHash<QString, sqlite3_stmt*>& cache, sqlite3* db, const QString& sql, bool& failed)
{
    failed = false;
    auto it = cache.find(sql);
    if (it != cache.end()) {
        sqlite3_reset(*it);
        sqlite3_clear_bindings(*it);
        return *it;
    }
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK) {
        failed = true;
        return nullptr;
    }
    cache.insert(sql, st);
    return st;
}

} // namespace

sqlite3_stmt* Table::prepare(const QString& sql)
{
    bool failed = false;
    sqlite3_stmt* st = cachedStatement(statements_->statements, db_, sql, failed);
    if (failed)
        throwEngine(QStringLiteral("テーブルを読めません"));
    return st;
}

sqlite3_stmt* Table::prepareCursor(const QString& sql)
{
    if (cursor_)
        sqlite3_reset(cursor_);
    bool failed = false;
    sqlite3_stmt* st = cachedStatement(cursorStatements_->statements, db_, sql, failed);
    if (failed)
        throwEngine(QStringLiteral("テーブルを読めません"));
    return st;
}

void Table::exec(const char* sql)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throwEngine(QString::fromLatin1(sql));
}

// ---------------------------------------------------------------- open and close

void Table::open()
{
    if (db_)
        return;
    const QString path = filePath();
    if (dir_.isEmpty() || !QFileInfo(path).isFile())
        throw DatabaseError(QStringLiteral("%1: テーブル ファイル %2 が見つかりません").arg(name_, path));

    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
    if (rc != SQLITE_OK) {
        const QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        throw DatabaseError(QStringLiteral("%1: テーブル %2 を開けません (%3)").arg(name_, path, detail));
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    db_ = db;

    try {
        QList<FieldDef> fields;
        int rowidAlias = -1;
        int pkCount = 0;
        sqlite3_stmt* st = prepare(QStringLiteral("SELECT name, type, pk FROM pragma_table_info(?1)"));
        const QByteArray table = tableName_.toUtf8();
        sqlite3_bind_text(st, 1, table.constData(), int(table.size()), SQLITE_TRANSIENT);
        int step;
        while ((step = sqlite3_step(st)) == SQLITE_ROW) {
            const QString name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            const QString type = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
            fields.append(parseFieldDef(name, type));
            if (sqlite3_column_int(st, 2) > 0) {
                ++pkCount;
                if (fields.last().kind == FieldKind::Integer && type.trimmed().toUpper() == u"INTEGER")
                    rowidAlias = int(fields.size() - 1);
            }
        }
        sqlite3_reset(st);
        if (step != SQLITE_DONE)
            throwEngine(QStringLiteral("テーブル %1 を読めません").arg(path));
        if (fields.isEmpty())
            throw DatabaseError(QStringLiteral("%1: テーブル %2 が %3 にありません").arg(name_, tableName_, path));
        fields_ = fields;
        fieldsByName_.clear();
        for (int i = 0; i < fields_.size(); ++i)
            fieldsByName_.insert(fields_.at(i).name, i);
        rowidAlias_ = pkCount == 1 ? rowidAlias : -1;
        orderField_ = indexField_.isEmpty() ? rowidAlias_ : requireField(indexField_);
        QStringList columns;
        for (const FieldDef& f : std::as_const(fields_))
            columns << quoted(f.name);
        if (fields_.size() > 64)
            throw DatabaseError(QStringLiteral("%1: テーブル %2 の項目が多すぎます").arg(name_, path));
        QStringList marks;
        for (qsizetype i = 0; i < fields_.size(); ++i)
            marks << QStringLiteral("?");
        insertSql_ = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                         .arg(quoted(tableName_), columns.join(u", "), marks.join(u','));
        columns << QStringLiteral("rowid");
        columnList_ = columns.join(u", ");
    } catch (...) {
        fields_.clear();
        fieldsByName_.clear();
        statements_->clear();
        cursorStatements_->clear();
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }

    state_ = TableState::Browse;
    modified_ = false;
    count_ = -1;
    rangeStale_ = true;
    ensureRange();
    notify(evActive);
    notify(evDataSet);
}

void Table::close()
{
    if (!db_)
        return;
    // Closing drops whatever is pending, unstored.
    state_ = TableState::Inactive;
    modified_ = false;
    while (batchDepth_ > 0) {
        batchDepth_ = 0;
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    }
    cursor_ = nullptr;
    cursorOnCurrent_ = false;
    insertStmt_ = nullptr;
    updateStatements_.clear();
    locateSql_.clear();
    for (QString& sql : firstSql_)
        sql.clear();
    statements_->clear();
    cursorStatements_->clear();
    sqlite3_close(db_);
    db_ = nullptr;
    fields_.clear();
    fieldsByName_.clear();
    clearCurrent();
    count_ = -1;
    notify(evActive);
    notify(evDataSet);
}

// ---------------------------------------------------------------- the range of a detail table

void Table::refreshRange()
{
    rangeStale_ = true;
    if (db_)
        notify(evDataSet);
}

void Table::liftMasterLink(bool lifted)
{
    if (linkLifted_ == lifted)
        return;
    checkBrowseMode();
    linkLifted_ = lifted;
    refreshRange();
    ensureRange();
}

void Table::ensureRange()
{
    if (!rangeStale_ || !db_)
        return;
    rangeStale_ = false;
    Table* master = masterLink_ ? masterLink_->table() : nullptr;
    rangeRestricted_ = master && master->active() && !linkLifted_;
    rangeValue_ = FieldValue();
    if (rangeRestricted_ && master->hasCurrentRow())
        rangeValue_ = master->fieldValue(masterField_);
    count_ = -1;
    resetCursor();
    seekFirst();
}

QString Table::orderBy(bool descending) const
{
    const char* dir = descending ? " DESC" : "";
    if (rangeRestricted_ || orderField_ < 0 || orderField_ == rowidAlias_)
        return QStringLiteral(" ORDER BY rowid%1").arg(QLatin1String(dir));
    return QStringLiteral(" ORDER BY %1%2, rowid%2").arg(quoted(fields_.at(orderField_).name), QLatin1String(dir));
}

QString Table::rangeWhere() const
{
    if (!rangeRestricted_)
        return QStringLiteral(" WHERE 1");
    if (rangeValue_.isNull())
        return QStringLiteral(" WHERE 0");
    return QStringLiteral(" WHERE %1 = ?").arg(quoted(fields_.at(requireField(detailField_)).name));
}

namespace {

void bindValue(sqlite3_stmt* st, int index, const FieldValue& v)
{
    if (v.isNull()) {
        sqlite3_bind_null(st, index);
    } else if (v.isInteger()) {
        sqlite3_bind_int64(st, index, v.asInteger());
    } else if (v.isLogical()) {
        sqlite3_bind_int(st, index, v.asBoolean() ? 1 : 0);
    } else {
        const QByteArray utf8 = sjis::toUnicode(v.asText()).toUtf8();
        sqlite3_bind_text(st, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
}

} // namespace

void Table::bindRange(sqlite3_stmt* st, int& index) const
{
    if (rangeRestricted_ && !rangeValue_.isNull())
        bindValue(st, index++, rangeValue_);
}

// ---------------------------------------------------------------- the current row

void Table::clearCurrent()
{
    hasRow_ = false;
    rowid_ = 0;
    cells_.clear();
    recNo_ = -1;
    eof_ = true;
    bof_ = true;
}

void Table::materialize()
{
    if (!hasRow_ || !cells_.empty() || !cursorOnCurrent_ || !cursor_)
        return;
    readCurrentFrom(cursor_);
}

void Table::readCurrentFrom(sqlite3_stmt* st)
{
    const int n = int(fields_.size());
    std::vector<Cell> cells(n);
    for (int i = 0; i < n; ++i) {
        Cell& c = cells[i];
        switch (sqlite3_column_type(st, i)) {
        case SQLITE_NULL:
            c.kind = Cell::Null;
            break;
        case SQLITE_INTEGER:
            c.kind = Cell::Int;
            c.i = sqlite3_column_int64(st, i);
            break;
        default: {
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            c.kind = Cell::Utf8;
            c.bytes = QByteArray(text, sqlite3_column_bytes(st, i));
            if (fields_.at(i).kind != FieldKind::Text) {
                // Another tool stored text in a number field: hand it over as text.
                c.kind = Cell::Sjis;
                c.bytes = sjis::fromUnicode(QString::fromUtf8(c.bytes));
            }
            break;
        }
        }
    }
    cells_ = std::move(cells);
    rowid_ = sqlite3_column_int64(st, n);
    hasRow_ = true;
}

// Lets go of the cursor. A caller that keeps the current row materializes it first; most replace it.
void Table::resetCursor()
{
    if (cursor_)
        sqlite3_reset(cursor_);
    cursor_ = nullptr;
    cursorOnCurrent_ = false;
}

bool Table::seekFirst()
{
    resetCursor();
    // A detail table asks this for every move of its master: the query is built once per range shape.
    QString& sql = firstSql_[!rangeRestricted_ ? 0 : rangeValue_.isNull() ? 1 : 2];
    if (sql.isEmpty())
        sql =
            QStringLiteral("SELECT %1 FROM %2%3%4").arg(columnList_, quoted(tableName_), rangeWhere(), orderBy(false));
    sqlite3_stmt* st = prepareCursor(sql);
    int index = 1;
    bindRange(st, index);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        cursor_ = st;
        cursorOnCurrent_ = true;
        cells_.clear();
        hasRow_ = true;
        rowid_ = sqlite3_column_int64(st, int(fields_.size()));
        recNo_ = 0;
        bof_ = true;
        eof_ = false;
        return true;
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("テーブルを読めません"));
    clearCurrent();
    count_ = 0;
    return false;
}

bool Table::seekLast()
{
    resetCursor();
    sqlite3_stmt* st = prepare(QStringLiteral("SELECT %1 FROM %2%3%4 LIMIT 1")
                                   .arg(columnList_, quoted(tableName_), rangeWhere(), orderBy(true)));
    int index = 1;
    bindRange(st, index);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        readCurrentFrom(st);
        sqlite3_reset(st);
        recNo_ = count_ >= 0 ? count_ - 1 : -1;
        return true;
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("テーブルを読めません"));
    clearCurrent();
    count_ = 0;
    return false;
}

bool Table::seekAfterCurrent(bool backwards)
{
    materialize();
    const qint64 currentRowid = rowid_;
    QString condition;
    FieldValue orderValue;
    const bool byField = !rangeRestricted_ && orderField_ >= 0 && orderField_ != rowidAlias_;
    if (byField) {
        orderValue = cellValue(orderField_);
        const QString f = quoted(fields_.at(orderField_).name);
        if (orderValue.isNull())
            condition = backwards ? QStringLiteral("(%1 IS NULL AND rowid < ?)").arg(f)
                                  : QStringLiteral("((%1 IS NULL AND rowid > ?) OR %1 IS NOT NULL)").arg(f);
        else
            condition = backwards ? QStringLiteral("(%1 < ? OR %1 IS NULL OR (%1 = ? AND rowid < ?))").arg(f)
                                  : QStringLiteral("(%1 > ? OR (%1 = ? AND rowid > ?))").arg(f);
    } else {
        condition = backwards ? QStringLiteral("rowid < ?") : QStringLiteral("rowid > ?");
    }
    const QString base = QStringLiteral("SELECT %1 FROM %2%3 AND %4%5")
                             .arg(columnList_, quoted(tableName_), rangeWhere(), condition, orderBy(backwards));
    resetCursor();

    auto bindAll = [&](sqlite3_stmt* st) {
        int index = 1;
        bindRange(st, index);
        if (byField && !orderValue.isNull()) {
            bindValue(st, index++, orderValue);
            bindValue(st, index++, orderValue);
        }
        sqlite3_bind_int64(st, index, currentRowid);
    };

    if (backwards) {
        sqlite3_stmt* st = prepare(base + QStringLiteral(" LIMIT 1"));
        bindAll(st);
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            readCurrentFrom(st);
            sqlite3_reset(st);
            return true;
        }
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            throwEngine(QStringLiteral("テーブルを読めません"));
        return false;
    }

    // Forward: leave a cursor standing on the new row so that further steps cost one step each.
    sqlite3_stmt* st = prepareCursor(base);
    bindAll(st);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        cursor_ = st;
        cursorOnCurrent_ = true;
        cells_.clear();
        rowid_ = sqlite3_column_int64(st, int(fields_.size()));
        return true;
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("テーブルを読めません"));
    return false;
}

void Table::loadRowById(qint64 rowid)
{
    resetCursor();
    sqlite3_stmt* st =
        prepare(QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(columnList_, quoted(tableName_)));
    sqlite3_bind_int64(st, 1, rowid);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        readCurrentFrom(st);
        sqlite3_reset(st);
        return;
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("テーブルを読めません"));
    // The row is gone (deleted by another program): stand on the first row instead.
    seekFirst();
}

FieldValue Table::cellValue(int index)
{
    const FieldKind kind = fields_.at(index).kind;
    if (cells_.empty()) {
        if (!hasRow_ || !cursorOnCurrent_)
            return FieldValue();
        switch (sqlite3_column_type(cursor_, index)) {
        case SQLITE_NULL:
            return FieldValue();
        case SQLITE_INTEGER: {
            const qint64 v = sqlite3_column_int64(cursor_, index);
            if (kind == FieldKind::Logical)
                return FieldValue::logical(v != 0);
            if (kind == FieldKind::Text)
                return FieldValue::text(QByteArray::number(v));
            return FieldValue::integer(qint32(v));
        }
        default: {
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(cursor_, index));
            const int size = sqlite3_column_bytes(cursor_, index);
            return FieldValue::text(sjis::fromUnicode(QString::fromUtf8(text, size)));
        }
        }
    }
    Cell& c = cells_[index];
    switch (c.kind) {
    case Cell::Null:
        return FieldValue();
    case Cell::Int:
        if (kind == FieldKind::Logical)
            return FieldValue::logical(c.i != 0);
        if (kind == FieldKind::Text)
            return FieldValue::text(QByteArray::number(c.i));
        return FieldValue::integer(qint32(c.i));
    case Cell::Utf8:
        // Converted once, then kept in code page 932.
        c.bytes = sjis::fromUnicode(QString::fromUtf8(c.bytes));
        c.kind = Cell::Sjis;
        [[fallthrough]];
    case Cell::Sjis:
        return FieldValue::text(c.bytes);
    }
    return FieldValue();
}

// ---------------------------------------------------------------- moving

void Table::beforeMove()
{
    checkActive();
    ensureRange();
    checkBrowseMode();
    finishDetailsBeforeChange();
}

void Table::afterMove()
{
    notify(evScroll);
}

void Table::finishDetailsBeforeChange()
{
    notify(evCheckBrowseMode);
}

void Table::first()
{
    beforeMove();
    seekFirst();
    afterMove();
}

void Table::next()
{
    beforeMove();
    if (!hasRow_) {
        eof_ = true;
        return;
    }
    bool moved = false;
    if (cursorOnCurrent_ && cursor_) {
        const int rc = sqlite3_step(cursor_);
        if (rc == SQLITE_ROW) {
            cells_.clear();
            rowid_ = sqlite3_column_int64(cursor_, int(fields_.size()));
            moved = true;
        } else {
            // The cursor has run out and no longer holds the current row: read it again.
            const qint64 current = rowid_;
            sqlite3_reset(cursor_);
            cursor_ = nullptr;
            cursorOnCurrent_ = false;
            if (cells_.empty())
                loadRowById(current);
            if (rc != SQLITE_DONE)
                throwEngine(QStringLiteral("テーブルを読めません"));
        }
    } else {
        moved = seekAfterCurrent(false);
    }
    if (moved) {
        if (recNo_ >= 0)
            ++recNo_;
        bof_ = false;
        eof_ = false;
        afterMove();
    } else {
        eof_ = true;
    }
}

void Table::prior()
{
    beforeMove();
    if (!hasRow_) {
        bof_ = true;
        return;
    }
    const int before = recNo_;
    if (seekAfterCurrent(true)) {
        recNo_ = before > 0 ? before - 1 : -1;
        bof_ = false;
        eof_ = false;
        afterMove();
    } else {
        bof_ = true;
    }
}

void Table::last()
{
    beforeMove();
    const bool found = seekLast();
    eof_ = true;
    bof_ = !found;
    afterMove();
}

bool Table::eof()
{
    checkActive();
    ensureRange();
    return eof_;
}

bool Table::bof()
{
    checkActive();
    ensureRange();
    return bof_;
}

int Table::recordCount()
{
    checkActive();
    ensureRange();
    if (count_ < 0) {
        sqlite3_stmt* st = prepare(QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(quoted(tableName_), rangeWhere()));
        int index = 1;
        bindRange(st, index);
        if (sqlite3_step(st) != SQLITE_ROW) {
            sqlite3_reset(st);
            throwEngine(QStringLiteral("テーブルを読めません"));
        }
        count_ = sqlite3_column_int(st, 0);
        sqlite3_reset(st);
    }
    return count_;
}

int Table::estimatedRecordCount()
{
    checkActive();
    ensureRange();
    if (count_ >= 0)
        return count_;
    // A small table is counted at once; a big one ordered by its row identity is estimated from
    // the lowest and highest identity, which costs two index lookups instead of a pass.
    constexpr int kSmall = 1000;
    sqlite3_stmt* st = prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM %1%2 LIMIT %3)")
                                   .arg(quoted(tableName_), rangeWhere())
                                   .arg(kSmall + 1));
    int index = 1;
    bindRange(st, index);
    if (sqlite3_step(st) != SQLITE_ROW) {
        sqlite3_reset(st);
        throwEngine(QStringLiteral("テーブルを読めません"));
    }
    const int bounded = sqlite3_column_int(st, 0);
    sqlite3_reset(st);
    if (bounded <= kSmall) {
        count_ = bounded;
        return count_;
    }
    if (rangeRestricted_ || (orderField_ >= 0 && orderField_ != rowidAlias_))
        return recordCount();
    st = prepare(
        QStringLiteral("SELECT (SELECT max(rowid) FROM %1) - (SELECT min(rowid) FROM %1) + 1").arg(quoted(tableName_)));
    if (sqlite3_step(st) != SQLITE_ROW) {
        sqlite3_reset(st);
        throwEngine(QStringLiteral("テーブルを読めません"));
    }
    const qint64 span = sqlite3_column_int64(st, 0);
    sqlite3_reset(st);
    return int(std::clamp<qint64>(span, bounded, std::numeric_limits<int>::max()));
}

bool Table::isEmpty()
{
    checkActive();
    ensureRange();
    return !hasRow_ && state_ != TableState::Insert;
}

int Table::recNo()
{
    checkActive();
    ensureRange();
    if (!hasRow_)
        return -1;
    if (recNo_ < 0) {
        const bool byField = !rangeRestricted_ && orderField_ >= 0 && orderField_ != rowidAlias_;
        QString condition = QStringLiteral("rowid < ?");
        FieldValue orderValue;
        if (byField) {
            orderValue = cellValue(orderField_);
            const QString f = quoted(fields_.at(orderField_).name);
            condition = orderValue.isNull() ? QStringLiteral("(%1 IS NULL AND rowid < ?)").arg(f)
                                            : QStringLiteral("(%1 < ? OR %1 IS NULL OR (%1 = ? AND rowid < ?))").arg(f);
        }
        sqlite3_stmt* st = prepare(
            QStringLiteral("SELECT COUNT(*) FROM %1%2 AND %3").arg(quoted(tableName_), rangeWhere(), condition));
        int index = 1;
        bindRange(st, index);
        if (byField && !orderValue.isNull()) {
            bindValue(st, index++, orderValue);
            bindValue(st, index++, orderValue);
        }
        sqlite3_bind_int64(st, index, rowid_);
        if (sqlite3_step(st) != SQLITE_ROW) {
            sqlite3_reset(st);
            throwEngine(QStringLiteral("テーブルを読めません"));
        }
        recNo_ = sqlite3_column_int(st, 0);
        sqlite3_reset(st);
    }
    return recNo_;
}

bool Table::locate(const QString& field, const FieldValue& value, LocateOptions options)
{
    beforeMove();
    const int index = requireField(field);
    const FieldDef& def = fields_.at(index);
    // Looking for the master's own key in a detail's range is asking for the range's first row.
    if (rangeRestricted_ && value.isInteger() && !rangeValue_.isNull() && rangeValue_.isInteger() &&
        value.asInteger() == rangeValue_.asInteger() && field.compare(detailField_, Qt::CaseInsensitive) == 0) {
        if (!hasRow_)
            return false;
        if (recNo_ != 0)
            seekFirst();
        bof_ = eof_ = false;
        afterMove();
        return true;
    }
    FieldValue key = value;
    if (def.kind == FieldKind::Integer && !value.isNull() && !value.isInteger()) {
        qint32 v = 0;
        if (!parseWholeNumber(value.asText(), v))
            throw ConversionError(QStringLiteral("項目 '%1' の値として不正です").arg(def.name));
        key = FieldValue::integer(v);
    }
    // The query depends on the field, the options, the range and whether the key is null: build it once.
    const quint32 shape = quint32(index) << 5 | (options.partialKey ? 1 : 0) | (options.caseInsensitive ? 2 : 0) |
                          (key.isNull() ? 4 : 0) | (rangeRestricted_ ? 8 : 0) |
                          (rangeRestricted_ && rangeValue_.isNull() ? 16 : 0);
    QString& sql = locateSql_[shape];
    if (sql.isEmpty()) {
        const QString f = quoted(def.name);
        QString condition;
        if (key.isNull())
            condition = QStringLiteral("%1 IS NULL").arg(f);
        else if (def.kind == FieldKind::Text && options.partialKey)
            condition = options.caseInsensitive ? QStringLiteral("substr(%1, 1, length(?)) = ? COLLATE NOCASE").arg(f)
                                                : QStringLiteral("substr(%1, 1, length(?)) = ?").arg(f);
        else if (def.kind == FieldKind::Text && options.caseInsensitive)
            condition = QStringLiteral("%1 = ? COLLATE NOCASE").arg(f);
        else
            condition = QStringLiteral("%1 = ?").arg(f);
        sql = QStringLiteral("SELECT %1 FROM %2%3 AND %4%5 LIMIT 1")
                  .arg(columnList_, quoted(tableName_), rangeWhere(), condition, orderBy(false));
    }
    sqlite3_stmt* st = prepare(sql);
    int bindIndex = 1;
    bindRange(st, bindIndex);
    if (!key.isNull()) {
        if (def.kind == FieldKind::Text && options.partialKey)
            bindValue(st, bindIndex++, key);
        bindValue(st, bindIndex++, key);
    }
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        resetCursor();
        readCurrentFrom(st);
        sqlite3_reset(st);
        recNo_ = -1;
        bof_ = false;
        eof_ = false;
        afterMove();
        return true;
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("テーブルを読めません"));
    return false;
}

void Table::gotoRow(qint64 rowid, int position)
{
    beforeMove();
    if (hasRow_ && rowid == rowid_)
        return;
    loadRowById(rowid);
    recNo_ = rowid_ == rowid ? position : recNo_;
    bof_ = false;
    eof_ = false;
    afterMove();
}

// ---------------------------------------------------------------- changing

void Table::startNewRow(bool atEnd)
{
    checkActive();
    ensureRange();
    checkBrowseMode();
    finishDetailsBeforeChange();
    savedHasRow_ = hasRow_;
    savedRowid_ = rowid_;
    savedRecNo_ = recNo_;
    insertPos_ = atEnd ? -2 : (hasRow_ ? recNo() : 0);
    resetCursor();
    cells_.assign(fields_.size(), Cell{});
    hasRow_ = true;
    rowid_ = 0;
    state_ = TableState::Insert;
    modified_ = false;
    dirty_ = 0;

    inNewRecordEvent_ = true;
    try {
        if (masterLink_ && rangeRestricted_ && !rangeValue_.isNull())
            setFieldValue(detailField_, rangeValue_);
        if (newRecord)
            newRecord(*this);
    } catch (...) {
        inNewRecordEvent_ = false;
        cancel();
        throw;
    }
    inNewRecordEvent_ = false;
    modified_ = false;
    notify(evDataSet);
    notify(evEditing);
}

int Table::insertPosition()
{
    if (state_ != TableState::Insert)
        return -1;
    if (insertPos_ == -2)
        return recordCount();
    return insertPos_;
}

void Table::append()
{
    startNewRow(true);
}

void Table::insert()
{
    startNewRow(false);
}

void Table::edit()
{
    checkActive();
    ensureRange();
    if (editing())
        return;
    if (!hasRow_) {
        append();
        return;
    }
    finishDetailsBeforeChange();
    materialize();
    savedHasRow_ = true;
    savedRowid_ = rowid_;
    savedRecNo_ = recNo_;
    state_ = TableState::Edit;
    modified_ = false;
    dirty_ = 0;
    notify(evEditing);
}

void Table::updateRecord()
{
    notify(evUpdateData);
}

void Table::post()
{
    checkActive();
    updateRecord();
    if (!editing())
        return;
    finishDetailsBeforeChange();
    if (beforePost)
        beforePost(*this);
    storeRow();
    state_ = TableState::Browse;
    modified_ = false;
    notify(evEditing);
    notify(evDataSet);
}

void Table::storeRow()
{
    const int n = int(fields_.size());
    // The cells outlive the statement's step (it is reset right after), so their bytes are bound in place.
    auto bindCell = [](sqlite3_stmt* st, int index, const Cell& c) {
        switch (c.kind) {
        case Cell::Null:
            sqlite3_bind_null(st, index);
            break;
        case Cell::Int:
            sqlite3_bind_int64(st, index, c.i);
            break;
        case Cell::Utf8:
            sqlite3_bind_text(st, index, c.bytes.constData(), int(c.bytes.size()), SQLITE_STATIC);
            break;
        case Cell::Sjis: {
            // ASCII is the same bytes in both encodings: most postal codes and numbers skip the conversion.
            if (sjis::isAscii(c.bytes)) {
                sqlite3_bind_text(st, index, c.bytes.constData(), int(c.bytes.size()), SQLITE_STATIC);
                break;
            }
            const QByteArray utf8 = sjis::toUnicode(c.bytes).toUtf8();
            sqlite3_bind_text(st, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    };

    if (state_ == TableState::Insert) {
        if (rowidAlias_ >= 0 && cells_[rowidAlias_].kind == Cell::Null)
            throw DatabaseError(
                QStringLiteral("%1: 項目 '%2' には値が必要です").arg(name_, fields_.at(rowidAlias_).name));
        if (!insertStmt_)
            insertStmt_ = prepare(insertSql_);
        sqlite3_stmt* st = insertStmt_;
        for (int i = 0; i < n; ++i)
            bindCell(st, i + 1, cells_[i]);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            throwEngine(QStringLiteral("行を保存できません"));
        rowid_ = sqlite3_last_insert_rowid(db_);
        if (count_ >= 0)
            ++count_;
        recNo_ = -1;
        insertPos_ = -1;
        // The new row takes its place in table order; a cursor left elsewhere no longer fits.
        resetCursor();
        return;
    }

    // Only the fields written since editing began are stored. The row's identity written with its own
    // value is no change: leaving it out spares the engine moving the row and its index entries.
    if (rowidAlias_ >= 0 && (dirty_ & (quint64(1) << rowidAlias_)) && cells_[rowidAlias_].kind == Cell::Int &&
        cells_[rowidAlias_].i == rowid_)
        dirty_ &= ~(quint64(1) << rowidAlias_);
    if (dirty_ == 0)
        return;
    sqlite3_stmt*& st = updateStatements_[dirty_];
    if (!st) {
        QStringList sets;
        for (int i = 0; i < n; ++i)
            if (dirty_ & (quint64(1) << i))
                sets << quoted(fields_.at(i).name) + QStringLiteral(" = ?");
        st = prepare(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(quoted(tableName_), sets.join(u", ")));
    }
    int bindIndex = 1;
    for (int i = 0; i < n; ++i)
        if (dirty_ & (quint64(1) << i))
            bindCell(st, bindIndex++, cells_[i]);
    sqlite3_bind_int64(st, bindIndex, rowid_);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("行を保存できません"));
    const qint64 oldRowid = rowid_;
    if (rowidAlias_ >= 0 && cells_[rowidAlias_].kind == Cell::Int)
        rowid_ = cells_[rowidAlias_].i;
    const bool orderChanged = rowid_ != oldRowid || (orderField_ >= 0 && orderField_ != rowidAlias_);
    if (orderChanged) {
        recNo_ = -1;
        resetCursor();
    }
}

void Table::cancel()
{
    checkActive();
    if (!editing())
        return;
    finishDetailsBeforeChange();
    const TableState was = state_;
    state_ = TableState::Browse;
    modified_ = false;
    if (was == TableState::Insert) {
        insertPos_ = -1;
        cells_.clear();
        if (savedHasRow_) {
            loadRowById(savedRowid_);
            recNo_ = savedRecNo_;
        } else {
            clearCurrent();
            seekFirst();
        }
    } else {
        loadRowById(rowid_);
        recNo_ = savedRecNo_;
    }
    notify(evEditing);
    notify(evDataSet);
}

void Table::deleteRecord()
{
    checkActive();
    ensureRange();
    if (state_ == TableState::Insert) {
        cancel();
        return;
    }
    if (!hasRow_)
        throw DatabaseError(QStringLiteral("%1: データセットが空のため, この操作は実行できません").arg(name_));
    finishDetailsBeforeChange();
    materialize();
    const int position = recNo_;
    sqlite3_stmt* st = prepare(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quoted(tableName_)));
    sqlite3_bind_int64(st, 1, rowid_);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("行を削除できません"));
    state_ = TableState::Browse;
    modified_ = false;
    if (count_ > 0)
        --count_;
    // The row after the deleted one becomes current, or the one before it at the end.
    if (seekAfterCurrent(false)) {
        recNo_ = position;
        bof_ = false;
        eof_ = false;
    } else if (seekAfterCurrent(true)) {
        recNo_ = position > 0 ? position - 1 : -1;
        eof_ = false;
        bof_ = false;
    } else {
        clearCurrent();
        count_ = 0;
    }
    notify(evEditing);
    notify(evDataSet);
}

void Table::checkBrowseMode()
{
    if (!db_ || !editing())
        return;
    updateRecord();
    if (modified_)
        post();
    else
        cancel();
}

void Table::emptyTable()
{
    if (db_) {
        if (editing()) {
            state_ = TableState::Browse;
            modified_ = false;
            cells_.clear();
        }
        resetCursor();
        exec("DELETE FROM " + quoted(tableName_).toUtf8());
        count_ = 0;
        clearCurrent();
        seekFirst();
        notify(evDataSet);
        return;
    }
    const QString path = filePath();
    if (dir_.isEmpty() || !QFileInfo(path).isFile())
        throw DatabaseError(QStringLiteral("%1: テーブル ファイル %2 が見つかりません").arg(name_, path));
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const QString detail = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        throw DatabaseError(QStringLiteral("%1: テーブル %2 を開けません (%3)").arg(name_, path, detail));
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    const QByteArray sql = "DELETE FROM " + quoted(tableName_).toUtf8();
    const int rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        try {
            throwEngine(QStringLiteral("テーブルを空にできません"), db);
        } catch (...) {
            sqlite3_close(db);
            throw;
        }
    }
    sqlite3_close(db);
}

// ---------------------------------------------------------------- fields

FieldValue Table::fieldValue(const QString& name)
{
    const int index = requireField(name);
    ensureRange();
    if (!hasRow_)
        return FieldValue();
    return cellValue(index);
}

void Table::setFieldValue(const QString& name, const FieldValue& value)
{
    const int index = requireField(name);
    if (!editing())
        throw DatabaseError(QStringLiteral("%1: データセットが編集モードでも挿入モードでもありません").arg(name_));
    const FieldDef& def = fields_.at(index);
    Cell cell;
    if (value.isNull()) {
        cell.kind = Cell::Null;
    } else {
        switch (def.kind) {
        case FieldKind::Text: {
            QByteArray text = value.asText();
            if (def.width > 0)
                text = sjis::cutToWidth(text, def.width);
            cell.kind = Cell::Sjis;
            cell.bytes = text;
            break;
        }
        case FieldKind::Integer:
            if (value.isText()) {
                const QByteArray text = value.asText();
                qint32 v = 0;
                if (text.isEmpty()) {
                    cell.kind = Cell::Null;
                    break;
                }
                if (!parseWholeNumber(text, v))
                    throw ConversionError(QStringLiteral("項目 '%1' の値として不正です").arg(def.name));
                cell.kind = Cell::Int;
                cell.i = v;
            } else {
                cell.kind = Cell::Int;
                cell.i = value.isLogical() ? (value.asBoolean() ? 1 : 0) : value.asInteger();
            }
            break;
        case FieldKind::Logical:
            if (value.isText() && value.asText().isEmpty()) {
                cell.kind = Cell::Null;
                break;
            }
            cell.kind = Cell::Int;
            try {
                cell.i = value.asBoolean() ? 1 : 0;
            } catch (const ConversionError&) {
                throw ConversionError(QStringLiteral("項目 '%1' の値として不正です").arg(def.name));
            }
            break;
        }
    }
    materialize();
    if (cells_.empty())
        cells_.assign(fields_.size(), Cell{});
    cells_[index] = std::move(cell);
    dirty_ |= quint64(1) << index;
    if (!inNewRecordEvent_)
        modified_ = true;
    notify(evRecord, def.name);
}

void Table::copyField(Table& source, const QString& name)
{
    copyField(source, source.requireField(name), requireField(name));
}

void Table::copyField(Table& source, int from, int to)
{
    if (!editing())
        throw DatabaseError(QStringLiteral("%1: データセットが編集モードでも挿入モードでもありません").arg(name_));
    source.ensureRange();
    const FieldDef& def = fields_.at(to);
    // Text as stored is handed over as it is when it surely fits: code page 932 never takes more
    // bytes than UTF-8 for the same text. Anything else goes through the usual conversion.
    if (def.kind == FieldKind::Text && source.fields_.at(from).kind == FieldKind::Text && source.hasRow_) {
        const char* text = nullptr;
        int size = 0;
        if (!source.cells_.empty()) {
            const Cell& c = source.cells_[from];
            if (c.kind == Cell::Utf8) {
                text = c.bytes.constData();
                size = int(c.bytes.size());
            }
        } else if (source.cursorOnCurrent_ && sqlite3_column_type(source.cursor_, from) == SQLITE_TEXT) {
            text = reinterpret_cast<const char*>(sqlite3_column_text(source.cursor_, from));
            size = sqlite3_column_bytes(source.cursor_, from);
        }
        if (text && (def.width == 0 || size <= def.width)) {
            Cell cell;
            cell.kind = Cell::Utf8;
            cell.bytes = QByteArray(text, size);
            materialize();
            if (cells_.empty())
                cells_.assign(fields_.size(), Cell{});
            cells_[to] = std::move(cell);
            dirty_ |= quint64(1) << to;
            if (!inNewRecordEvent_)
                modified_ = true;
            notify(evRecord, def.name);
            return;
        }
    }
    setFieldValue(def.name, source.hasRow_ ? source.cellValue(from) : FieldValue());
}

void Table::setFieldText(const QString& name, const QByteArray& sjisText)
{
    setFieldValue(name, FieldValue::text(sjisText));
}

// ---------------------------------------------------------------- bound controls and batches

void Table::attachSource(DataSource* s)
{
    if (!sources_.contains(s))
        sources_.append(s);
}

void Table::detachSource(DataSource* s)
{
    sources_.removeAll(s);
}

void Table::notify(int event, const QString& field)
{
    if (disableCount_ > 0 && event != evUpdateData && event != evCheckBrowseMode)
        return;
    const QList<DataSource*> sources = sources_;
    for (DataSource* s : sources) {
        switch (event) {
        case evActive:
            s->notify(DataSource::Event::Active);
            break;
        case evDataSet:
            s->notify(DataSource::Event::DataSet);
            break;
        case evScroll:
            s->notify(DataSource::Event::Scroll);
            break;
        case evRecord:
            s->notify(DataSource::Event::Record, field);
            break;
        case evEditing:
            s->notify(DataSource::Event::Editing);
            break;
        case evUpdateData:
            s->notify(DataSource::Event::UpdateData);
            break;
        case evCheckBrowseMode:
            s->notify(DataSource::Event::CheckBrowseMode);
            break;
        }
    }
}

void Table::disableControls()
{
    ++disableCount_;
}

void Table::enableControls()
{
    if (disableCount_ == 0)
        return;
    if (--disableCount_ == 0)
        notify(evDataSet);
}

void Table::releaseReadLock() noexcept
{
    if (!cursor_ || batchDepth_ > 0)
        return;
    try {
        materialize();
    } catch (...) {
        return; // the row is still read through the cursor; the lock is let go another time
    }
    resetCursor();
}

void Table::beginBatch()
{
    checkActive();
    if (batchDepth_++ == 0) {
        if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
            batchDepth_ = 0;
            throwEngine(QStringLiteral("トランザクションを開始できません"));
        }
    }
}

void Table::endBatch()
{
    if (!db_ || batchDepth_ == 0)
        return;
    if (--batchDepth_ == 0) {
        if (sqlite3_get_autocommit(db_)) {
            forgetRolledBackRows(); // the engine already ended it (after an I/O error or a full disk)
            return;
        }
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            try {
                throwEngine(QStringLiteral("変更を保存できません"));
            } catch (...) {
                materialize();
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                resetCursor();
                forgetRolledBackRows();
                throw;
            }
        }
    }
}

void Table::forgetRolledBackRows()
{
    // The rows stored in the transaction are gone with it: the count and the current row, which
    // may be one of them, are read again, and bound controls show the table as it is.
    count_ = -1;
    recNo_ = -1;
    try {
        if (!editing() && hasRow_)
            loadRowById(rowid_);
        notify(evDataSet);
    } catch (...) {
        // The error that ended the transaction is the one to report.
    }
}

Table::Batch::~Batch() noexcept(false)
{
    if (std::uncaught_exceptions() > 0) {
        try {
            t_.endBatch();
        } catch (...) {
            // The error already on its way is the one the user sees.
        }
        return;
    }
    t_.endBatch();
}

// ---------------------------------------------------------------- reading rows for grids

RowSnapshot Table::snapshotFrom(sqlite3_stmt* st)
{
    const int n = int(fields_.size());
    RowSnapshot row;
    row.texts.reserve(n);
    row.nulls.reserve(n);
    for (int i = 0; i < n; ++i) {
        switch (sqlite3_column_type(st, i)) {
        case SQLITE_NULL:
            row.texts << QString();
            row.nulls << true;
            break;
        case SQLITE_INTEGER: {
            const qint64 v = sqlite3_column_int64(st, i);
            row.texts << (fields_.at(i).kind == FieldKind::Logical
                              ? (v ? QStringLiteral("True") : QStringLiteral("False"))
                              : QString::number(v));
            row.nulls << false;
            break;
        }
        default:
            row.texts << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                           sqlite3_column_bytes(st, i));
            row.nulls << false;
            break;
        }
    }
    row.rowid = sqlite3_column_int64(st, n);
    return row;
}

QList<RowSnapshot> Table::readRowsOrdered(int offset, int count, bool fromEnd)
{
    checkActive();
    ensureRange();
    QList<RowSnapshot> rows;
    sqlite3_stmt* st = prepare(QStringLiteral("SELECT %1 FROM %2%3%4 LIMIT ? OFFSET ?")
                                   .arg(columnList_, quoted(tableName_), rangeWhere(), orderBy(fromEnd)));
    int index = 1;
    bindRange(st, index);
    sqlite3_bind_int(st, index++, count);
    sqlite3_bind_int(st, index, offset);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (fromEnd)
            rows.prepend(snapshotFrom(st));
        else
            rows.append(snapshotFrom(st));
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE)
        throwEngine(QStringLiteral("テーブルを読めません"));
    return rows;
}

QList<RowSnapshot> Table::readRows(int from, int count)
{
    return readRowsOrdered(from, count, false);
}

QList<RowSnapshot> Table::readRowsFromEnd(int fromEnd, int count)
{
    return readRowsOrdered(fromEnd, count, true);
}

RowSnapshot Table::currentSnapshot()
{
    RowSnapshot row;
    if (!db_ || !hasRow_)
        return row;
    row.rowid = rowid_;
    for (int i = 0; i < fields_.size(); ++i) {
        const FieldValue v = cellValue(i);
        row.texts << v.displayText();
        row.nulls << v.isNull();
    }
    return row;
}

} // namespace halvenna

#include "data/Schema.h"

#include "data/Error.h"
#include "data/sql/PostgresConnection.h"
#include "data/sql/SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace halvenna::schema {

namespace {

// Widths are code page 932 bytes. The print fields are wide enough for what the rules derive
// from the widest postal code and telephone number these fields hold.
const char* const kMemberFields = "id_no INTEGER PRIMARY KEY, name VARCHAR(40), name_kana VARCHAR(40), "
                                  "zip VARCHAR(10), address1 VARCHAR(80), address2 VARCHAR(80), tel VARCHAR(20), "
                                  "fax VARCHAR(20), notes VARCHAR(80), zip_f VARCHAR(16), zip_r VARCHAR(10), "
                                  "tel_f VARCHAR(20), tel_m VARCHAR(20), tel_r VARCHAR(4)";

const char* const kContentsFields = "item VARCHAR(60), value VARCHAR(10), receipt_year VARCHAR(6), "
                                    "receipt_month VARCHAR(4), receipt_day VARCHAR(4), delivery_year VARCHAR(6), "
                                    "delivery_month VARCHAR(4), delivery_day VARCHAR(4), item_kind1 VARCHAR(20), "
                                    "item_kind2 VARCHAR(20)";

const char* const kAccountFields = "id_no INTEGER, amount INTEGER, amount_prn VARCHAR(24)";

// The server's column for one "name TYPE" of the lists above.
QString serverColumn(const QString& declaration)
{
    const QString name = declaration.section(u' ', 0, 0);
    const QString type = declaration.section(u' ', 1);
    if (!type.startsWith(u"VARCHAR("))
        return declaration;
    const QString width = type.mid(8, type.indexOf(u')') - 8);
    // The widths count code page 932 bytes, as in the folder's tables; the server's own SJIS is
    // that code page.
    return QStringLiteral("%1 %2 CHECK (octet_length(convert_to(%1, 'SJIS')) <= %3)").arg(name, type, width);
}

// Every change of a shared table, once per statement, tells the other PCs' open windows to read
// their screens again (the channel changeChannel(), the table's name as the payload).
QString changeTrigger(const QString& table)
{
    return QStringLiteral("CREATE TRIGGER \"%1_changed\" AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON \"%1\" "
                          "FOR EACH STATEMENT EXECUTE FUNCTION halvenna_changed();")
        .arg(table);
}

QString serverColumns(const char* list)
{
    QStringList columns;
    for (const QString& d : QString::fromLatin1(list).split(QStringLiteral(", ")))
        columns << serverColumn(d);
    return columns.join(QStringLiteral(", "));
}

QString versionTrigger(const QString& table)
{
    return QStringLiteral("CREATE TRIGGER \"%1_version\" BEFORE UPDATE ON \"%1\" FOR EACH ROW "
                          "EXECUTE FUNCTION halvenna_next_version();")
               .arg(table) +
           changeTrigger(table);
}

const QString& toolLabel()
{
    static const QString label = QStringLiteral("halvenna_mktables");
    return label;
}

qint64 countRows(sql::Connection& db, const QString& table)
{
    sql::Query q(db.prepare(QStringLiteral("SELECT COUNT(*) FROM %1").arg(db.quoted(table))));
    if (!q->step(u"行を数えられません"))
        return 0;
    return q->integer(0);
}

// Every row of table from source to target, a page at a time in the order of their identity.
qint64 copyTable(sql::Connection& source, sql::Connection& target, const QString& table, bool replace)
{
    const sql::TableColumns from = source.columns(table);
    const sql::TableColumns to = target.columns(table);
    if (from.columns.isEmpty())
        throw Error(QStringLiteral("テーブル %1 が %2 にありません").arg(table, source.location()));
    if (to.columns.isEmpty())
        throw Error(QStringLiteral("テーブル %1 が %2 にありません").arg(table, target.location()));
    QStringList fields;
    QStringList marks;
    for (const sql::Column& c : to.columns) {
        const bool known = std::any_of(from.columns.cbegin(), from.columns.cend(),
                                       [&](const sql::Column& f) { return f.name == c.name; });
        if (!known)
            throw Error(
                QStringLiteral("テーブル %1 の項目 '%2' が %3 にありません").arg(table, c.name, source.location()));
        fields << target.quoted(c.name);
        marks << QStringLiteral("?");
    }
    const qint64 held = countRows(target, table);
    if (held > 0 && !replace)
        throw Error(QStringLiteral("%1 のテーブル %2 には既に %3 行あります (置き換えるには --replace)")
                        .arg(target.location(), table)
                        .arg(held));
    if (held > 0)
        target.execute(QStringLiteral("DELETE FROM %1").arg(target.quoted(table)), u"テーブルを空にできません");
    const QString id = from.identitySql;
    sql::Statement& page =
        source.prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 > CAST(? AS BIGINT) ORDER BY %2 LIMIT ?")
                           .arg(fields.join(u", "), id, source.quoted(table)));
    sql::Statement& insert = target.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                .arg(target.quoted(table), fields.join(u", "), marks.join(u',')));
    constexpr int kPage = 5000;
    const int n = int(fields.size());
    qint64 after = std::numeric_limits<qint64>::min();
    qint64 copied = 0;
    for (;;) {
        sql::Query rows(page);
        rows->bindInteger(1, after);
        rows->bindInteger(2, kPage);
        int read = 0;
        while (rows->step(u"行を読めません")) {
            ++read;
            sql::Query q(insert);
            for (int i = 0; i < n; ++i) {
                switch (rows->type(i)) {
                case sql::ValueType::Null:
                    q->bindNull(i + 1);
                    break;
                case sql::ValueType::Integer:
                    q->bindInteger(i + 1, rows->integer(i));
                    break;
                case sql::ValueType::Text:
                    q->bindText(i + 1, rows->text(i));
                    break;
                }
            }
            q->step(u"行を保存できません");
            after = rows->integer(n);
            ++copied;
        }
        if (read < kPage)
            break;
    }
    return copied;
}

} // namespace

QStringList tableNames()
{
    return {QStringLiteral("MemberMaster"), QStringLiteral("Contents"), QStringLiteral("Account"),
            QStringLiteral("PrintMember")};
}

QString fileName(const QString& table)
{
    return table + QStringLiteral(".db");
}

QString createSql(const QString& table)
{
    if (table == u"MemberMaster")
        // The small index on print also lets the engine count members without reading every row.
        return QStringLiteral("CREATE TABLE MemberMaster (%1, print BOOLEAN);"
                              "CREATE INDEX MemberMaster_print ON MemberMaster (print);")
            .arg(QLatin1String(kMemberFields));
    if (table == u"Contents")
        return QStringLiteral("CREATE TABLE Contents (id_no INTEGER, %1);"
                              "CREATE INDEX Contents_id_no ON Contents (id_no);")
            .arg(QLatin1String(kContentsFields));
    if (table == u"Account")
        return QStringLiteral("CREATE TABLE Account (%1);"
                              "CREATE INDEX Account_id_no ON Account (id_no);")
            .arg(QLatin1String(kAccountFields));
    if (table == u"PrintMember")
        return QStringLiteral("CREATE TABLE PrintMember (%1, %2, amount INTEGER, amount_prn VARCHAR(24));")
            .arg(QString::fromLatin1(kMemberFields).replace(QStringLiteral(" PRIMARY KEY"), QString()),
                 QLatin1String(kContentsFields));
    throw Error(QStringLiteral("テーブル %1 はありません").arg(table));
}

QStringList createMissingTables(const QString& dir)
{
    if (!QDir().mkpath(dir))
        throw Error(QStringLiteral("%1 を作れません").arg(dir));
    QStringList created;
    for (const QString& table : tableNames()) {
        const QString path = QDir(dir).filePath(fileName(table));
        if (QFileInfo::exists(path))
            continue;
        const QString temp = path + QStringLiteral(".new");
        QFile::remove(temp);
        const QString sql = createSql(table);
        try {
            const auto db = sql::SqliteConnection::open(temp, path, sql::SqliteConnection::Mode::Create);
            db->execute(sql, u"CREATE");
        } catch (const sql::EngineError& e) {
            // The connection has closed by now: the half-made file can go.
            QFile::remove(temp);
            throw Error(QStringLiteral("%1 を作れません (%2)").arg(path, e.detail()));
        }
        // rename() never replaces an existing file, so a table made meanwhile is kept too.
        if (!QFile::rename(temp, path)) {
            QFile::remove(temp);
            if (!QFileInfo::exists(path))
                throw Error(QStringLiteral("%1 を作れません").arg(path));
            continue;
        }
        created << path;
    }
    return created;
}

QString changeChannel()
{
    return QStringLiteral("halvenna_changed");
}

QStringList sharedTableNames()
{
    return {QStringLiteral("MemberMaster"), QStringLiteral("Contents"), QStringLiteral("Account")};
}

QString serverCreateSql(const QString& table)
{
    const QString version = QStringLiteral("version INTEGER NOT NULL DEFAULT 1");
    if (table == u"MemberMaster")
        return QStringLiteral("CREATE TABLE \"MemberMaster\" (%1, print BOOLEAN, %2);"
                              "CREATE INDEX \"MemberMaster_print\" ON \"MemberMaster\" (print);")
                   .arg(serverColumns(kMemberFields), version) +
               versionTrigger(table);
    if (table == u"Contents")
        return QStringLiteral("CREATE TABLE \"Contents\" (row_id BIGSERIAL PRIMARY KEY, id_no INTEGER, %1, %2);"
                              "CREATE INDEX \"Contents_id_no\" ON \"Contents\" (id_no, row_id);")
                   .arg(serverColumns(kContentsFields), version) +
               versionTrigger(table);
    if (table == u"Account")
        return QStringLiteral("CREATE TABLE \"Account\" (row_id BIGSERIAL PRIMARY KEY, %1, %2);"
                              "CREATE INDEX \"Account_id_no\" ON \"Account\" (id_no, row_id);")
                   .arg(serverColumns(kAccountFields), version) +
               versionTrigger(table);
    throw Error(QStringLiteral("テーブル %1 はサーバーに置きません").arg(table));
}

QStringList createServerTables(const QString& conninfo)
{
    QStringList created;
    try {
        const auto db = sql::PostgresConnection::open(conninfo, toolLabel());
        db->begin(u"トランザクションを開始できません");
        db->execute(QStringLiteral("CREATE OR REPLACE FUNCTION halvenna_next_version() RETURNS trigger "
                                   "LANGUAGE plpgsql AS $$BEGIN NEW.version := OLD.version + 1; RETURN NEW; END$$;"),
                    u"テーブルを作れません");
        db->execute(QStringLiteral("CREATE OR REPLACE FUNCTION halvenna_changed() RETURNS trigger LANGUAGE plpgsql AS "
                                   "$$BEGIN PERFORM pg_notify('%1', TG_TABLE_NAME); RETURN NULL; END$$;")
                        .arg(changeChannel()),
                    u"テーブルを作れません");
        for (const QString& table : sharedTableNames()) {
            if (!db->columns(table).columns.isEmpty()) {
                // Tables made before the notification get it now.
                db->execute(QStringLiteral("DROP TRIGGER IF EXISTS \"%1_changed\" ON \"%1\";").arg(table) +
                                changeTrigger(table),
                            u"テーブルを作れません");
                continue;
            }
            db->execute(serverCreateSql(table), u"テーブルを作れません");
            created << table;
        }
        db->commit(u"テーブルを作れません");
    } catch (const sql::EngineError& e) {
        throw Error(e.message());
    }
    return created;
}

QList<QPair<QString, qint64>> copyRows(const QString& conninfo, const QString& dir, bool toServer, bool replace)
{
    QList<QPair<QString, qint64>> copied;
    try {
        if (!toServer)
            createMissingTables(dir);
        const auto server = sql::PostgresConnection::open(conninfo, toolLabel());
        std::vector<std::unique_ptr<sql::SqliteConnection>> files;
        for (const QString& table : sharedTableNames()) {
            const QString path = QDir(dir).filePath(fileName(table));
            if (!QFileInfo(path).isFile())
                throw Error(QStringLiteral("テーブル ファイル %1 が見つかりません").arg(path));
            files.push_back(sql::SqliteConnection::open(path, toolLabel()));
        }
        // One transaction on each side: the receiving side takes every table or none, and the
        // sending side is read as it stood at one moment.
        server->begin(u"トランザクションを開始できません");
        for (const auto& f : files)
            f->begin(u"トランザクションを開始できません");
        try {
            const QStringList tables = sharedTableNames();
            for (int i = 0; i < tables.size(); ++i) {
                const QString& table = tables.at(i);
                sql::Connection& file = *files[size_t(i)];
                copied.append({table, toServer ? copyTable(file, *server, table, replace)
                                               : copyTable(*server, file, table, replace)});
            }
            if (toServer) {
                for (const auto& f : files)
                    f->rollback();
                server->commit(u"変更を保存できません");
            } else {
                server->rollback();
                // Each file is its own database: should one commit fail after another, the message
                // says which, and running again with --replace mends it.
                for (const auto& f : files)
                    f->commit(u"変更を保存できません");
            }
        } catch (...) {
            server->rollback();
            for (const auto& f : files)
                f->rollback();
            throw;
        }
    } catch (const sql::EngineError& e) {
        throw Error(e.message());
    }
    return copied;
}

} // namespace halvenna::schema

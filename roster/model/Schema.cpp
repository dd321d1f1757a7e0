#include "roster/model/Schema.h"

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

// Every row's version comes from one sequence for the whole server, at insert (the column's
// default) and at every update (the trigger): a row deleted and made again, or put back from a
// safety copy, never carries a version a PC read before, so a store of the old row is refused.
const char* const kVersionSequence = "halvenna_row_version";
const char* const kVersionFunction = "halvenna_next_version";

QString versionFunctionSql()
{
    return QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS "
                          "$$BEGIN NEW.version := nextval('%2'); RETURN NEW; END$$;")
        .arg(QLatin1String(kVersionFunction), QLatin1String(kVersionSequence));
}

QString versionColumn()
{
    return QStringLiteral("version BIGINT NOT NULL DEFAULT nextval('%1')").arg(QLatin1String(kVersionSequence));
}

QString versionTrigger(const QString& table)
{
    return QStringLiteral("CREATE TRIGGER \"%1_version\" BEFORE UPDATE ON \"%1\" FOR EACH ROW "
                          "EXECUTE FUNCTION %2();")
        .arg(table, QLatin1String(kVersionFunction));
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
    const QString version = versionColumn();
    if (table == u"MemberMaster")
        return QStringLiteral("CREATE TABLE \"MemberMaster\" (%1, print BOOLEAN, %2);"
                              "CREATE INDEX \"MemberMaster_print\" ON \"MemberMaster\" (print);")
                   .arg(serverColumns(kMemberFields), version) +
               versionTrigger(table) + changeTrigger(table);
    if (table == u"Contents")
        return QStringLiteral("CREATE TABLE \"Contents\" (row_id BIGSERIAL PRIMARY KEY, id_no INTEGER, %1, %2);"
                              "CREATE INDEX \"Contents_id_no\" ON \"Contents\" (id_no, row_id);")
                   .arg(serverColumns(kContentsFields), version) +
               versionTrigger(table) + changeTrigger(table);
    if (table == u"Account")
        return QStringLiteral("CREATE TABLE \"Account\" (row_id BIGSERIAL PRIMARY KEY, %1, %2);"
                              "CREATE INDEX \"Account_id_no\" ON \"Account\" (id_no, row_id);")
                   .arg(serverColumns(kAccountFields), version) +
               versionTrigger(table) + changeTrigger(table);
    throw Error(QStringLiteral("テーブル %1 はサーバーに置きません").arg(table));
}

namespace {

// One row of facts about a shared table on the server: whether it is there, its columns, whether its
// version takes the server-wide sequence, and whether its trigger raises the version from it.
struct ServerShape
{
    bool exists = false;
    QStringList columns;
    QString versionType;
    bool versionFromSequence = false;
    bool trigger = false;
};

ServerShape serverShape(sql::Connection& db, const QString& table)
{
    // tgtype 19: a row trigger, before, on update.
    sql::Query q(db.prepare(QStringLiteral(
        "SELECT (SELECT string_agg(a.attname::text, ',' ORDER BY a.attnum) FROM pg_attribute a "
        "        WHERE a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped), "
        "  COALESCE((SELECT format_type(a.atttypid, a.atttypmod) FROM pg_attribute a "
        "            WHERE a.attrelid = c.oid AND a.attname = 'version' AND NOT a.attisdropped), ''), "
        "  COALESCE((SELECT pg_get_expr(d.adbin, d.adrelid) FROM pg_attrdef d JOIN pg_attribute a "
        "            ON a.attrelid = d.adrelid AND a.attnum = d.adnum "
        "            WHERE d.adrelid = c.oid AND a.attname = 'version'), ''), "
        "  EXISTS (SELECT 1 FROM pg_trigger t JOIN pg_proc p ON p.oid = t.tgfoid "
        "          WHERE t.tgrelid = c.oid AND p.proname = ? AND t.tgenabled <> 'D' AND (t.tgtype & 19) = 19 "
        "            AND p.prosrc LIKE '%' || ? || '%') "
        "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relname = ? AND n.nspname = current_schema() AND c.relkind IN ('r', 'p')")));
    q->bindText(1, QByteArray(kVersionFunction));
    q->bindText(2, QByteArray(kVersionSequence));
    q->bindText(3, table.toUtf8());
    ServerShape shape;
    if (!q->step(QStringLiteral("テーブル %1 を読めません").arg(table)))
        return shape;
    shape.exists = true;
    if (q->type(0) != sql::ValueType::Null)
        shape.columns = QString::fromUtf8(q->text(0)).split(u',');
    shape.versionType = QString::fromUtf8(q->text(1));
    shape.versionFromSequence = QString::fromUtf8(q->text(2)).contains(QLatin1String(kVersionSequence));
    shape.trigger = q->integer(3) != 0;
    return shape;
}

// The fields of a shared table as the folder's table files have them.
QStringList fieldNames(const QString& table)
{
    QStringList names;
    const QString sql = createSql(table);
    const QString list = sql.mid(sql.indexOf(u'(') + 1);
    for (const QString& d : list.left(list.indexOf(QStringLiteral(");"))).split(QStringLiteral(", ")))
        names << d.section(u' ', 0, 0);
    return names;
}

bool exists(sql::Connection& db, const QString& sql)
{
    sql::Query q(db.prepare(sql));
    return q->step(u"サーバーを読めません") && q->integer(0) != 0;
}

} // namespace

QStringList createServerTables(const QString& conninfo, QStringList* updated)
{
    QStringList created;
    try {
        const auto db = sql::PostgresConnection::open(conninfo, toolLabel());
        db->begin(u"トランザクションを開始できません");
        const QString what = QStringLiteral("テーブルを作れません");
        // Made once: a second run (perhaps as the role that owns the tables, not the one that made
        // the function) changes nothing that is already right.
        if (!exists(*db, QStringLiteral("SELECT to_regclass('halvenna_row_version') IS NOT NULL"))) {
            db->execute(QStringLiteral("CREATE SEQUENCE %1 AS BIGINT").arg(QLatin1String(kVersionSequence)), what);
            // Tables from before the sequence keep their rows' versions: it starts beyond them.
            for (const QString& table : sharedTableNames())
                if (!serverShape(*db, table).versionType.isEmpty())
                    db->execute(QStringLiteral("SELECT setval('%1', GREATEST((SELECT last_value FROM %1), "
                                               "(SELECT COALESCE(max(version), 1) FROM \"%2\")))")
                                    .arg(QLatin1String(kVersionSequence), table),
                                what);
        }
        if (!exists(*db, QStringLiteral("SELECT count(*) FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                                        "WHERE p.proname = 'halvenna_next_version' AND n.nspname = current_schema() "
                                        "AND p.prosrc LIKE '%halvenna_row_version%'")))
            db->execute(versionFunctionSql(), what);
        if (!exists(*db, QStringLiteral("SELECT count(*) FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                                        "WHERE p.proname = 'halvenna_changed' AND n.nspname = current_schema()")))
            db->execute(QStringLiteral("CREATE FUNCTION halvenna_changed() RETURNS trigger LANGUAGE plpgsql AS "
                                       "$$BEGIN PERFORM pg_notify('%1', TG_TABLE_NAME); RETURN NULL; END$$;")
                            .arg(changeChannel()),
                        what);
        for (const QString& table : sharedTableNames()) {
            const ServerShape shape = serverShape(*db, table);
            if (!shape.exists) {
                db->execute(serverCreateSql(table), what);
                created << table;
                continue;
            }
            // A table of an earlier layout is brought up to this one; its rows stay as they are.
            QStringList changes;
            if (shape.versionType.isEmpty())
                changes << QStringLiteral("ADD COLUMN ") + versionColumn();
            else if (!shape.versionFromSequence || !shape.versionType.startsWith(u"bigint"))
                changes << QStringLiteral("ALTER COLUMN version TYPE BIGINT")
                        << QStringLiteral("ALTER COLUMN version SET DEFAULT nextval('%1')")
                               .arg(QLatin1String(kVersionSequence));
            if (!changes.isEmpty())
                db->execute(QStringLiteral("ALTER TABLE \"%1\" %2").arg(table, changes.join(QStringLiteral(", "))),
                            what);
            if (!shape.trigger) {
                // A trigger of that name that is disabled or calls something else makes way.
                if (exists(*db, QStringLiteral("SELECT count(*) FROM pg_trigger WHERE tgname = '%1_version' "
                                               "AND tgrelid = to_regclass('\"%1\"')")
                                    .arg(table)))
                    db->execute(QStringLiteral("DROP TRIGGER \"%1_version\" ON \"%1\"").arg(table), what);
                db->execute(versionTrigger(table), what);
            }
            // Tables made before the change notification get it now.
            const bool notifies =
                exists(*db, QStringLiteral("SELECT count(*) FROM pg_trigger WHERE tgname = '%1_changed' "
                                           "AND tgrelid = to_regclass('\"%1\"')")
                                .arg(table));
            if (!notifies)
                db->execute(changeTrigger(table), what);
            if ((!changes.isEmpty() || !shape.trigger || !notifies) && updated)
                *updated << table;
        }
        db->commit(u"テーブルを作れません");
    } catch (const sql::EngineError& e) {
        throw Error(e.message());
    }
    return created;
}

QString grantSql(const QString& role)
{
    QString quoted = role;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    quoted = u'"' + quoted + u'"';
    return QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON \"MemberMaster\", \"Contents\", \"Account\" TO %1;\n"
                          "GRANT USAGE ON SEQUENCE %2, \"Contents_row_id_seq\", \"Account_row_id_seq\" TO %1;\n")
        .arg(quoted, QLatin1String(kVersionSequence));
}

void checkServerTable(sql::Connection& db, const QString& table, const QString& label)
{
    const ServerShape shape = serverShape(db, table);
    if (!shape.exists)
        return; // the table layer says that it is missing
    QString lacking;
    for (const QString& field : fieldNames(table))
        if (!shape.columns.contains(field, Qt::CaseInsensitive)) {
            lacking = QStringLiteral("項目 '%1'").arg(field);
            break;
        }
    if (lacking.isEmpty() && shape.versionType.isEmpty())
        lacking = QStringLiteral("項目 'version'");
    else if (lacking.isEmpty() && !shape.versionFromSequence)
        lacking = QStringLiteral("項目 'version' の連番 %1").arg(QLatin1String(kVersionSequence));
    else if (lacking.isEmpty() && !shape.trigger)
        lacking = QStringLiteral("トリガー %1_version").arg(table);
    if (lacking.isEmpty())
        return;
    throw DatabaseError(QStringLiteral("%1: サーバー %2 のテーブル %3 に %4 がありません。テーブルは "
                                       "halvenna_mktables --server で作るか更新してください")
                            .arg(label, db.location(), table, lacking));
}

QList<QPair<QString, qint64>> copyRows(const QString& conninfo, const QString& dir, bool toServer, bool replace)
{
    QList<QPair<QString, qint64>> copied;
    try {
        // The server first: nothing is written into the folder for a server that cannot be reached.
        const auto server = sql::PostgresConnection::open(conninfo, toolLabel());
        if (!toServer)
            createMissingTables(dir);
        std::vector<std::unique_ptr<sql::SqliteConnection>> files;
        for (const QString& table : sharedTableNames()) {
            const QString path = QDir(dir).filePath(fileName(table));
            if (!QFileInfo(path).isFile())
                throw Error(QStringLiteral("テーブル ファイル %1 が見つかりません").arg(path));
            files.push_back(sql::SqliteConnection::open(path, toolLabel()));
        }
        // One transaction on each side: the receiving side takes every table or none, and the
        // sending side is read as it stood at one moment (on the server, one snapshot for every
        // page of the three tables, however other PCs change them meanwhile).
        if (toServer) {
            for (const QString& table : sharedTableNames())
                checkServerTable(*server, table, toolLabel());
            server->begin(u"トランザクションを開始できません");
        } else {
            server->execute(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"),
                            u"トランザクションを開始できません");
        }
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

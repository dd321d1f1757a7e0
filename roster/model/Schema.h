#pragma once

#include <QString>
#include <QStringList>

namespace halvenna::sql {
class Connection;
}

// The four table files as the install step lays them out. The program itself never creates or
// alters a table file; the install step and the tests' fixtures do, through this one definition.
namespace halvenna::schema {

// The table names, in the order the data module opens them.
QStringList tableNames();
// The file of a table: "<name>.db".
QString fileName(const QString& table);
// The SQL that creates the table (and its index).
QString createSql(const QString& table);
// Creates, in dir, each table file that does not exist yet; an existing file is never touched.
// Each file is built beside its place and renamed into it, so no half-made table is ever left.
// Returns the files created. Throws halvenna::Error on failure.
QStringList createMissingTables(const QString& dir);

// --- the shared tables on a PostgreSQL server (conninfo: a libpq connection string or URI)

// The tables a server keeps; the staging table stays in each PC's folder.
QStringList sharedTableNames();
// The SQL that creates a shared table on the server: the same fields, each text's width a check on
// its length in code page 932 bytes, the key on id_no (a hidden row_id for the tables without
// one), and a version the server raises at every change of a row.
QString serverCreateSql(const QString& table);
// The channel on which the server tells of every change of a shared table (LISTEN/NOTIFY), the
// table's name as the payload: open windows on other PCs read their screens again.
QString changeChannel();
// Creates on the server each shared table that is not there yet; existing ones are kept, brought up
// to the versions from one server-wide sequence and the change notification where they are older
// (listed in updated). The
// sequence and the trigger's function are made only when missing. All in one transaction. Returns
// the tables created. Throws halvenna::Error.
QStringList createServerTables(const QString& conninfo, QStringList* updated = nullptr);
// The GRANTs that let role use the shared tables day to day, and nothing more.
QString grantSql(const QString& role);
// Throws DatabaseError "<label>: サーバー <where> のテーブル <table> に <what> がありません。..." when
// a shared table on db lacks a field, the version column, its sequence or the trigger: without them
// a change another PC made would be overwritten unnoticed. A missing table passes (the table layer
// reports it).
void checkServerTable(sql::Connection& db, const QString& table, const QString& label);
// Copies the rows of the shared tables from the folder's table files to the server (toServer) or
// the other way, in one transaction on each side; the tables on the receiving side must exist
// (a missing table file is made). A receiving table that holds rows is refused ("... には既に
// N 行あります") unless replace, which empties it first. Returns the rows copied per table.
// Throws halvenna::Error.
QList<QPair<QString, qint64>> copyRows(const QString& conninfo, const QString& dir, bool toServer, bool replace);

} // namespace halvenna::schema

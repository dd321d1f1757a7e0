#pragma once

#include <QString>
#include <QStringList>

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

} // namespace halvenna::schema

#pragma once

// Rows of a table file as another program sees them (only what is committed), read with SQLite
// itself rather than through the table layer under test.

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

// Every row sql gives, each value as text (UTF-8 as stored); null as "<null>". A file or query that
// cannot be read gives one row naming what went wrong, which no expected table matches.
inline QList<QStringList> storedRows(const QString& dbFile, const char* sql)
{
    QList<QStringList> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {{QStringLiteral("<cannot open>")}};
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {{QStringLiteral("<cannot read>")}};
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(st); ++i)
            row << (sqlite3_column_type(st, i) == SQLITE_NULL
                        ? QStringLiteral("<null>")
                        : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                            sqlite3_column_bytes(st, i)));
        rows << row;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

#pragma once

#include "common/PrivatePostgres.h"
#include "common/StoredRows.h"
#include "data/SjisText.h"
#include "data/Table.h"
#include "roster/model/DataModule.h"
#include "roster/model/Schema.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Which engine keeps the shared tables in this run: the folder (the default) or, with
// HALVENNA_TEST_ENGINE=postgres, a PostgreSQL server the run starts for itself (the same suite is
// registered once per engine). The staging table stays in the folder either way.
namespace engine {

inline bool onServer()
{
    static const bool server = qgetenv("HALVENNA_TEST_ENGINE") == "postgres";
    return server;
}

// The run's server, started on first use and stopped when the run ends.
inline PrivatePostgres& server()
{
    static PrivatePostgres pg;
    static const bool started = [] {
        if (!pg.start())
            qFatal("cannot start the test's PostgreSQL server: %s", qPrintable(pg.error()));
        return true;
    }();
    Q_UNUSED(started);
    return pg;
}

// The shared tables on the run's server, made anew: empty, as the schema tool makes them.
inline QString freshServerTables()
{
    PrivatePostgres& pg = server();
    if (!pg.psql(QStringLiteral("DROP TABLE IF EXISTS \"MemberMaster\", \"Contents\", \"Account\"")))
        qFatal("cannot empty the test's server: %s", qPrintable(pg.error()));
    halvenna::schema::createServerTables(pg.conninfo());
    return pg.conninfo();
}

} // namespace engine

// Four empty tables in a temporary folder (the shared three on the run's server, where the run
// has one) and a data module that has opened them.
struct DataFixture
{
    QTemporaryDir dir;
    std::unique_ptr<TDataModule1> dm;

    DataFixture()
    {
        halvenna::schema::createMissingTables(dir.path());
        dm = std::make_unique<TDataModule1>(dir.path());
        if (engine::onServer())
            dm->setServer(engine::freshServerTables());
        dm->DataModuleCreate();
    }

    halvenna::Table& members() { return dm->tbMemberMaster; }

    static halvenna::FieldValue text(const QString& s) { return halvenna::FieldValue::fromString(s); }

    // Appends and posts a member the way the roster does (the record rules run).
    void addMember(int id, const QString& name, const QString& zip = {}, const QString& tel = {})
    {
        halvenna::Table& t = members();
        t.append();
        t.setFieldValue(QStringLiteral("id_no"), halvenna::FieldValue::integer(id));
        t.setFieldValue(QStringLiteral("name"), text(name));
        if (!zip.isNull())
            t.setFieldValue(QStringLiteral("zip"), text(zip));
        if (!tel.isNull())
            t.setFieldValue(QStringLiteral("tel"), text(tel));
        t.post();
    }

    // Members id_no = first, first + step, ... named "会員<n>", in one transaction.
    void addMembers(int count, int first = 0, int step = 1)
    {
        halvenna::Table::Batch batch(members());
        for (int i = 0; i < count; ++i)
            addMember(first + i * step, QStringLiteral("会員%1").arg(i));
    }

    // The committed rows sql gives, read by another program: SQLite on the file, psql on the
    // run's server (where a table's name in sql, as written in double quotes, keeps its case).
    QList<QStringList> committedRows(halvenna::Table& t, const char* sql)
    {
        if (t.server().isEmpty())
            return storedRows(t.filePath(), QString::fromUtf8(sql).remove(u'"').toUtf8().constData());
        QString out;
        if (!engine::server().psql(
                QStringLiteral("\\pset null <null>\n\\pset fieldsep_zero\n%1").arg(QString::fromUtf8(sql)), &out))
            return {{QStringLiteral("<cannot read> ") + engine::server().error()}};
        QList<QStringList> rows;
        for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts))
            rows << line.split(QChar(0));
        return rows;
    }

    QString str(halvenna::Table& t, const char* field) { return t.fieldValue(QLatin1String(field)).displayText(); }
};

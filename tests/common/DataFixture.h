#pragma once

#include "common/PrivatePostgres.h"
#include "common/StoredRows.h"
#include "data/SjisText.h"
#include "data/Table.h"
#include "data/sql/PostgresConnection.h"
#include "data/sql/SqliteConnection.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"
#include "roster/model/Schema.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <span>
#include <utility>

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

// A member as a set-up stores it; a null text is a null field.
struct MemberRow
{
    MemberRow(int id, QString name, QString zip = {}, QString tel = {})
        : id(id), name(std::move(name)), zip(std::move(zip)), tel(std::move(tel))
    {}
    int id;
    QString name, zip, tel;
};

// Stores members the quick way, for a set-up that needs thousands: one transaction on a connection
// of the engine's own to the table's file or server (the schema tool's way in), a page of rows per
// INSERT with every value bound. Each value is what posting would store: converted and cut to its
// field as the table converts it, the print fields derived by the record rules from the values as
// cut. The open table lets go of its read lock first, reads again after, knows its count and stands
// on the last member stored, as after posting them one by one. Throws what the engine throws.
inline void storeMembersInBulk(halvenna::Table& members, const QList<MemberRow>& rows)
{
    namespace sql = halvenna::sql;
    using halvenna::FieldValue;
    if (rows.isEmpty())
        return;
    // The member's own fields (zip and tel, in the order the rule reads them), then what the rule derives.
    static const QStringList kColumns = QStringList{"id_no", "name"} + halvenna::rules::memberSourceFields().names() +
                                        halvenna::rules::memberDerivedFields().names();
    std::vector<int> fields;
    QStringList quoted;
    for (const QString& name : kColumns)
        fields.push_back(members.fieldIndex(name));
    members.releaseReadLock();
    const QString label = QStringLiteral("test set-up");
    std::unique_ptr<sql::Connection> db;
    if (members.server().isEmpty())
        db = sql::SqliteConnection::open(members.filePath(), label);
    else
        db = sql::PostgresConnection::open(members.server(), label);
    for (const QString& name : kColumns)
        quoted << db->quoted(name);
    // A page of rows per statement: one round trip to a server instead of one per member.
    constexpr int kPage = 500;
    const QString oneRow = QStringLiteral("(%1)").arg(QStringList(kColumns.size(), QStringLiteral("?")).join(u", "));
    const auto insertOf = [&](qsizetype count) -> sql::Statement& {
        return db->prepare(
            QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                .arg(db->quoted(members.tableName()), quoted.join(u", "), QStringList(count, oneRow).join(u", ")));
    };
    const auto text = [](const QString& s) { return s.isNull() ? FieldValue() : FieldValue::fromString(s); };
    db->begin(u"BEGIN");
    for (qsizetype from = 0; from < rows.size(); from += kPage) {
        const qsizetype count = std::min<qsizetype>(kPage, rows.size() - from);
        sql::Query q(insertOf(count));
        int index = 0;
        for (const MemberRow& row : rows.mid(from, count)) {
            std::vector<FieldValue> values{FieldValue::integer(row.id), text(row.name), text(row.zip), text(row.tel)};
            for (int i = 1; i < 4; ++i)
                values[i] = members.convertedValue(fields[i], values[i]);
            std::vector<FieldValue> derived;
            halvenna::rules::deriveMemberFields(std::span<const FieldValue>(values).subspan(2, 2), derived);
            for (const FieldValue& v : derived)
                values.push_back(members.convertedValue(fields[values.size()], v));
            for (const FieldValue& v : values) {
                ++index;
                if (v.isNull())
                    q->bindNull(index);
                else if (v.isInteger())
                    q->bindInteger(index, v.asInteger());
                else
                    q->bindText(index, halvenna::sjis::toUnicode(v.asText()).toUtf8());
            }
        }
        q->step(u"INSERT");
    }
    db->commit(u"COMMIT");
    db.reset();
    members.readAgain();
    members.recordCount();
    members.locate(QStringLiteral("id_no"), FieldValue::integer(rows.last().id));
}

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

    // Members id_no = first, first + step, ... named "会員<n>", stored in bulk (storeMembersInBulk):
    // the rows posting them would store, the table standing on the last.
    void addMembers(int count, int first = 0, int step = 1)
    {
        QList<MemberRow> rows;
        rows.reserve(count);
        for (int i = 0; i < count; ++i)
            rows << MemberRow{first + i * step, QStringLiteral("会員%1").arg(i)};
        storeMembersInBulk(members(), rows);
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

#include "data/Schema.h"

#include "data/Error.h"
#include "data/sql/SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
        return QStringLiteral("CREATE TABLE Account (id_no INTEGER, amount INTEGER, amount_prn VARCHAR(24));"
                              "CREATE INDEX Account_id_no ON Account (id_no);");
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

} // namespace halvenna::schema

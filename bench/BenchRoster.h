#pragma once

// Realistic rosters for the benchmarks, written straight into a table file in one transaction.
#include "BenchSupport.h"
#include "roster/model/Schema.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace bench {

inline QString memberName(int i)
{
    static const char16_t* family[] = {u"山田", u"佐藤", u"鈴木", u"高橋", u"田中", u"伊藤", u"渡辺", u"中村"};
    static const char16_t* given[] = {u"太郎", u"花子", u"一郎", u"美咲", u"健太", u"陽子", u"翔", u"愛"};
    return QString::fromUtf16(family[i % 8]) + QString::fromUtf16(given[(i / 8) % 8]);
}

inline QString memberAddress(int i)
{
    static const char16_t* city[] = {u"東京都渋谷区神宮前", u"大阪府大阪市北区梅田", u"北海道札幌市中央区北一条西",
                                     u"福岡県福岡市博多区博多駅前"};
    return QString::fromUtf16(city[i % 4]) + QStringLiteral("%1-%2-%3").arg(i % 9 + 1).arg(i % 30 + 1).arg(i % 17 + 1);
}

// A folder with the four tables, MemberMaster holding `members` rows numbered 0..members-1.
class Roster
{
public:
    explicit Roster(int members)
    {
        halvenna::schema::createMissingTables(dir_.path());
        const auto connection = openSqlite(QDir(dir_.path()).filePath("MemberMaster.db"));
        sqlite3* db = connection->handle();
        exec(db, "BEGIN");
        Statement st(db, "INSERT INTO MemberMaster (id_no, name, name_kana, zip, address1, address2, tel, fax, "
                         "notes, zip_f, zip_r, tel_f, tel_m, tel_r, print) "
                         "VALUES (?, ?, 'ヤマダタロウ', '150-0001', ?, 'ハイツ201号室', '03-1234-5678', "
                         "'03-1234-5679', '', '1  5  0', '0  0  0  1', '03', '1234', '5678', 0)");
        for (int i = 0; i < members; ++i) {
            const QByteArray name = memberName(i).toUtf8();
            const QByteArray address = memberAddress(i).toUtf8();
            sqlite3_bind_int(st, 1, i);
            sqlite3_bind_text(st, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, address.constData(), int(address.size()), SQLITE_TRANSIENT);
            st.run();
        }
        exec(db, "COMMIT");
    }
    QString path() const { return dir_.path(); }
    QString file(const char* name) const { return QDir(dir_.path()).filePath(QLatin1String(name)); }

private:
    QTemporaryDir dir_;
};

} // namespace bench

// The shared tables on a PostgreSQL server on this machine (started by the benchmark itself):
//   open:       opening the tables and reading the roster's first screen on 100,000 members,
//               against the same on 100;
//   import:     importing 100,000 CSV lines, against psql's \copy of the same rows into the same
//               table (process start included);
//   wide:       the same import, against \copy of the rows with their five print fields too: the
//               server's own work for what the import stores;
//   select-all: marking every one of 100,000 members, against one UPDATE of print plus deriving
//               every member's print fields in the same process;
//   notify:     the same import, against the import into tables without the trigger that tells
//               other PCs of each change.
// Each figure is the ratio of the two in the same run, over several runs (min–max).
#include "BenchRoster.h"
#include "common/PrivatePostgres.h"
#include "data/SjisText.h"
#include "data/sql/PostgresConnection.h"
#include "printing/jobs/PrintJobs.h"
#include "roster/import/MemberImport.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"
#include "roster/model/Schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kBig = 100000;
constexpr int kSmall = 100;

double seconds(const std::function<void()>& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e9;
}

void report(const char* name, const std::vector<double>& ratios, const std::vector<double>& own)
{
    const auto [lo, hi] = std::minmax_element(ratios.cbegin(), ratios.cend());
    const auto [ownLo, ownHi] = std::minmax_element(own.cbegin(), own.cend());
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-11s %.2f–%.2f × its yardstick, median %.2f (%zu runs; %.3f–%.3f s)\n", name, *lo, *hi,
                sorted[sorted.size() / 2], ratios.size(), *ownLo, *ownHi);
    std::fflush(stdout);
}

// A database on the server holding the shared tables with `members` members copied from a folder.
QString serverRoster(PrivatePostgres& pg, const QString& name, int members)
{
    if (!pg.createDatabase(name))
        throw std::runtime_error(pg.error().toStdString());
    const QString conninfo = pg.conninfo(name);
    halvenna::schema::createServerTables(conninfo);
    if (members > 0) {
        bench::Roster roster(members);
        halvenna::schema::copyRows(conninfo, roster.path(), true, false);
    }
    return conninfo;
}

// Opens the tables and reads what the roster's grid shows first: its estimated size and a screen.
void openFirstScreen(const QString& conninfo, const QString& folder)
{
    TDataModule1 dm(folder);
    dm.setServer(conninfo);
    dm.DataModuleCreate();
    if (dm.tbMemberMaster.estimatedRecordCount() <= 0 || dm.tbMemberMaster.readRows(0, 40).isEmpty())
        throw std::runtime_error("no first screen");
    dm.DataModuleDestroy();
}

// The CSV lines as the import reads them (code page 932), and as \copy reads them (UTF-8), those
// also with the print fields the import derives from every line's postal code and telephone.
void writeCsv(const QString& cp932Path, const QString& utf8Path, const QString& widePath, int lines)
{
    QFile cp932(cp932Path);
    QFile utf8(utf8Path);
    QFile wide(widePath);
    if (!cp932.open(QIODevice::WriteOnly) || !utf8.open(QIODevice::WriteOnly) || !wide.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the CSV files");
    const halvenna::rules::ZipAndTel derived = halvenna::rules::splitZipAndTel(
        halvenna::FieldValue::text("150-0001"), halvenna::FieldValue::text("03-1234-5678"));
    QByteArray printFields;
    for (const QByteArray* part : {&derived.zipF, &derived.zipR, &derived.telF, &derived.telM, &derived.telR})
        printFields += ',' + halvenna::sjis::toUnicode(*part).toUtf8();
    for (int i = 1; i <= lines; ++i) {
        const QString line = QStringLiteral("%1,%2,ヤマダタロウ,150-0001,%3,ハイツ201号室,03-1234-5678,03-1234-5679")
                                 .arg(i)
                                 .arg(bench::memberName(i), bench::memberAddress(i));
        cp932.write(halvenna::sjis::fromUnicode(line) + "\r\n");
        utf8.write(line.toUtf8() + "\n");
        wide.write(line.toUtf8() + printFields + "\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    PrivatePostgres pg;
    if (!pg.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(pg.error()));
        return 1;
    }
    QTemporaryDir folder;
    halvenna::schema::createMissingTables(folder.path());
    try {
        // ---- open
        const QString big = serverRoster(pg, QStringLiteral("big"), kBig);
        const QString small = serverRoster(pg, QStringLiteral("small"), kSmall);
        openFirstScreen(big, folder.path()); // warm both once
        openFirstScreen(small, folder.path());
        std::vector<double> ratios, own;
        for (int i = 0; i < runs * 4; ++i) {
            const double b = seconds([&] { openFirstScreen(big, folder.path()); });
            const double s = seconds([&] { openFirstScreen(small, folder.path()); });
            ratios.push_back(b / s);
            own.push_back(b);
        }
        report("open", ratios, own);

        // ---- select-all
        ratios.clear();
        own.clear();
        for (int i = 0; i < runs; ++i) {
            const bool mark = i % 2 == 0;
            TDataModule1 dm(folder.path());
            dm.setServer(big);
            dm.DataModuleCreate();
            const double ours = seconds([&] { halvenna::setAllPrintMarks(dm.tbMemberMaster, mark); });
            dm.DataModuleDestroy();
            const double yardstick = seconds([&] {
                const auto db = halvenna::sql::PostgresConnection::open(big, QStringLiteral("bench"));
                db->execute(QStringLiteral("UPDATE \"MemberMaster\" SET print = %1").arg(mark ? u"false" : u"true"),
                            u"update");
                halvenna::sql::Query q(db->prepare(QStringLiteral("SELECT zip, tel FROM \"MemberMaster\"")));
                int derived = 0;
                while (q->step(u"read"))
                    derived +=
                        int(halvenna::rules::splitZipAndTel(
                                halvenna::FieldValue::text(halvenna::sjis::fromUnicode(QString::fromUtf8(q->text(0)))),
                                halvenna::FieldValue::text(halvenna::sjis::fromUnicode(QString::fromUtf8(q->text(1)))))
                                .zipF.size());
                if (derived == 0)
                    throw std::runtime_error("nothing derived");
            });
            ratios.push_back(ours / yardstick);
            own.push_back(ours);
        }
        report("select-all", ratios, own);

        // ---- import
        QTemporaryDir files;
        const QString cp932 = files.filePath(QStringLiteral("members.csv"));
        const QString utf8 = files.filePath(QStringLiteral("members-utf8.csv"));
        const QString wide = files.filePath(QStringLiteral("members-wide.csv"));
        writeCsv(cp932, utf8, wide, kBig);
        ratios.clear();
        own.clear();
        std::vector<double> wideRatios;
        std::vector<double> notifyRatios, notifyOwn;
        const auto importInto = [&](const QString& conninfo) {
            return seconds([&] {
                TDataModule1 dm(folder.path());
                dm.setServer(conninfo);
                dm.DataModuleCreate();
                halvenna::MemberImport import(dm.tbMemberMaster);
                if (import.run(cp932) != kBig)
                    throw std::runtime_error("import short");
                dm.DataModuleDestroy();
            });
        };
        for (int i = 0; i < runs; ++i) {
            const QString into = serverRoster(pg, QStringLiteral("import%1").arg(i), 0);
            const QString copyInto = serverRoster(pg, QStringLiteral("copy%1").arg(i), 0);
            const QString quiet = serverRoster(pg, QStringLiteral("quiet%1").arg(i), 0);
            if (!pg.psqlOn(QStringLiteral("quiet%1").arg(i),
                           QStringLiteral("DROP TRIGGER \"MemberMaster_changed\" ON \"MemberMaster\"")))
                throw std::runtime_error(pg.error().toStdString());
            // Alternating which goes first, so that neither always meets a warmer server.
            const double withoutNotify = i % 2 ? importInto(quiet) : 0;
            const double ours = importInto(into);
            const double without = i % 2 ? withoutNotify : importInto(quiet);
            notifyRatios.push_back(ours / without);
            notifyOwn.push_back(ours);
            const auto copy = [&](const QString& database, const QString& columns, const QString& file) {
                return seconds([&] {
                    QProcess psql;
                    psql.start(pg.psqlProgram(),
                               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), database, QStringLiteral("-c"),
                                QStringLiteral("\\copy \"MemberMaster\" (%1) FROM '%2' CSV").arg(columns, file)});
                    if (!psql.waitForFinished(600000) || psql.exitCode() != 0)
                        throw std::runtime_error(psql.readAllStandardError().toStdString());
                });
            };
            const QString columns = QStringLiteral("id_no, name, name_kana, zip, address1, address2, tel, fax");
            const double yardstick = copy(copyInto, columns, utf8);
            const double wideYardstick = copy(serverRoster(pg, QStringLiteral("wide%1").arg(i), 0),
                                              columns + QStringLiteral(", zip_f, zip_r, tel_f, tel_m, tel_r"), wide);
            wideRatios.push_back(ours / wideYardstick);
            ratios.push_back(ours / yardstick);
            own.push_back(ours);
        }
        report("import", ratios, own);
        report("wide", wideRatios, own);
        report("notify", notifyRatios, notifyOwn);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

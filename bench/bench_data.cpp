// The table layer on small and big rosters: opening and showing the first screen, walking, and
// marking every member, each against its bare SQLite yardstick; the summary at the end gives the
// paired ratios.
#include "BenchRoster.h"
#include "data/Table.h"
#include "gui/DbGridModel.h"
#include "printing/jobs/PrintJobs.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kMembers = 100000;

// Ratios of paired iterations, by what they compare, for the summary.
std::map<std::string, std::vector<double>>& ratios()
{
    static std::map<std::string, std::vector<double>> r;
    return r;
}

bench::Roster& roster(int members)
{
    static std::map<int, std::unique_ptr<bench::Roster>> rosters;
    auto& r = rosters[members];
    if (!r)
        r = std::make_unique<bench::Roster>(members);
    return *r;
}

// Open the member table and read what a grid shows first: its size and the first 40 rows.
void BM_OpenAndFirstScreen(benchmark::State& state)
{
    bench::Roster& r = roster(int(state.range(0)));
    for (auto _ : state) {
        halvenna::Table t(QStringLiteral("tbMemberMaster"), QStringLiteral("MemberMaster.db"),
                          QStringLiteral("MemberMaster"));
        t.setDatabaseDir(r.path());
        t.open();
        benchmark::DoNotOptimize(t.estimatedRecordCount());
        benchmark::DoNotOptimize(t.readRows(0, 40));
        t.close();
    }
}
HALVENNA_BENCHMARK(BM_OpenAndFirstScreen)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The same through the data module and the roster grid's model: open the tables, bind the model,
// and fetch every cell of the first 30 rows as the view would to paint them.
void BM_OpenAndGridFirstScreen(benchmark::State& state)
{
    bench::Roster& r = roster(int(state.range(0)));
    const QList<halvenna::DbGridColumn> columns{
        {"id_no", "ID番号", 39}, {"name", "氏名", 89},        {"name_kana", "カタカナ", 81},
        {"zip", "〒", 63},       {"address1", "住所１", 203}, {"address2", "住所２", 175},
        {"tel", "TEL", 0},       {"fax", "FAX", 0},           {"notes", "備考", 0}};
    for (auto _ : state) {
        TDataModule1 dm(r.path());
        dm.DataModuleCreate();
        halvenna::DbGridModel model;
        model.setColumns(columns);
        model.setDataSource(&dm.tbMemberMasterDataSource);
        int cells = 0;
        for (int row = 0; row < std::min(30, model.rowCount()); ++row)
            for (int column = 0; column < model.columnCount(); ++column)
                cells += model.data(model.index(row, column)).toString().size();
        benchmark::DoNotOptimize(cells);
    }
}
HALVENNA_BENCHMARK(BM_OpenAndGridFirstScreen)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// next over every member, through the data module so the detail tables follow each move.
int walk(TDataModule1& dm)
{
    int n = 0;
    for (dm.tbMemberMaster.first(); !dm.tbMemberMaster.eof(); dm.tbMemberMaster.next())
        ++n;
    return n;
}

void BM_NextOverAllMembers(benchmark::State& state)
{
    TDataModule1 dm(roster(kMembers).path());
    dm.DataModuleCreate();
    for (auto _ : state)
        benchmark::DoNotOptimize(walk(dm));
    state.SetItemsProcessed(state.iterations() * kMembers);
}
HALVENNA_BENCHMARK(BM_NextOverAllMembers)->Unit(benchmark::kMillisecond);

// The yardstick: a bare SQLite SELECT loop over the same table in the same process.
class BareSelectLoop
{
public:
    BareSelectLoop()
        : db_(bench::openSqlite(roster(kMembers).file("MemberMaster.db"))),
          select_(db_->handle(), "SELECT * FROM MemberMaster ORDER BY id_no")
    {}
    int run()
    {
        int n = 0;
        int rc;
        while ((rc = sqlite3_step(select_)) == SQLITE_ROW)
            ++n;
        sqlite3_reset(select_);
        if (rc != SQLITE_DONE)
            bench::fail(db_->handle(), "SELECT");
        return n;
    }

private:
    std::unique_ptr<halvenna::sql::SqliteConnection> db_;
    bench::Statement select_;
};

void BM_BareSelectLoop(benchmark::State& state)
{
    BareSelectLoop yardstick;
    for (auto _ : state)
        benchmark::DoNotOptimize(yardstick.run());
    state.SetItemsProcessed(state.iterations() * kMembers);
}
HALVENNA_BENCHMARK(BM_BareSelectLoop)->Unit(benchmark::kMillisecond);

// The two above paired: each iteration walks with the bare loop, then with next, and records the
// speed of next as a fraction of the bare loop's (so that a change of load between them does not
// skew it).
void BM_NextPairedWithBareLoop(benchmark::State& state)
{
    TDataModule1 dm(roster(kMembers).path());
    dm.DataModuleCreate();
    BareSelectLoop yardstick;
    std::vector<double>& speeds = ratios()["next"];
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const int bare = yardstick.run();
        const qint64 bareNs = timer.nsecsElapsed();
        timer.restart();
        const int walked = walk(dm);
        const qint64 nextNs = timer.nsecsElapsed();
        if (bare != kMembers || walked != kMembers)
            throw std::runtime_error("a walk missed members");
        state.SetIterationTime(double(nextNs) / 1e9);
        speeds.push_back(double(bareNs) / double(nextNs));
    }
    state.counters["speed_of_bare"] = bench::median(speeds);
}
HALVENNA_BENCHMARK(BM_NextPairedWithBareLoop)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

// Every member's mark set to 0, before a benchmark whose runs alternate the marks: SQLite does not
// write a row stored again with the same content, so a run that found the marks it sets already
// there would be cheap.
void clearMarks()
{
    bench::exec(bench::openSqlite(roster(kMembers).file("MemberMaster.db"))->handle(),
                "UPDATE MemberMaster SET print = 0");
}

// Marking every member: the print window's select-all itself (the mark and the print fields the
// member rule derives, every member in one transaction, no controls to redraw).
void markEveryMember(halvenna::Table& t, bool mark)
{
    halvenna::setAllPrintMarks(t, mark);
}

void BM_MarkEveryMember(benchmark::State& state)
{
    clearMarks();
    TDataModule1 dm(roster(kMembers).path());
    dm.DataModuleCreate();
    bool mark = true;
    for (auto _ : state) {
        markEveryMember(dm.tbMemberMaster, mark);
        mark = !mark;
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}
HALVENNA_BENCHMARK(BM_MarkEveryMember)->Unit(benchmark::kMillisecond);

// The yardstick: one UPDATE of print over the table, plus deriving the five print fields of every
// row in the same process.
class UpdateAndDerive
{
public:
    UpdateAndDerive()
        : db_(bench::openSqlite(roster(kMembers).file("MemberMaster.db"))),
          select_(db_->handle(), "SELECT zip, tel FROM MemberMaster")
    {}
    void run(bool mark)
    {
        sqlite3* db = db_->handle();
        bench::exec(db, mark ? "UPDATE MemberMaster SET print = 1" : "UPDATE MemberMaster SET print = 0");
        int rc;
        while ((rc = sqlite3_step(select_)) == SQLITE_ROW) {
            const auto zip = halvenna::FieldValue::text(QByteArray(
                reinterpret_cast<const char*>(sqlite3_column_text(select_, 0)), sqlite3_column_bytes(select_, 0)));
            const auto tel = halvenna::FieldValue::text(QByteArray(
                reinterpret_cast<const char*>(sqlite3_column_text(select_, 1)), sqlite3_column_bytes(select_, 1)));
            benchmark::DoNotOptimize(halvenna::rules::splitZipAndTel(zip, tel));
        }
        sqlite3_reset(select_);
        if (rc != SQLITE_DONE)
            bench::fail(db, "SELECT");
    }

private:
    std::unique_ptr<halvenna::sql::SqliteConnection> db_;
    bench::Statement select_;
};

void BM_UpdateAndDerive(benchmark::State& state)
{
    clearMarks();
    UpdateAndDerive yardstick;
    int mark = 1;
    for (auto _ : state) {
        yardstick.run(mark);
        mark = !mark;
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}
HALVENNA_BENCHMARK(BM_UpdateAndDerive)->Unit(benchmark::kMillisecond);

// The two above paired: each iteration runs the yardstick, then marks every member through the
// table layer, and records the ratio of their times. The data module lets go of its read locks
// before the yardstick writes, as it does whenever the program waits for the user.
void BM_MarkPairedWithUpdateAndDerive(benchmark::State& state)
{
    clearMarks();
    TDataModule1 dm(roster(kMembers).path());
    dm.DataModuleCreate();
    UpdateAndDerive yardstick;
    std::vector<double>& times = ratios()["mark"];
    for (auto _ : state) {
        for (halvenna::Table* t : {&dm.tbMemberMaster, &dm.tbContents, &dm.tbAccount, &dm.tbPrintMember})
            t->releaseReadLock();
        // Each run changes every member's mark from what the other left (see clearMarks).
        QElapsedTimer timer;
        timer.start();
        yardstick.run(true);
        const qint64 yardstickNs = timer.nsecsElapsed();
        timer.restart();
        markEveryMember(dm.tbMemberMaster, false);
        const qint64 markNs = timer.nsecsElapsed();
        state.SetIterationTime(double(markNs) / 1e9);
        times.push_back(double(markNs) / double(yardstickNs));
    }
    state.counters["ratio"] = bench::median(times);
}
HALVENNA_BENCHMARK(BM_MarkPairedWithUpdateAndDerive)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

void printSummary()
{
    const auto spread = [](const std::vector<double>& v) {
        return std::make_pair(*std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    };
    auto& r = ratios();
    std::printf("\nSummary (paired iterations)\n");
    if (!r["next"].empty()) {
        const auto [low, high] = spread(r["next"]);
        std::printf("  next over %d members: %.0f %% of the bare loop's speed (median; %.0f to %.0f %%; "
                    "limit at least 80 %%)\n",
                    kMembers, bench::median(r["next"]) * 100, low * 100, high * 100);
    }
    if (!r["mark"].empty()) {
        const auto [low, high] = spread(r["mark"]);
        std::printf("  marking every member: %.2f x UPDATE and derive (median; %.2f to %.2f x; limit 1.4 x)\n",
                    bench::median(r["mark"]), low, high);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}

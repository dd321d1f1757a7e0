// The print window's "すべて" on a big roster against its yardstick.
//
//   bench_print      both benchmarks, then a summary with the paired ratio
//
// BM_UpdateAndDerive: one SQL UPDATE of print over the table, then the five print fields derived for
// every row in the same process (what the member record rule adds to a bare UPDATE).
// BM_SelectAllThroughWindow: each iteration runs that yardstick first, then marks every member
// through a shown print window's SetAllPrintFlags (edit, set, post with the member rule, next; one
// transaction; controls suspended), and records the ratio of the two.
#include "BenchRoster.h"
#include "app/Program.h"
#include "printing/Invoice.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kMembers = 100000;

bench::Roster& roster()
{
    static std::unique_ptr<bench::Roster> r;
    if (!r)
        r = std::make_unique<bench::Roster>(kMembers);
    return *r;
}

std::map<std::string, std::vector<double>>& timings()
{
    static std::map<std::string, std::vector<double>> t;
    return t;
}

// A connection of its own on the member table, with the reading statement ready.
class Yardstick
{
public:
    explicit Yardstick(const QString& file)
        : db_(bench::openSqlite(file)), select_(db_->handle(), "SELECT zip, tel FROM MemberMaster")
    {}

    // Seconds for the UPDATE and the derivation of every row.
    double run(bool mark)
    {
        sqlite3* db = db_->handle();
        QElapsedTimer timer;
        timer.start();
        bench::exec(db, mark ? "UPDATE MemberMaster SET print = 1" : "UPDATE MemberMaster SET print = 0");
        int rows = 0;
        int rc;
        while ((rc = sqlite3_step(select_)) == SQLITE_ROW) {
            const auto text = [this](int column) {
                return halvenna::FieldValue::text(
                    QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(select_, column)),
                               sqlite3_column_bytes(select_, column)));
            };
            benchmark::DoNotOptimize(halvenna::rules::splitZipAndTel(text(0), text(1)));
            ++rows;
        }
        sqlite3_reset(select_);
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (rc != SQLITE_DONE)
            bench::fail(db, "SELECT");
        if (rows != kMembers)
            throw std::runtime_error("the yardstick did not read every member");
        return seconds;
    }

private:
    std::unique_ptr<halvenna::sql::SqliteConnection> db_;
    bench::Statement select_;
};

void BM_UpdateAndDerive(benchmark::State& state)
{
    Yardstick yardstick(roster().file("MemberMaster.db"));
    bool mark = true;
    for (auto _ : state) {
        const double seconds = yardstick.run(mark);
        mark = !mark;
        state.SetIterationTime(seconds);
        timings()["UPDATE and derive"].push_back(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}
HALVENNA_BENCHMARK(BM_UpdateAndDerive)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_SelectAllThroughWindow(benchmark::State& state)
{
    Yardstick yardstick(roster().file("MemberMaster.db"));
    // Every run below changes every mark from what the run before it left (SQLite does not write a
    // row stored again with the same content, which would make a run cheap): start from marks of 0.
    yardstick.run(false);
    bool mark = true;
    for (auto _ : state) {
        const double before = yardstick.run(mark);
        mark = !mark;
        // A data module and window of their own each time: their connection holds no read lock while
        // the yardstick writes.
        TDataModule1 dm(roster().path());
        dm.DataModuleCreate();
        halvenna::Program program;
        TInvoiceForm form(&dm, program.senderSettings, program.appDir, program.fixedDates);
        form.show();
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        form.SetAllPrintFlags(mark);
        const double seconds = timer.nsecsElapsed() / 1e9;
        mark = !mark;
        if (dm.tbMemberMaster.recNo() != 0 || dm.tbMemberMaster.controlsDisabled())
            throw std::runtime_error("the window did not end on the first member with its controls resumed");
        state.SetIterationTime(seconds);
        timings()["SetAllPrintFlags"].push_back(seconds);
        timings()["ratio"].push_back(seconds / before);
        form.hide();
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}
HALVENNA_BENCHMARK(BM_SelectAllThroughWindow)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

using bench::median;

void printSummary()
{
    auto& t = timings();
    if (t["ratio"].empty())
        return;
    const auto [low, high] = std::minmax_element(t["ratio"].begin(), t["ratio"].end());
    std::printf("\n%d members, medians: UPDATE and derive %.0f ms, SetAllPrintFlags %.0f ms, "
                "paired ratio %.2f x (%.2f to %.2f x; limit 2 x)\n",
                kMembers, median(t["UPDATE and derive"]) * 1000, median(t["SetAllPrintFlags"]) * 1000,
                median(t["ratio"]), *low, *high);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}

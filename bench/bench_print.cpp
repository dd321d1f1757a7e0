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
#include "data/DataModule.h"
#include "data/RecordRules.h"
#include "printing/Invoice.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <sqlite3.h>

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
    {
        if (sqlite3_open(QFile::encodeName(file).constData(), &db_) != SQLITE_OK ||
            sqlite3_prepare_v2(db_, "SELECT zip, tel FROM MemberMaster", -1, &select_, nullptr) != SQLITE_OK)
            fail();
    }
    ~Yardstick()
    {
        sqlite3_finalize(select_);
        sqlite3_close(db_);
    }
    Yardstick(const Yardstick&) = delete;
    Yardstick& operator=(const Yardstick&) = delete;

    // Seconds for the UPDATE and the derivation of every row.
    double run(bool mark)
    {
        QElapsedTimer timer;
        timer.start();
        if (sqlite3_exec(db_, mark ? "UPDATE MemberMaster SET print = 1" : "UPDATE MemberMaster SET print = 0", nullptr,
                         nullptr, nullptr) != SQLITE_OK)
            fail();
        int rows = 0;
        while (sqlite3_step(select_) == SQLITE_ROW) {
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
        if (rows != kMembers)
            throw std::runtime_error("the yardstick did not read every member");
        return seconds;
    }

private:
    [[noreturn]] void fail() { throw std::runtime_error(sqlite3_errmsg(db_)); }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
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
BENCHMARK(BM_UpdateAndDerive)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_SelectAllThroughWindow(benchmark::State& state)
{
    Yardstick yardstick(roster().file("MemberMaster.db"));
    bool mark = true;
    for (auto _ : state) {
        const double before = yardstick.run(mark);
        mark = !mark;
        // A data module and window of their own each time: their connection holds no read lock while
        // the yardstick writes.
        TDataModule1 dm(roster().path());
        dm.DataModuleCreate();
        TInvoiceForm form;
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
BENCHMARK(BM_SelectAllThroughWindow)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void printSummary()
{
    auto& t = timings();
    if (t["ratio"].empty())
        return;
    std::printf("\n%d members, medians: UPDATE and derive %.0f ms, SetAllPrintFlags %.0f ms, "
                "paired ratio %.2f x (limit 3 x)\n",
                kMembers, median(t["UPDATE and derive"]) * 1000, median(t["SetAllPrintFlags"]) * 1000,
                median(t["ratio"]));
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

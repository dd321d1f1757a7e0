// Searching 100,000 members for the one at the far end: the find bar's stepped walk through the
// table layer against one bare SQL query in the same process that does the same matching with the
// same folding registered as an SQL function.
#include "BenchRoster.h"
#include "BenchSupport.h"
#include "gui/FindBar.h"
#include "roster/model/DataModule.h"
#include "roster/model/MemberSearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

namespace {

constexpr int kMembers = 100000;
constexpr qint64 kFarEnd = kMembers; // the one member whose reading holds the text
const QString kTyped = QStringLiteral("けんさく");

std::map<std::string, std::vector<double>>& ratios()
{
    static std::map<std::string, std::vector<double>> r;
    return r;
}

const bench::Roster& roster()
{
    static const std::unique_ptr<bench::Roster> r = [] {
        auto made = std::make_unique<bench::Roster>(kMembers);
        const auto connection = bench::openSqlite(made->file("MemberMaster.db"));
        bench::exec(connection->handle(),
                    "INSERT INTO MemberMaster (id_no, name, name_kana, zip, address1, tel, print) "
                    "VALUES (100000, '検索対象', 'ｹﾝｻｸﾀｲｼｮｳ', '100-0001', '東京都千代田区', '03-0000-0000', 0)");
        return made;
    }();
    return *r;
}

// The yardstick: SELECT … WHERE over the same six fields with fold() as an SQL function.
class BareQuery
{
public:
    BareQuery()
        : db_(bench::openSqlite(roster().file("MemberMaster.db"))),
          registered_(sqlite3_create_function(db_->handle(), "fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                              &foldFunction, nullptr, nullptr)),
          select_(db_->handle(), "SELECT id_no FROM MemberMaster WHERE CAST(id_no AS TEXT) LIKE ?1 || '%' "
                                 "OR instr(fold(name), ?2) OR instr(fold(name_kana), ?2) OR instr(fold(tel), ?2) "
                                 "OR instr(fold(zip), ?2) OR instr(fold(address1), ?2) ORDER BY id_no LIMIT 1")
    {
        if (registered_ != SQLITE_OK)
            bench::fail(db_->handle(), "sqlite3_create_function");
    }
    qint64 run(const QString& typed)
    {
        const QByteArray needle = halvenna::MemberSearch::fold(typed).toUtf8();
        sqlite3_bind_null(select_, 1);
        sqlite3_bind_text(select_, 2, needle.constData(), int(needle.size()), SQLITE_TRANSIENT);
        qint64 found = -1;
        const int rc = sqlite3_step(select_);
        if (rc == SQLITE_ROW)
            found = sqlite3_column_int64(select_, 0);
        else if (rc != SQLITE_DONE)
            bench::fail(db_->handle(), "SELECT");
        sqlite3_reset(select_);
        return found;
    }

private:
    static void foldFunction(sqlite3_context* context, int, sqlite3_value** values)
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
        if (!text) {
            sqlite3_result_null(context);
            return;
        }
        const QByteArray folded = halvenna::MemberSearch::fold(QString::fromUtf8(text)).toUtf8();
        sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
    }

    std::unique_ptr<halvenna::sql::SqliteConnection> db_;
    int registered_;
    bench::Statement select_;
};

// What the find bar does: steps of its size until the search ends; the longest step is what one
// turn of the event loop costs.
qint64 search(halvenna::Table& members, qint64& longestStepNs)
{
    halvenna::MemberSearch s(members);
    s.start(kTyped, std::nullopt);
    longestStepNs = 0;
    QElapsedTimer step;
    halvenna::MemberSearch::Result r = halvenna::MemberSearch::Result::Searching;
    while (r == halvenna::MemberSearch::Result::Searching) {
        step.start();
        r = s.step(halvenna::FindBar::kRowsPerStep);
        longestStepNs = std::max(longestStepNs, step.nsecsElapsed());
    }
    return r == halvenna::MemberSearch::Result::Found ? s.found() : -1;
}

void BM_BareFoldQuery(benchmark::State& state)
{
    BareQuery yardstick;
    for (auto _ : state)
        if (yardstick.run(kTyped) != kFarEnd)
            throw std::runtime_error("the query missed the member");
}
HALVENNA_BENCHMARK(BM_BareFoldQuery)->Unit(benchmark::kMillisecond);

void BM_SearchToTheFarEnd(benchmark::State& state)
{
    TDataModule1 dm(roster().path());
    dm.DataModuleCreate();
    qint64 longest = 0;
    for (auto _ : state) {
        dm.tbMemberMaster.first();
        if (search(dm.tbMemberMaster, longest) != kFarEnd)
            throw std::runtime_error("the search missed the member");
    }
    state.counters["longest_step_ms"] = double(longest) / 1e6;
}
HALVENNA_BENCHMARK(BM_SearchToTheFarEnd)->Unit(benchmark::kMillisecond);

// The two paired, iteration by iteration.
void BM_SearchPairedWithBareQuery(benchmark::State& state)
{
    TDataModule1 dm(roster().path());
    dm.DataModuleCreate();
    BareQuery yardstick;
    std::vector<double>& r = ratios()["search"];
    std::vector<double>& steps = ratios()["step"];
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const qint64 bare = yardstick.run(kTyped);
        const qint64 bareNs = timer.nsecsElapsed();
        qint64 longest = 0;
        timer.restart();
        const qint64 found = search(dm.tbMemberMaster, longest);
        const qint64 searchNs = timer.nsecsElapsed();
        if (bare != kFarEnd || found != kFarEnd)
            throw std::runtime_error("a search missed the member");
        state.SetIterationTime(double(searchNs) / 1e9);
        r.push_back(double(searchNs) / double(bareNs));
        steps.push_back(double(longest) / 1e6);
    }
    state.counters["x_bare"] = bench::median(r);
}
HALVENNA_BENCHMARK(BM_SearchPairedWithBareQuery)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

void printSummary()
{
    auto& r = ratios();
    if (r["search"].empty())
        return;
    const auto [low, high] = std::minmax_element(r["search"].begin(), r["search"].end());
    std::printf("\nSummary (paired, %zu iterations):\n", r["search"].size());
    std::printf("  search to the far end of %d members: %.2f x the bare query (median; %.2f to %.2f x; limit 2 x)\n",
                kMembers + 1, bench::median(r["search"]), *low, *high);
    const auto longest = std::max_element(r["step"].begin(), r["step"].end());
    std::printf("  longest step (one turn of the event loop): %.2f ms (median %.2f ms)\n", *longest,
                bench::median(r["step"]));
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

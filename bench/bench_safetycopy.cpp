// The safety copy of a 100,000-member roster against the sqlite3 tool's .backup of the same three
// files.
#include "BenchRoster.h"
#include "BenchSupport.h"
#include "roster/model/SafetyCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kMembers = 100000;

std::vector<double>& ratios()
{
    static std::vector<double> r;
    return r;
}

const bench::Roster& roster()
{
    static const auto r = std::make_unique<bench::Roster>(kMembers);
    return *r;
}

// The yardstick: `sqlite3 <table> ".backup <copy>"` for each of the three tables.
void toolBackup(const QString& into)
{
    for (const QString& table : halvenna::SafetyCopy::tableFiles()) {
        const QString target = QDir(into).filePath(table);
        QFile::remove(target);
        QProcess tool;
        tool.start(QStringLiteral("sqlite3"),
                   {QDir(roster().path()).filePath(table), QStringLiteral(".backup '%1'").arg(target)});
        if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
            throw std::runtime_error("sqlite3 .backup failed (scripts/deps.sh installs the sqlite3 tool)");
    }
}

void BM_SqliteToolBackup(benchmark::State& state)
{
    QTemporaryDir into;
    for (auto _ : state)
        toolBackup(into.path());
}
HALVENNA_BENCHMARK(BM_SqliteToolBackup)->Unit(benchmark::kMillisecond);

void BM_SafetyCopy(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(halvenna::SafetyCopy::take(roster().path(), QStringLiteral("bench")));
}
HALVENNA_BENCHMARK(BM_SafetyCopy)->Unit(benchmark::kMillisecond);

void BM_SafetyCopyPairedWithTool(benchmark::State& state)
{
    QTemporaryDir into;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        toolBackup(into.path());
        const qint64 toolNs = timer.nsecsElapsed();
        timer.restart();
        const halvenna::SafetyCopyInfo copy = halvenna::SafetyCopy::take(roster().path(), QStringLiteral("bench"));
        const qint64 copyNs = timer.nsecsElapsed();
        if (copy.members != kMembers)
            throw std::runtime_error("the copy does not hold every member");
        state.SetIterationTime(double(copyNs) / 1e9);
        ratios().push_back(double(copyNs) / double(toolNs));
    }
    state.counters["x_tool"] = bench::median(ratios());
}
HALVENNA_BENCHMARK(BM_SafetyCopyPairedWithTool)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!ratios().empty()) {
        const auto [low, high] = std::minmax_element(ratios().begin(), ratios().end());
        std::printf("\nSummary (paired, %zu iterations):\n  safety copy of %d members: %.2f x sqlite3 .backup "
                    "(median; %.2f to %.2f x; limit 2 x)\n",
                    ratios().size(), kMembers, bench::median(ratios()), *low, *high);
    }
    return 0;
}

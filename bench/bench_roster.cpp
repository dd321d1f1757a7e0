// The roster window on a small and a big roster: opening it with its first screen, and jumping to
// the last member with the grid following. Runs without a screen (offscreen platform).
#include "BenchRoster.h"
#include "app/Startup.h"
#include "data/Table.h"
#include "gui/DbGrid.h"
#include "roster/MemberMaster.h"
#include "roster/model/DataModule.h"
#include "roster/postal/PostalCodeLookup.h"

#include <QApplication>
#include <QFont>
#include <QPixmap>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace {

bench::Roster& roster(int members)
{
    static std::map<int, std::unique_ptr<bench::Roster>> rosters;
    auto& r = rosters[members];
    if (!r)
        r = std::make_unique<bench::Roster>(members);
    return *r;
}

// The data module as start-up leaves it: the four tables open.
std::unique_ptr<TDataModule1> openDataModule(int members)
{
    auto dm = std::make_unique<TDataModule1>(roster(members).path());
    dm->DataModuleCreate();
    return dm;
}

// What the window is given besides the data module: no folder, no postal data.
const QString& noFolder()
{
    static const QString folder;
    return folder;
}
halvenna::PostalCodeLookup& noPostalCodes()
{
    static halvenna::PostalCodeLookup lookup{QString(), QString()};
    return lookup;
}

// Everything the window shows, painted as the screen would be.
void paint(QWidget& w)
{
    benchmark::DoNotOptimize(w.grab());
}

// The window made and shown on the open tables: its grid takes the table, the first screen is
// painted, and what the grid leaves for the event loop (the exact count of a big table) runs.
void BM_OpenRosterWindow(benchmark::State& state)
{
    const auto dm = openDataModule(int(state.range(0)));
    for (auto _ : state) {
        TMemberMasterForm form(dm.get(), noFolder(), noPostalCodes());
        form.show();
        paint(form);
        QCoreApplication::processEvents();
        form.hide();
    }
    dm->DataModuleDestroy();
}
HALVENNA_BENCHMARK(BM_OpenRosterWindow)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);

// Only the first screen: made, shown and painted; the exact count is left to the event loop.
void BM_RosterWindowFirstScreen(benchmark::State& state)
{
    const auto dm = openDataModule(int(state.range(0)));
    for (auto _ : state) {
        TMemberMasterForm form(dm.get(), noFolder(), noPostalCodes());
        form.show();
        paint(form);
        form.hide();
        state.PauseTiming();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    dm->DataModuleDestroy();
}
HALVENNA_BENCHMARK(BM_RosterWindowFirstScreen)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);

// From the first member to the last: the table moves, the grid follows, scrolls and paints.
void BM_JumpToLastMember(benchmark::State& state)
{
    const auto dm = openDataModule(int(state.range(0)));
    TMemberMasterForm form(dm.get(), noFolder(), noPostalCodes());
    form.show();
    paint(form);
    QCoreApplication::processEvents();
    halvenna::Table& members = dm->tbMemberMaster;
    for (auto _ : state) {
        state.PauseTiming();
        members.first();
        paint(*form.DBGrid1);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        members.last();
        paint(*form.DBGrid1);
        QCoreApplication::processEvents();
    }
    if (form.DBGrid1->currentIndex().row() != int(state.range(0)) - 1)
        state.SkipWithError("the grid did not follow the table to its last row");
    form.hide();
    dm->DataModuleDestroy();
}
HALVENNA_BENCHMARK(BM_JumpToLastMember)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);

// The offscreen platform says on every show what it cannot do; the figures are what matters here.
void quietPlatform(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    qt_message_output(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(quietPlatform);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    halvenna::installJapaneseFont();
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

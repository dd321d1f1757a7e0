// The table layer on small and big rosters: opening and showing the first screen, and walking.
#include "BenchRoster.h"
#include "data/DataModule.h"
#include "data/RecordRules.h"
#include "data/Table.h"
#include "gui/DbGridModel.h"

#include <QCoreApplication>

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
BENCHMARK(BM_OpenAndFirstScreen)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

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
BENCHMARK(BM_OpenAndGridFirstScreen)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// next over every member, through the data module so the detail tables follow each move.
void BM_NextOverAllMembers(benchmark::State& state)
{
    bench::Roster& r = roster(100000);
    TDataModule1 dm(r.path());
    dm.DataModuleCreate();
    for (auto _ : state) {
        int n = 0;
        for (dm.tbMemberMaster.first(); !dm.tbMemberMaster.eof(); dm.tbMemberMaster.next())
            ++n;
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_NextOverAllMembers)->Unit(benchmark::kMillisecond);

// The yardstick: a bare SQLite SELECT loop over the same table in the same process.
void BM_BareSelectLoop(benchmark::State& state)
{
    bench::Roster& r = roster(100000);
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(r.file("MemberMaster.db")).constData(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM MemberMaster ORDER BY id_no", -1, &st, nullptr);
    for (auto _ : state) {
        int n = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            ++n;
        sqlite3_reset(st);
        benchmark::DoNotOptimize(n);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_BareSelectLoop)->Unit(benchmark::kMillisecond);

// Marking every member the way the print window's select-all does: edit, set print, post (the
// member record rule runs), next; one transaction, no controls to redraw.
void BM_MarkEveryMember(benchmark::State& state)
{
    bench::Roster& r = roster(100000);
    TDataModule1 dm(r.path());
    dm.DataModuleCreate();
    halvenna::Table& t = dm.tbMemberMaster;
    bool mark = true;
    for (auto _ : state) {
        t.disableControls();
        {
            halvenna::Table::Batch batch(t);
            for (t.first(); !t.eof(); t.next()) {
                t.edit();
                t.setFieldValue(QStringLiteral("print"), halvenna::FieldValue::logical(mark));
                t.post();
            }
        }
        t.first();
        t.enableControls();
        mark = !mark;
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_MarkEveryMember)->Unit(benchmark::kMillisecond);

// The yardstick: one UPDATE of print over the table, plus deriving the five print fields of every
// row in the same process.
void BM_UpdateAndDerive(benchmark::State& state)
{
    bench::Roster& r = roster(100000);
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(r.file("MemberMaster.db")).constData(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT zip, tel FROM MemberMaster", -1, &st, nullptr);
    int mark = 1;
    for (auto _ : state) {
        sqlite3_exec(db, mark ? "UPDATE MemberMaster SET print = 1" : "UPDATE MemberMaster SET print = 0", nullptr,
                     nullptr, nullptr);
        mark = !mark;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const auto zip = halvenna::FieldValue::text(
                QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), sqlite3_column_bytes(st, 0)));
            const auto tel = halvenna::FieldValue::text(
                QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)), sqlite3_column_bytes(st, 1)));
            benchmark::DoNotOptimize(halvenna::rules::splitZipAndTel(zip, tel));
        }
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_UpdateAndDerive)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The print jobs' staging on 10,000 marked members, against one prepared INSERT per row in one
// transaction; and bulk waybills from the button's work to the PDF, staging included.
#include "BenchRoster.h"
#include "app/Startup.h"
#include "data/DataModule.h"
#include "printing/jobs/PrintJobs.h"
#include "report/ReportProject.h"
#include "report/dialogs/OutputOptionsDialog.h"
#include "report/dialogs/StandardReportOutput.h"
#include "settings/SenderSettings.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kMembers = 10000;

// 10,000 members, every one marked, each with a contents row of one parcel.
bench::Roster& markedRoster()
{
    static std::unique_ptr<bench::Roster> roster;
    if (!roster) {
        roster = std::make_unique<bench::Roster>(kMembers);
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(roster->file("MemberMaster.db")).constData(), &db);
        sqlite3_exec(db, "UPDATE MemberMaster SET print = 1", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        sqlite3_open(QFile::encodeName(roster->file("Contents.db")).constData(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO Contents (id_no, item, value, receipt_year, receipt_month, receipt_day, "
                           "delivery_year, delivery_month, delivery_day) "
                           "VALUES (?, 'りんご 5kg', '1', '2026', '12', '10', '2026', '12', '11')",
                           -1, &st, nullptr);
        for (int i = 0; i < kMembers; ++i) {
            sqlite3_bind_int(st, 1, i);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    return *roster;
}

void BM_StageBulkWaybills(benchmark::State& state)
{
    TDataModule1 dm(markedRoster().path());
    dm.DataModuleCreate();
    halvenna::PrintJobs jobs(dm);
    for (auto _ : state)
        jobs.stageBulkWaybills(halvenna::PanelDates{});
    state.counters["rows"] = dm.tbPrintMember.recordCount();
}
BENCHMARK(BM_StageBulkWaybills)->Iterations(3)->Unit(benchmark::kMillisecond);

// The yardstick: the same 10,000 staging rows (every one of the 26 fields bound, as a job writes
// them) with one prepared statement in one transaction, after emptying the table, in the same process.
class PreparedInsert
{
public:
    PreparedInsert()
    {
        sqlite3_open(QFile::encodeName(markedRoster().file("PrintMember.db")).constData(), &db_);
        sqlite3_prepare_v2(db_,
                           "INSERT INTO PrintMember (id_no, name, name_kana, zip, address1, address2, tel, fax, zip_f, "
                           "zip_r, tel_f, tel_m, tel_r, notes, item, value, receipt_year, receipt_month, receipt_day, "
                           "delivery_year, delivery_month, delivery_day, item_kind1, item_kind2, amount, amount_prn) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                           -1, &st_, nullptr);
    }
    ~PreparedInsert()
    {
        sqlite3_finalize(st_);
        sqlite3_close(db_);
    }
    PreparedInsert(const PreparedInsert&) = delete;
    PreparedInsert& operator=(const PreparedInsert&) = delete;

    void run()
    {
        static const QByteArray fixed[] = {"ヤマダタロウ",
                                           "150-0001",
                                           "",
                                           "ハイツ201号室",
                                           "03-1234-5678",
                                           "03-1234-5679",
                                           "1  5  0",
                                           "0  0  0  1",
                                           "03",
                                           "1234",
                                           "5678",
                                           "",
                                           "りんご 5kg",
                                           "1",
                                           "2026",
                                           "12",
                                           "10",
                                           "2026",
                                           "12",
                                           "11"};
        sqlite3_exec(db_, "DELETE FROM PrintMember", nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = 0; i < kMembers; ++i) {
            const QByteArray name = bench::memberName(i).toUtf8();
            const QByteArray address = bench::memberAddress(i).toUtf8();
            sqlite3_bind_int(st_, 1, i);
            sqlite3_bind_text(st_, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            // name_kana, zip, then address1 from the row, then the rest in order
            sqlite3_bind_text(st_, 3, fixed[0].constData(), int(fixed[0].size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st_, 4, fixed[1].constData(), int(fixed[1].size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st_, 5, address.constData(), int(address.size()), SQLITE_TRANSIENT);
            for (int k = 3; k < 20; ++k)
                sqlite3_bind_text(st_, k + 3, fixed[k].constData(), int(fixed[k].size()), SQLITE_TRANSIENT);
            for (int k = 23; k <= 26; ++k)
                sqlite3_bind_null(st_, k);
            sqlite3_step(st_);
            sqlite3_reset(st_);
        }
        sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* st_ = nullptr;
};

void BM_PreparedInsertOfStagingRows(benchmark::State& state)
{
    PreparedInsert yardstick;
    for (auto _ : state)
        yardstick.run();
}
BENCHMARK(BM_PreparedInsertOfStagingRows)->Iterations(3)->Unit(benchmark::kMillisecond);

// The two above, paired: each iteration runs the yardstick just before the staging and records the
// ratio of their times, so that a change of load between them does not skew it (this machine's
// shared cores vary by ±30 % from one second to the next). The counter is the median ratio.
void BM_StagingOverPreparedInsert(benchmark::State& state)
{
    TDataModule1 dm(markedRoster().path());
    dm.DataModuleCreate();
    halvenna::PrintJobs jobs(dm);
    PreparedInsert yardstick;
    std::vector<double> ratios;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        yardstick.run();
        const qint64 insertNs = timer.nsecsElapsed();
        timer.restart();
        jobs.stageBulkWaybills(halvenna::PanelDates{});
        const qint64 stageNs = timer.nsecsElapsed();
        state.SetIterationTime(double(stageNs) / 1e9);
        ratios.push_back(double(stageNs) / double(insertNs));
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["median_ratio"] = ratios[ratios.size() / 2];
}
BENCHMARK(BM_StagingOverPreparedInsert)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

// "まとめて印刷" for waybills as the button runs it, to a PDF file: staging, parameters, the engine.
// Compare with BM_BarePdfLoop of bench_report (the same sheets drawn by a bare QPdfWriter loop).
void BM_BulkWaybillsToPdf(benchmark::State& state)
{
    TDataModule1 dm(markedRoster().path());
    dm.DataModuleCreate();
    halvenna::StandardReportOutput output;
    halvenna::ReportProject project(&output);
    halvenna::ReportConnection printMaster(QStringLiteral("rvtbPrintMaster"), &dm.tbPrintMember);
    halvenna::ReportConnection account(QStringLiteral("rvtbAccount"), &dm.tbAccount);
    project.addConnection(printMaster);
    project.addConnection(account);
    const QString pdf = markedRoster().file("bulk.pdf");
    halvenna::PrintJobs jobs(dm);
    for (auto _ : state) {
        jobs.stageBulkWaybills(halvenna::PanelDates{});
        halvenna::prepareInvoiceReport(project, SenderSettings,
                                       QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates/"));
        halvenna::StandardReportOutput::optionsSeam().answer(
            halvenna::OutputChoice{halvenna::OutputChoice::Destination::File, 1, pdf});
        halvenna::runPreparedReport(project);
    }
    state.counters["pdf_MiB"] = QFileInfo(pdf).size() / 1048576.0;
}
BENCHMARK(BM_BulkWaybillsToPdf)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    halvenna::installJapaneseFont();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

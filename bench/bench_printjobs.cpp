// The print jobs' staging on 10,000 marked members, against one prepared INSERT per row in one
// transaction; and bulk waybills from the button's work to the PDF, staging included.
#include "BenchRoster.h"
#include "app/Startup.h"
#include "printing/jobs/PrintJobs.h"
#include "report/ReportProject.h"
#include "report/dialogs/OutputOptionsDialog.h"
#include "report/dialogs/StandardReportOutput.h"
#include "roster/model/DataModule.h"
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
        bench::exec(bench::openSqlite(roster->file("MemberMaster.db"))->handle(), "UPDATE MemberMaster SET print = 1");
        const auto contents = bench::openSqlite(roster->file("Contents.db"));
        sqlite3* db = contents->handle();
        bench::exec(db, "BEGIN");
        bench::Statement st(db, "INSERT INTO Contents (id_no, item, value, receipt_year, receipt_month, receipt_day, "
                                "delivery_year, delivery_month, delivery_day) "
                                "VALUES (?, 'りんご 5kg', '1', '2026', '12', '10', '2026', '12', '11')");
        for (int i = 0; i < kMembers; ++i) {
            sqlite3_bind_int(st, 1, i);
            st.run();
        }
        bench::exec(db, "COMMIT");
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
HALVENNA_BENCHMARK(BM_StageBulkWaybills)->Iterations(3)->Unit(benchmark::kMillisecond);

// The yardstick: the same 10,000 staging rows (every one of the 26 fields bound, as a job writes
// them) with one prepared statement in one transaction, after emptying the table, in the same process.
class PreparedInsert
{
public:
    PreparedInsert()
        : db_(bench::openSqlite(markedRoster().file("PrintMember.db"))),
          st_(db_->handle(),
              "INSERT INTO PrintMember (id_no, name, name_kana, zip, address1, address2, tel, fax, zip_f, "
              "zip_r, tel_f, tel_m, tel_r, notes, item, value, receipt_year, receipt_month, receipt_day, "
              "delivery_year, delivery_month, delivery_day, item_kind1, item_kind2, amount, amount_prn) "
              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
    {}

    // Every failure is thrown: a yardstick that silently stored nothing would make any ratio look good.
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
        sqlite3* db = db_->handle();
        bench::exec(db, "DELETE FROM PrintMember");
        bench::exec(db, "BEGIN");
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
            st_.run();
        }
        bench::exec(db, "COMMIT");
    }

private:
    std::unique_ptr<halvenna::sql::SqliteConnection> db_;
    bench::Statement st_;
};

void BM_PreparedInsertOfStagingRows(benchmark::State& state)
{
    PreparedInsert yardstick;
    for (auto _ : state)
        yardstick.run();
}
HALVENNA_BENCHMARK(BM_PreparedInsertOfStagingRows)->Iterations(3)->Unit(benchmark::kMillisecond);

// The two above, paired: each iteration runs the yardstick just before the staging and records the
// ratio of their times, so that a change of load between them does not skew it (this machine's
// shared cores vary by ±30 % from one second to the next). The counter is the median ratio.
//
// The yardstick writes the staging table on a connection of its own while the data module has it
// open. Between two print jobs the program waits for the user, and its tables let go of their read
// locks then (TDataModule1 does it whenever the event loop is about to wait); there is no event
// loop here, so that is done by hand before the yardstick runs.
void BM_StagingOverPreparedInsert(benchmark::State& state)
{
    TDataModule1 dm(markedRoster().path());
    dm.DataModuleCreate();
    halvenna::PrintJobs jobs(dm);
    PreparedInsert yardstick;
    std::vector<double> ratios;
    for (auto _ : state) {
        for (halvenna::Table* t : {&dm.tbMemberMaster, &dm.tbContents, &dm.tbAccount, &dm.tbPrintMember})
            t->releaseReadLock();
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
    state.counters["median_ratio"] = bench::median(ratios);
    if (!ratios.empty()) {
        state.counters["lowest_ratio"] = *std::min_element(ratios.begin(), ratios.end());
        state.counters["highest_ratio"] = *std::max_element(ratios.begin(), ratios.end());
    }
}
HALVENNA_BENCHMARK(BM_StagingOverPreparedInsert)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

// "まとめて印刷" for waybills as the button runs it, to a PDF file: staging, parameters, the engine.
// Compare with BM_BarePdfLoop of bench_report (the same sheets drawn by a bare QPdfWriter loop).
void BM_BulkWaybillsToPdf(benchmark::State& state)
{
    TDataModule1 dm(markedRoster().path());
    dm.DataModuleCreate();
    // No settings file: every form unmoved, as a fresh installation prints.
    halvenna::StandardReportOutput output(halvenna::settingsFilePath(QString()));
    halvenna::ReportProject project(&output);
    halvenna::ReportConnection printMaster(QStringLiteral("rvtbPrintMaster"), &dm.tbPrintMember);
    halvenna::ReportConnection account(QStringLiteral("rvtbAccount"), &dm.tbAccount);
    project.addConnection(printMaster);
    project.addConnection(account);
    const QString pdf = markedRoster().file("bulk.pdf");
    halvenna::PrintJobs jobs(dm);
    for (auto _ : state) {
        jobs.stageBulkWaybills(halvenna::PanelDates{});
        halvenna::prepareInvoiceReport(project, halvenna::SenderSettingsData{},
                                       QStringLiteral(HALVENNA_SOURCE_DIR "/report/templates/"));
        halvenna::StandardReportOutput::optionsSeam().answer(
            halvenna::OutputChoice{halvenna::OutputChoice::Destination::File, 1, pdf});
        halvenna::runPreparedReport(project);
    }
    state.counters["pdf_MiB"] = QFileInfo(pdf).size() / 1048576.0;
}
HALVENNA_BENCHMARK(BM_BulkWaybillsToPdf)->Iterations(3)->Unit(benchmark::kMillisecond);

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

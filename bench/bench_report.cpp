// The report engine on a big run: 10,000 staged waybills rendered to a PDF through the engine
// (template, connection, the standard output writing a file with its status window) against a bare
// loop in the same process that draws the same texts at the same places on as many pages with a
// QPdfWriter; and the peak memory of previewing those 10,000 sheets and paging to the last.
//
//   bench_report                         every benchmark, then a summary with the ratio
//   bench_report --preview-child DIR     (internal) previews DIR's staging rows, prints VmHWM before and after
#include "BenchSupport.h"
#include "data/Error.h"
#include "data/SjisText.h"
#include "report/ReportProject.h"
#include "report/ReportTemplate.h"
#include "report/dialogs/ReportPreview.h"
#include "report/dialogs/StandardReportOutput.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"
#include "roster/model/Schema.h"
#include "settings/SenderSettings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kSheets = 10000;

QString templatePath()
{
    // The shipped waybill, found beside this source.
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../report/templates/Invoice.Rav"));
}

std::map<std::string, std::vector<double>>& timings()
{
    static std::map<std::string, std::vector<double>> t;
    return t;
}

// The staging table of a bulk waybill job: `rows` sheets with every field the waybill prints,
// written straight into the table file in one transaction (staging is measured elsewhere).
class Staging
{
public:
    explicit Staging(int rows)
    {
        halvenna::schema::createMissingTables(dir_.path());
        const auto connection = bench::openSqlite(QDir(dir_.path()).filePath(QStringLiteral("PrintMember.db")));
        sqlite3* db = connection->handle();
        bench::exec(db, "BEGIN");
        bench::Statement st(db,
                            "INSERT INTO PrintMember (id_no, name, zip, address1, address2, tel, zip_f, zip_r, tel_f, "
                            "tel_m, tel_r, item, value, receipt_year, receipt_month, receipt_day, delivery_year, "
                            "delivery_month, delivery_day) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                            "'2024', '12', '31', '2025', '1', '1')");
        static const char16_t* family[] = {u"山田", u"佐藤", u"鈴木", u"高橋", u"田中", u"伊藤", u"渡辺", u"中村"};
        static const char16_t* given[] = {u"太郎", u"花子", u"一郎", u"美咲", u"健太", u"陽子", u"翔", u"愛"};
        static const char16_t* town[] = {u"東京都渋谷区神宮前", u"大阪府大阪市北区梅田", u"北海道札幌市中央区北一条西",
                                         u"福岡県福岡市博多区博多駅前"};
        for (int i = 0; i < rows; ++i) {
            const QString zip = QStringLiteral("%1-%2").arg(100 + i % 900).arg(i % 10000, 4, 10, QChar(u'0'));
            const QString tel = QStringLiteral("03-%1-%2").arg(1000 + i % 9000).arg(i % 10000, 4, 10, QChar(u'0'));
            const auto split = halvenna::rules::splitZipAndTel(halvenna::FieldValue::fromString(zip),
                                                               halvenna::FieldValue::fromString(tel));
            const QList<QByteArray> values = {
                (QString::fromUtf16(family[i % 8]) + QString::fromUtf16(given[(i / 8) % 8])).toUtf8(),
                zip.toUtf8(),
                (QString::fromUtf16(town[i % 4]) +
                 QStringLiteral("%1-%2-%3").arg(i % 9 + 1).arg(i % 30 + 1).arg(i % 17 + 1))
                    .toUtf8(),
                QStringLiteral("ハイツ%1号室").arg(101 + i % 900).toUtf8(),
                tel.toUtf8(),
                split.zipF,
                split.zipR,
                split.telF,
                split.telM,
                split.telR,
                QStringLiteral("りんごジュース詰め合わせ").toUtf8(),
                QByteArray::number(1 + i % 5)};
            sqlite3_bind_int(st, 1, i + 1);
            for (int v = 0; v < values.size(); ++v)
                sqlite3_bind_text(st, v + 2, values.at(v).constData(), int(values.at(v).size()), SQLITE_TRANSIENT);
            st.run();
        }
        bench::exec(db, "COMMIT");
    }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

Staging& staging()
{
    static Staging s(kSheets);
    return s;
}

// The print window's report parts, as the waybill run sets them up.
struct Run
{
    explicit Run(const QString& tablesDir) : dm(tablesDir)
    {
        dm.DataModuleCreate();
        rvpjInvoice.addConnection(rvtbPrintMaster);
        rvpjInvoice.addConnection(rvtbAccount);
        rvpjInvoice.ProjectFile = templatePath();
        const auto set = [&](const char* name, const QString& value) {
            rvpjInvoice.SetReportParam(QLatin1String(name), halvenna::sjis::fromUnicode(value));
        };
        set("SenderName", QStringLiteral("株式会社ハルヴェナ 通信販売部"));
        set("SenderZipF", QStringLiteral("6  0  4"));
        set("SenderZipR", QStringLiteral("8  1  2  3"));
        set("SenderAddress1", QStringLiteral("京都府京都市中京区烏丸通"));
        set("SenderAddress2", QStringLiteral("ハルヴェナビル5階"));
        set("SenderTelF", QStringLiteral("075"));
        set("SenderTelM", QStringLiteral("123"));
        set("SenderTelR", QStringLiteral("4567"));
        set("SenderShopCode1", QStringLiteral("123"));
        set("SenderShopCode2", QStringLiteral("456"));
        set("CustomerCode", QStringLiteral("0751234567"));
    }
    TDataModule1 dm;
    halvenna::ReportConnection rvtbPrintMaster{QStringLiteral("rvtbPrintMaster"), &dm.tbPrintMember};
    halvenna::ReportConnection rvtbAccount{QStringLiteral("rvtbAccount"), &dm.tbAccount};
    halvenna::StandardReportOutput output{halvenna::settingsFilePath(QString())};
    halvenna::ReportProject rvpjInvoice{&output};
};

// What the engine draws: every text of every page, at 1200 dpi, for the bare loop to draw again.
using Drawn = halvenna::ReportDocument::PlacedText;

// The yardstick's input, prepared once and outside its timing: the same texts, places, fonts and
// page size as the engine's.
struct Yardstick
{
    std::vector<std::vector<Drawn>> pages;
    std::vector<QFont> fonts;
    QPageLayout layout;
};

Yardstick& yardstick()
{
    static std::unique_ptr<Yardstick> y;
    if (!y) {
        y = std::make_unique<Yardstick>();
        Run run(staging().path());
        const halvenna::ReportDocument doc = run.rvpjInvoice.makeDocument();
        QTemporaryDir dir;
        QPdfWriter metrics(dir.filePath(QStringLiteral("metrics.pdf"))); // only its resolution is used
        y->layout = doc.pageLayout();
        for (int i = 0; i < doc.report().texts.size(); ++i)
            y->fonts.push_back(doc.font(i));
        y->pages.resize(size_t(doc.pageCount()));
        for (int p = 0; p < doc.pageCount(); ++p)
            doc.layoutPage(p, metrics, [&](const Drawn& d) { y->pages[size_t(p)].push_back(d); });
    }
    return *y;
}

// The engine: open the template, read the 10,000 staged rows through the connection, write them as
// a PDF through the standard output (as the user's "File" choice does), close.
void BM_EngineToPdf(benchmark::State& state)
{
    Run run(staging().path());
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("engine.pdf"));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        halvenna::StandardReportOutput::optionsSeam().answer(
            halvenna::OutputChoice{halvenna::OutputChoice::Destination::File, 1, pdf});
        run.rvpjInvoice.OpenProject();
        run.rvpjInvoice.RunReport();
        run.rvpjInvoice.CloseProject();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(s);
        timings()["engine"].push_back(s);
    }
    state.counters["pages"] = kSheets;
    state.counters["MiB"] = double(QFileInfo(pdf).size()) / (1 << 20);
}
HALVENNA_BENCHMARK(BM_EngineToPdf)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The yardstick: a QPdfWriter on a file, the same page layout, and for each page the same texts
// drawn with the same fonts at the same places.
void BM_BarePdfLoop(benchmark::State& state)
{
    Yardstick& y = yardstick();
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("bare.pdf"));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        {
            QPdfWriter writer(pdf);
            writer.setPageLayout(y.layout);
            QPainter p(&writer);
            p.setPen(Qt::black);
            for (size_t page = 0; page < y.pages.size(); ++page) {
                if (page > 0)
                    writer.newPage();
                int current = -1;
                double size = 0;
                for (const Drawn& d : y.pages[page]) {
                    if (d.item != current || d.pointSize != size) {
                        QFont f = y.fonts[size_t(d.item)];
                        f.setPointSizeF(d.pointSize);
                        p.setFont(f);
                        current = d.item;
                        size = d.pointSize;
                    }
                    if (d.stretch == 1 && d.clip.isEmpty()) {
                        p.drawText(d.at, d.text);
                        continue;
                    }
                    // A text condensed or clipped to fit its box is drawn so by the yardstick too.
                    p.save();
                    if (!d.clip.isEmpty())
                        p.setClipRect(d.clip);
                    p.translate(d.at);
                    p.scale(d.stretch, 1);
                    p.drawText(QPointF(0, 0), d.text);
                    p.restore();
                }
            }
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(s);
        timings()["bare"].push_back(s);
    }
    state.counters["pages"] = double(y.pages.size());
    state.counters["MiB"] = double(QFileInfo(pdf).size()) / (1 << 20);
}
HALVENNA_BENCHMARK(BM_BarePdfLoop)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Reading the rows: the report's read of the 10,000 staged rows through rvtbPrintMaster (the fields
// the waybill prints, with the sheet's key and the telephone number the run adds, each decoded once
// to the text the painter draws) against a bare SELECT of the same columns on a connection of its
// own that steps every row and touches every value's bytes, and the same SELECT making each value a
// QString (the least a reader that hands text to a painter does). They run in turns within each
// iteration, so each pair shares the machine's state of the moment; the ratio is the median pair's.
void BM_ReportReadPairedWithBareSelect(benchmark::State& state)
{
    Run run(staging().path());
    const halvenna::ReportTemplate t = halvenna::ReportTemplate::load(templatePath());
    const halvenna::TemplateReport& report = t.reports().at(t.defaultReport());
    QStringList fields;
    for (const halvenna::TemplateText& text : report.texts)
        if (text.source == halvenna::TemplateText::Source::Field && !fields.contains(text.name, Qt::CaseInsensitive))
            fields << text.name;
    const QStringList optional{QStringLiteral("id_no"), QStringLiteral("tel")};
    const auto connection = bench::openSqlite(QDir(staging().path()).filePath(QStringLiteral("PrintMember.db")));
    const QByteArray sql =
        "SELECT " + (fields + optional).join(QStringLiteral(", ")).toUtf8() + " FROM PrintMember ORDER BY rowid";
    bench::Statement bare(connection->handle(), sql.constData());
    const int columns = int(fields.size() + optional.size());
    std::vector<double> ratios;
    std::vector<double> decodedRatios;
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        const halvenna::ReportRows rows = run.rvtbPrintMaster.read(fields, optional);
        const auto b = std::chrono::steady_clock::now();
        qint64 bytes = 0;
        int count = 0;
        while (sqlite3_step(bare) == SQLITE_ROW) {
            for (int c = 0; c < columns; ++c) {
                const auto* text = sqlite3_column_text(bare, c);
                const int n = sqlite3_column_bytes(bare, c);
                bytes += n > 0 ? text[n - 1] : 0;
            }
            ++count;
        }
        sqlite3_reset(bare);
        const auto c = std::chrono::steady_clock::now();
        // The same SELECT, each value made the text a painter takes (the least any reader must do).
        qsizetype units = 0;
        while (sqlite3_step(bare) == SQLITE_ROW)
            for (int col = 0; col < columns; ++col) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(bare, col));
                units += QString::fromUtf8(text, sqlite3_column_bytes(bare, col)).size();
            }
        sqlite3_reset(bare);
        const auto d = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(units);
        benchmark::DoNotOptimize(bytes);
        if (rows.rowCount() != kSheets || count != kSheets || rows.fields().size() != columns) {
            state.SkipWithError("the read and the bare SELECT do not see the staged rows");
            break;
        }
        const double read = std::chrono::duration<double>(b - a).count();
        const double select = std::chrono::duration<double>(c - b).count();
        state.SetIterationTime(read);
        timings()["read"].push_back(read);
        const double decoded = std::chrono::duration<double>(d - c).count();
        timings()["select"].push_back(select);
        timings()["select decoded"].push_back(decoded);
        ratios.push_back(read / select);
        decodedRatios.push_back(read / decoded);
    }
    timings()["read ratio"].push_back(bench::median(ratios));
    timings()["read ratio decoded"].push_back(bench::median(decodedRatios));
    state.counters["ratio"] = bench::median(ratios);
    state.counters["ratio_decoded"] = bench::median(decodedRatios);
}
HALVENNA_BENCHMARK(BM_ReportReadPairedWithBareSelect)->UseManualTime()->Iterations(21)->Unit(benchmark::kMillisecond);

// Previewing the 10,000 sheets and paging to the last, in a child process so that the peak
// resident memory (VmHWM) is the preview's alone: idle (program, tables and template loaded)
// against the peak after the preview.
void BM_PreviewPeakMemory(benchmark::State& state)
{
    for (auto _ : state) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--preview-child"), staging().path()});
        child.waitForFinished(-1);
        const QList<QByteArray> kib = child.readAllStandardOutput().trimmed().split(' ');
        if (child.exitCode() != 0 || kib.size() != 2) {
            state.SkipWithError(("the preview child failed: " + child.readAllStandardError().left(300)).constData());
            break;
        }
        const double idle = kib.at(0).toDouble() / 1024;
        const double peak = kib.at(1).toDouble() / 1024;
        state.counters["idle_MiB"] = idle;
        state.counters["peak_MiB"] = peak;
        state.counters["above_idle_MiB"] = peak - idle;
        timings()["preview idle MiB"].push_back(idle);
        timings()["preview peak MiB"].push_back(peak);
    }
}
HALVENNA_BENCHMARK(BM_PreviewPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

qint64 highWaterKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The child's side: the run with "Preview" chosen; once the preview is up it pages to the last
// sheet, draws it, closes. Prints the high-water mark before and after, in KiB.
int previewChild(const QString& tablesDir)
{
    try {
        Run run(tablesDir);
        run.rvpjInvoice.OpenProject();
        const qint64 idle = highWaterKib();
        int shown = -1;
        halvenna::StandardReportOutput::optionsSeam().answer(
            halvenna::OutputChoice{halvenna::OutputChoice::Destination::Preview, 1, {}});
        QTimer::singleShot(0, [&] {
            auto* preview = qobject_cast<halvenna::ReportPreview*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            preview->grab(); // the first sheet, drawn
            for (int i = 0; i < 20; ++i) {
                preview->next();
                preview->grab();
            }
            preview->last();
            preview->grab();
            shown = preview->currentPage();
            preview->reject();
        });
        run.rvpjInvoice.RunReport();
        run.rvpjInvoice.CloseProject();
        if (shown != kSheets - 1) {
            std::fprintf(stderr, "the preview did not reach the last sheet (%d)\n", shown);
            return 1;
        }
        std::printf("%lld %lld\n", idle, highWaterKib());
        return 0;
    } catch (const halvenna::Error& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
}

void printSummary()
{
    const auto& t = timings();
    const auto best = [&](const char* key) {
        const auto it = t.find(key);
        if (it == t.end() || it->second.empty())
            return -1.0;
        return *std::min_element(it->second.begin(), it->second.end());
    };
    const double engine = best("engine");
    const double bare = best("bare");
    std::printf("\n== report engine, %d sheets to PDF\n", kSheets);
    if (engine > 0 && bare > 0)
        std::printf("engine %.2f s, bare QPdfWriter loop %.2f s: %.2fx (target <= 1.5x)\n", engine, bare,
                    engine / bare);
    const auto it = t.find("read ratio");
    if (it != t.end() && !it->second.empty())
        std::printf("reading %d staged rows: %.1f ms, bare SELECT of the same columns %.1f ms (best of each); "
                    "median paired ratio %.2fx (target <= 1.2x)\n",
                    kSheets, best("read") * 1000, best("select") * 1000, it->second.back());
    if (const auto d = t.find("read ratio decoded"); d != t.end() && !d->second.empty())
        std::printf("  against the SELECT that also makes each value a QString: %.1f ms, median paired ratio %.2fx\n",
                    best("select decoded") * 1000, d->second.back());
    const double idle = best("preview idle MiB");
    const double peak = best("preview peak MiB");
    if (idle > 0 && peak > 0)
        std::printf("preview of %d sheets, paged to the last: idle %.1f MiB, peak %.1f MiB, %.1f MiB above idle "
                    "(target < 200)\n",
                    kSheets, idle, peak, peak - idle);
}

} // namespace

int main(int argc, char** argv)
{
    // The engine's windows need a platform; without a screen, the offscreen one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    if (argc == 3 && qstrcmp(argv[1], "--preview-child") == 0)
        return previewChild(QString::fromLocal8Bit(argv[2]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}

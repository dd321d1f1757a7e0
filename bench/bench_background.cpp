// Paging through the preview of 1,000 waybills with a 300 dpi A4 scan of the blank form behind it,
// against the same paging without it, in one run: each benchmark shows the preview, then draws
// every sheet in turn as Page Down does (drawn as the screen would draw it). The scan is read and decoded once, before
// the paging. Also the peak resident memory (VmHWM) the scan adds, measured in a child process per case.
//
//   bench_background                       every benchmark, then a summary with the ratio
//   bench_background --memory-child 0|1    (internal) pages without / with the scan, prints VmHWM in KiB
#include "BenchSupport.h"
#include "data/SjisText.h"
#include "report/ReportDocument.h"
#include "report/dialogs/ReportPreview.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>

namespace {

constexpr int kSheets = 1000;

std::map<std::string, std::vector<double>>& timings()
{
    static std::map<std::string, std::vector<double>> t;
    return t;
}

// The run: the shipped waybill over 1,000 members with a name and an address each.
const halvenna::ReportDocument& document()
{
    static const halvenna::ReportDocument doc = [] {
        const QString path =
            QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../report/templates/Invoice.Rav"));
        const auto t = std::make_shared<const halvenna::ReportTemplate>(halvenna::ReportTemplate::load(path));
        halvenna::ReportRows rows({QStringLiteral("id_no"), QStringLiteral("name"), QStringLiteral("address1"),
                                   QStringLiteral("zip_f"), QStringLiteral("zip_r")});
        for (int i = 1; i <= kSheets; ++i)
            rows.appendRow({QByteArray::number(i), halvenna::sjis::fromUnicode(QStringLiteral("会員 %1 様").arg(i)),
                            halvenna::sjis::fromUnicode(QStringLiteral("東京都渋谷区神宮前 %1-2-3").arg(i)), "150",
                            "0001"});
        return halvenna::ReportDocument(t, t->defaultReport(), {}, std::move(rows));
    }();
    return doc;
}

// A 300 dpi scan of an A4 sheet (2480 x 3508 pixels): grey lines and speckle, so that it is no
// trivially compressed blank page.
const QString& scanPath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("scan-a4-300dpi.png"));
        QImage scan(2480, 3508, QImage::Format_RGB32);
        scan.fill(Qt::white);
        scan.setDotsPerMeterX(11811);
        scan.setDotsPerMeterY(11811);
        QPainter painter(&scan);
        painter.setPen(QPen(QColor(200, 90, 90), 3));
        for (int y = 0; y < scan.height(); y += 60)
            painter.drawLine(0, y, scan.width(), y);
        QRandomGenerator random(7);
        for (int i = 0; i < 200000; ++i)
            scan.setPixel(int(random.bounded(scan.width())), int(random.bounded(scan.height())), qRgb(120, 120, 120));
        painter.end();
        if (!scan.save(p))
            throw std::runtime_error("the scan could not be written");
        return p;
    }();
    return path;
}

halvenna::FormBackground placement()
{
    halvenna::FormBackground b;
    b.path = scanPath();
    b.mmPerPixel = 25.4 / 300;
    return b;
}

// Shows the preview (with the scan or not) and draws every sheet in turn; the seconds of the paging.
double page(bool withScan)
{
    halvenna::ReportPreview preview(document());
    if (withScan && !preview.setBackground(placement()))
        throw std::runtime_error("the scan was not read");
    preview.show();
    auto* view = preview.findChild<halvenna::PreviewPage*>(QStringLiteral("pvPage"));
    // grab() paints the sheet as the screen would, whether or not a screen shows it.
    (void)view->grab();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i < kSheets; ++i) {
        preview.next();
        (void)view->grab();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_PagingWithoutScan(benchmark::State& state)
{
    for (auto _ : state) {
        const double s = page(false);
        state.SetIterationTime(s);
        timings()["without"].push_back(s);
    }
}
HALVENNA_BENCHMARK(BM_PagingWithoutScan)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_PagingWithScan(benchmark::State& state)
{
    for (auto _ : state) {
        const double s = page(true);
        state.SetIterationTime(s);
        timings()["with"].push_back(s);
    }
}
HALVENNA_BENCHMARK(BM_PagingWithScan)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

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

// The peak of paging without and with the scan, each in a child of its own.
void BM_ScanPeakMemory(benchmark::State& state)
{
    for (auto _ : state) {
        double kib[2] = {0, 0};
        for (int withScan = 0; withScan < 2; ++withScan) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--memory-child"), QString::number(withScan), scanPath()});
            child.waitForFinished(-1);
            kib[withScan] = child.readAllStandardOutput().trimmed().toDouble();
            if (child.exitCode() != 0 || kib[withScan] <= 0) {
                state.SkipWithError("the memory child failed");
                return;
            }
        }
        state.counters["without_MiB"] = kib[0] / 1024;
        state.counters["with_MiB"] = kib[1] / 1024;
        state.counters["added_MiB"] = (kib[1] - kib[0]) / 1024;
        timings()["added MiB"].push_back((kib[1] - kib[0]) / 1024);
    }
}
HALVENNA_BENCHMARK(BM_ScanPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void printSummary()
{
    const auto& t = timings();
    if (t.count("with") && t.count("without")) {
        const std::vector<double>& with = t.at("with");
        const std::vector<double>& without = t.at("without");
        std::vector<double> ratios;
        for (size_t i = 0; i < std::min(with.size(), without.size()); ++i)
            ratios.push_back(with[i] / without[i]);
        std::sort(ratios.begin(), ratios.end());
        std::printf("\npaging %d sheets: without the scan %.0f ms, with it %.0f ms (medians)\n", kSheets,
                    bench::median(without) * 1000, bench::median(with) * 1000);
        std::printf("with / without: %.2f x (paired runs, %.2f to %.2f; limit 1.2 x)\n", bench::median(ratios),
                    ratios.front(), ratios.back());
    }
    if (t.count("added MiB"))
        std::printf("peak memory added by the scan: %.1f MiB (limit 100 MiB)\n", t.at("added MiB").front());
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    if (argc == 4 && qstrcmp(argv[1], "--memory-child") == 0) {
        try {
            const bool withScan = qstrcmp(argv[2], "1") == 0;
            (void)document();
            halvenna::ReportPreview preview(document());
            if (withScan) {
                halvenna::FormBackground b;
                b.path = QString::fromLocal8Bit(argv[3]);
                b.mmPerPixel = 25.4 / 300;
                if (!preview.setBackground(b))
                    return 1;
            }
            preview.show();
            auto* view = preview.findChild<halvenna::PreviewPage*>(QStringLiteral("pvPage"));
            for (int i = 0; i < 50; ++i) {
                preview.next();
                (void)view->grab();
            }
            std::printf("%lld\n", highWaterKib());
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}

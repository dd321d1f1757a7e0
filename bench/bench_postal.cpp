// The postal-code index on Debian's dictionary (skkdic-extra) and on the program's own file made
// from it: the first lookup, the file read and indexed, against grep finding the same line (the
// grep program, and the same search in this process: read the file, find every line that starts
// with the code), in this process and in a fresh one; later lookups; the memory the index holds;
// reading a postal service list of the dictionary's size.
//
//   bench_postal                          every benchmark, then a summary with the paired ratios
//   bench_postal --first-lookup-child F   (internal) loads F (".txt": an own file), looks up
//                                         once, prints the microseconds
#include "BenchSupport.h"
#include "data/SjisText.h"
#include "roster/postal/PostalCodes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

const QString kDictionary = QStringLiteral("/usr/share/skk/SKK-JISYO.zipcode");
const QString kCode = QStringLiteral("1500001");

// Seconds of every timed iteration and the paired ratios, by what they are, for the summary.
std::map<std::string, std::vector<double>>& timings()
{
    static std::map<std::string, std::vector<double>> t;
    return t;
}

using bench::median;

void requireDictionary()
{
    if (!QFile::exists(kDictionary))
        throw std::runtime_error("no /usr/share/skk/SKK-JISYO.zipcode (apt-get install skkdic-extra)");
}

// The dictionary saved as the program's own file, once.
const QString& ownFile()
{
    static std::unique_ptr<QTemporaryDir> dir;
    static QString path;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        path = dir->filePath(QStringLiteral("PostalCodes.txt"));
        halvenna::PostalCodes::fromSkkDictionary(kDictionary).save(path);
    }
    return path;
}

template <typename F> double secondsOf(F&& f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return double(timer.nsecsElapsed()) / 1e9;
}

// What `grep '^1500001 ' FILE` does, in this process: the whole file read as the index reads it,
// then every line that starts with the code found (memmem, as grep looks for a fixed string).
int grepInProcess(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw std::runtime_error("cannot read the file");
    QByteArray bytes(file.size(), Qt::Uninitialized);
    if (file.read(bytes.data(), bytes.size()) != bytes.size())
        throw std::runtime_error("cannot read the file");
    const QByteArray needle = '\n' + kCode.toLatin1() + ' ';
    int found = bytes.startsWith(needle.mid(1)) ? 1 : 0;
    const char* end = bytes.constData() + bytes.size();
    for (const char* p = bytes.constData(); p < end; p += needle.size()) {
        p = static_cast<const char*>(memmem(p, size_t(end - p), needle.constData(), size_t(needle.size())));
        if (!p)
            break;
        ++found;
    }
    return found;
}

// The grep program itself, started and waited for, with this process's environment.
double grepProgramSeconds(const QString& path)
{
    static const QString grep = QStandardPaths::findExecutable(QStringLiteral("grep"));
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(grep, {QStringLiteral("^%1 ").arg(kCode), path});
    const bool finished = process.waitForFinished(-1);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!finished || process.exitCode() != 0)
        throw std::runtime_error("grep did not find the code");
    return seconds;
}

// ------------------------------------------------------------------ the first lookup

// Each iteration runs grep, the same search in this process, then the first lookup, and records
// the lookup's time as a ratio to each. arg 0: the dictionary; 1: the own file.
void BM_FirstLookup(benchmark::State& state)
{
    requireDictionary();
    const bool own = state.range(0) == 1;
    const QString path = own ? ownFile() : kDictionary;
    const std::string name = own ? "own file" : "dictionary";
    for (auto _ : state) {
        const double grepProgram = grepProgramSeconds(path);
        int found = 0;
        const double grepHere = secondsOf([&] { found = grepInProcess(path); });
        QStringList towns;
        const double first = secondsOf([&] {
            const halvenna::PostalCodes codes =
                own ? halvenna::PostalCodes::fromOwnFile(path) : halvenna::PostalCodes::fromSkkDictionary(path);
            towns = codes.lookup(kCode);
        });
        if (found != 1 || towns != QStringList{QStringLiteral("東京都渋谷区神宮前")})
            throw std::runtime_error("the code was not found");
        state.SetIterationTime(first);
        auto& t = timings();
        if (t[name + " first lookup"].empty())
            t[name + " first in process"].push_back(first);
        t[name + " first lookup"].push_back(first);
        t[name + " grep in process"].push_back(grepHere);
        t[name + " grep program"].push_back(grepProgram);
        t[name + " ratio to grep in process"].push_back(first / grepHere);
        t[name + " ratio to grep program"].push_back(first / grepProgram);
    }
}
HALVENNA_BENCHMARK(BM_FirstLookup)->Arg(0)->Arg(1)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);

// What the program meets: its first lookup in a process that has not read the file before, so
// that the memory the load takes is fresh and the converter's tables are not yet loaded. The child
// times the load and the lookup itself; grep's time includes its start, as typing it does.
void BM_FirstLookupInFreshProcess(benchmark::State& state)
{
    requireDictionary();
    const bool own = state.range(0) == 1;
    const QString path = own ? ownFile() : kDictionary;
    const std::string name = own ? "own file" : "dictionary";
    for (auto _ : state) {
        const double grepProgram = grepProgramSeconds(path);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--first-lookup-child"), path});
        child.waitForFinished(-1);
        bool ok = false;
        const double first = child.readAllStandardOutput().trimmed().toDouble(&ok) / 1e6;
        if (child.exitCode() != 0 || !ok)
            throw std::runtime_error("the child failed: " + child.readAllStandardError().left(200).toStdString());
        state.SetIterationTime(first);
        timings()[name + " fresh first lookup"].push_back(first);
        timings()[name + " fresh ratio to grep program"].push_back(first / grepProgram);
    }
}
HALVENNA_BENCHMARK(BM_FirstLookupInFreshProcess)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(15)
    ->Unit(benchmark::kMicrosecond);

int firstLookupChild(const QString& path)
{
    QElapsedTimer timer;
    timer.start();
    try {
        const halvenna::PostalCodes codes = path.endsWith(u".txt") ? halvenna::PostalCodes::fromOwnFile(path)
                                                                   : halvenna::PostalCodes::fromSkkDictionary(path);
        if (codes.lookup(kCode).isEmpty())
            return 1;
    } catch (const halvenna::Error& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    std::printf("%.1f\n", double(timer.nsecsElapsed()) / 1e3);
    return 0;
}

// ------------------------------------------------------------------ later lookups

// Every code of the dictionary, in order.
std::vector<QString> allCodes()
{
    QFile file(kDictionary);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read the dictionary");
    std::vector<QString> codes;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.size() > 8 && line[0] != ';')
            codes.push_back(QString::fromLatin1(line.left(7)));
    return codes;
}

// A scattered one code in 97.
std::vector<QString> someCodes()
{
    const std::vector<QString> codes = allCodes();
    std::vector<QString> scattered;
    for (size_t i = 0; i < codes.size(); i += 97)
        scattered.push_back(codes[(i * 7919) % codes.size()]);
    return scattered;
}

// arg 0: the dictionary (decoded from EUC-JIS-2004 per lookup); 1: the own file (UTF-8).
void BM_LaterLookup(benchmark::State& state)
{
    requireDictionary();
    const bool own = state.range(0) == 1;
    const halvenna::PostalCodes codes =
        own ? halvenna::PostalCodes::fromOwnFile(ownFile()) : halvenna::PostalCodes::fromSkkDictionary(kDictionary);
    static const std::vector<QString> list = someCodes();
    size_t i = 0;
    qsizetype towns = 0;
    for (auto _ : state) {
        towns += codes.lookup(list[i]).size();
        i = (i + 1) % list.size();
    }
    if (towns < qsizetype(state.iterations()))
        throw std::runtime_error("a code of the dictionary was not found");
    state.SetItemsProcessed(state.iterations());
}
HALVENNA_BENCHMARK(BM_LaterLookup)->Arg(0)->Arg(1);

void BM_UnknownCode(benchmark::State& state)
{
    requireDictionary();
    const halvenna::PostalCodes codes = halvenna::PostalCodes::fromSkkDictionary(kDictionary);
    qsizetype towns = 0;
    for (auto _ : state)
        towns += codes.lookup(u"0000001").size();
    if (towns != 0)
        throw std::runtime_error("an unknown code gave towns");
}
HALVENNA_BENCHMARK(BM_UnknownCode);

// ------------------------------------------------------------------ memory

void BM_IndexMemory(benchmark::State& state)
{
    requireDictionary();
    for (auto _ : state) {
        const halvenna::PostalCodes dictionary = halvenna::PostalCodes::fromSkkDictionary(kDictionary);
        const halvenna::PostalCodes own = halvenna::PostalCodes::fromOwnFile(ownFile());
        state.counters["dictionary_MiB"] = double(dictionary.memoryBytes()) / (1024 * 1024);
        state.counters["own_file_MiB"] = double(own.memoryBytes()) / (1024 * 1024);
        state.counters["codes"] = double(dictionary.size());
        timings()["memory MiB dictionary"].push_back(double(dictionary.memoryBytes()) / (1024 * 1024));
        timings()["memory MiB own file"].push_back(double(own.memoryBytes()) / (1024 * 1024));
        timings()["file MiB dictionary"].push_back(double(QFile(kDictionary).size()) / (1024 * 1024));
        timings()["file MiB own file"].push_back(double(QFile(ownFile()).size()) / (1024 * 1024));
        timings()["codes"].push_back(double(dictionary.size()));
    }
}
HALVENNA_BENCHMARK(BM_IndexMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ the postal service's list

// A KEN_ALL.CSV of the dictionary's size: a row per town, the first three characters as the
// prefecture, a remark on every tenth row and every twentieth town split over two rows.
const QString& postalServiceList()
{
    static std::unique_ptr<QTemporaryDir> dir;
    static QString path;
    if (dir)
        return path;
    dir = std::make_unique<QTemporaryDir>();
    path = dir->filePath(QStringLiteral("KEN_ALL.CSV"));
    const halvenna::PostalCodes codes = halvenna::PostalCodes::fromSkkDictionary(kDictionary);
    QByteArray bytes;
    int n = 0;
    const auto row = [&](const QString& code, const QString& address, const QString& town) {
        bytes +=
            halvenna::sjis::fromUnicode(
                QStringLiteral("13101,\"%1  \",\"%2\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ﾁﾖﾀﾞ\",\"%3\",\"%4\",\"%5\",0,0,0,0,0,0")
                    .arg(code.left(3), code, address.left(3), address.mid(3), town)) +
            "\r\n";
    };
    for (const QString& code : allCodes()) {
        for (const QString& address : codes.lookup(code)) {
            ++n;
            if (n % 20 == 0) {
                row(code, address, QStringLiteral("（１～１９丁目、"));
                row(code, address, QStringLiteral("２１丁目）"));
            } else {
                row(code, address, n % 10 == 0 ? QStringLiteral("（次のビルを除く）") : QString());
            }
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write the list");
    timings()["list rows"].push_back(n);
    return path;
}

void BM_ReadPostalServiceListAndSave(benchmark::State& state)
{
    requireDictionary();
    const QString& list = postalServiceList();
    QTemporaryDir dir;
    for (auto _ : state) {
        const double seconds = secondsOf([&] {
            const halvenna::PostalCodes codes = halvenna::PostalCodes::fromPostalServiceList(list);
            codes.save(dir.filePath(QStringLiteral("PostalCodes.txt")));
        });
        timings()["list seconds"].push_back(seconds);
    }
}
HALVENNA_BENCHMARK(BM_ReadPostalServiceListAndSave)->Iterations(3)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ summary

void printSummary()
{
    const auto& t = timings();
    const auto values = [&](const std::string& key) {
        const auto it = t.find(key);
        return it == t.end() ? std::vector<double>() : it->second;
    };
    std::printf("\nSummary (medians of paired iterations; lowest to highest)\n");
    for (const std::string name : {"dictionary", "own file"}) {
        const std::vector<double> first = values(name + " first lookup");
        if (first.empty())
            continue;
        std::printf("  %s: first lookup %.2f ms (the first in this process %.2f ms); grep in process %.2f ms; "
                    "grep program %.2f ms\n",
                    name.c_str(), median(first) * 1000, values(name + " first in process").front() * 1000,
                    median(values(name + " grep in process")) * 1000, median(values(name + " grep program")) * 1000);
        for (const char* to : {"grep in process", "grep program"}) {
            const std::vector<double> r = values(name + " ratio to " + to);
            const auto [low, high] = std::minmax_element(r.begin(), r.end());
            std::printf("    first lookup / %-16s %.2f x (%.2f to %.2f x over %zu iterations; limit 2.00 x)\n", to,
                        median(r), *low, *high, r.size());
        }
        const std::vector<double> fresh = values(name + " fresh ratio to grep program");
        if (!fresh.empty()) {
            const auto [low, high] = std::minmax_element(fresh.begin(), fresh.end());
            std::printf(
                "    in a fresh process %.2f ms; / grep program %.2f x (%.2f to %.2f x over %zu runs; limit 2.00 "
                "x)\n",
                median(values(name + " fresh first lookup")) * 1000, median(fresh), *low, *high, fresh.size());
        }
    }
    for (const std::string name : {"dictionary", "own file"}) {
        const std::vector<double> memory = values("memory MiB " + name);
        if (!memory.empty())
            std::printf("  %s: index %.3f MiB for a file of %.1f MiB, %.0f codes (limit 30 MiB)\n", name.c_str(),
                        memory.front(), values("file MiB " + name).front(), values("codes").front());
    }
    const std::vector<double> rows = values("list rows");
    const std::vector<double> list = values("list seconds");
    if (!rows.empty() && !list.empty())
        std::printf("  a postal service list of %.0f rows read and saved: %.0f ms\n", rows.front(),
                    median(list) * 1000);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--first-lookup-child") == 0)
        return firstLookupChild(QString::fromLocal8Bit(argv[2]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}

// The roster CSV import against its yardsticks, the sqlite3 command-line tool's .import of the same
// rows and the same SQLite work without the table layer, and the import's peak memory on a small
// and a very large file.
//
//   bench_import                       every benchmark, then a summary with the ratios
//   bench_import --import-child F D    (internal) imports F into the tables in D, prints VmHWM
#include "BenchSupport.h"
#include "data/SjisText.h"
#include "roster/import/MemberImport.h"
#include "roster/model/DataModule.h"
#include "roster/model/RecordRules.h"
#include "roster/model/Schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kLines = 100000;

// ------------------------------------------------------------------ realistic members

struct Reading
{
    const char16_t* kanji;
    const char16_t* kana;
};

const Reading kFamily[] = {
    {u"佐藤", u"サトウ"},   {u"鈴木", u"スズキ"},   {u"高橋", u"タカハシ"},   {u"田中", u"タナカ"},
    {u"伊藤", u"イトウ"},   {u"渡辺", u"ワタナベ"}, {u"山本", u"ヤマモト"},   {u"中村", u"ナカムラ"},
    {u"小林", u"コバヤシ"}, {u"加藤", u"カトウ"},   {u"吉田", u"ヨシダ"},     {u"山田", u"ヤマダ"},
    {u"佐々木", u"ササキ"}, {u"山口", u"ヤマグチ"}, {u"松本", u"マツモト"},   {u"井上", u"イノウエ"},
    {u"木村", u"キムラ"},   {u"林", u"ハヤシ"},     {u"斎藤", u"サイトウ"},   {u"清水", u"シミズ"},
    {u"山崎", u"ヤマザキ"}, {u"森", u"モリ"},       {u"池田", u"イケダ"},     {u"橋本", u"ハシモト"},
    {u"阿部", u"アベ"},     {u"石川", u"イシカワ"}, {u"長谷川", u"ハセガワ"}, {u"小川", u"オガワ"},
};

const Reading kGiven[] = {
    {u"太郎", u"タロウ"},   {u"花子", u"ハナコ"},   {u"一郎", u"イチロウ"}, {u"美咲", u"ミサキ"},
    {u"健太", u"ケンタ"},   {u"陽子", u"ヨウコ"},   {u"翔太", u"ショウタ"}, {u"愛", u"アイ"},
    {u"大輔", u"ダイスケ"}, {u"由美子", u"ユミコ"}, {u"誠", u"マコト"},     {u"恵子", u"ケイコ"},
    {u"拓也", u"タクヤ"},   {u"直美", u"ナオミ"},   {u"浩二", u"コウジ"},   {u"さくら", u"サクラ"},
    {u"隆", u"タカシ"},     {u"真由美", u"マユミ"}, {u"蓮", u"レン"},       {u"結衣", u"ユイ"},
};

struct Place
{
    const char16_t* town;
    const char* zip3;
    const char* area;
};

const Place kPlaces[] = {
    {u"東京都渋谷区神宮前", "150", "03"},          {u"東京都世田谷区三軒茶屋", "154", "03"},
    {u"東京都新宿区西新宿", "160", "03"},          {u"神奈川県横浜市港北区日吉", "223", "045"},
    {u"大阪府大阪市北区梅田", "530", "06"},        {u"大阪府堺市堺区中瓦町", "590", "072"},
    {u"愛知県名古屋市中区栄", "460", "052"},       {u"北海道札幌市中央区北一条西", "060", "011"},
    {u"福岡県福岡市博多区博多駅前", "812", "092"}, {u"京都府京都市左京区下鴨", "606", "075"},
    {u"兵庫県神戸市中央区三宮町", "650", "078"},   {u"宮城県仙台市青葉区一番町", "980", "022"},
    {u"広島県広島市中区紙屋町", "730", "082"},     {u"埼玉県さいたま市浦和区高砂", "330", "048"},
    {u"千葉県千葉市中央区富士見", "260", "043"},   {u"静岡県静岡市葵区追手町", "420", "054"},
};

const char16_t* const kBuildings[] = {u"ハイツ",       u"コーポ",     u"メゾン", u"グランドパレス",
                                      u"サンシャイン", u"レジデンス", u"荘",     u"ビル"};

// A small, fixed pseudo-random sequence: the same file on every run.
class Random
{
public:
    quint32 next(quint32 bound)
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return quint32(state_ >> 33) % bound;
    }

private:
    quint64 state_ = 20240401;
};

// The eight values of member `id`.
QStringList member(int id, Random& r)
{
    const Reading& family = kFamily[r.next(std::size(kFamily))];
    const Reading& given = kGiven[r.next(std::size(kGiven))];
    const Place& place = kPlaces[r.next(std::size(kPlaces))];
    const QString zip = QStringLiteral("%1-%2").arg(QLatin1String(place.zip3)).arg(r.next(10000), 4, 10, QChar(u'0'));
    const QString address1 = QString::fromUtf16(place.town) +
                             QStringLiteral("%1-%2-%3").arg(r.next(9) + 1).arg(r.next(30) + 1).arg(r.next(20) + 1);
    const QString address2 = r.next(3) == 0 ? QString()
                                            : QString::fromUtf16(kBuildings[r.next(std::size(kBuildings))]) +
                                                  QStringLiteral("%1号室").arg(r.next(12) * 100 + r.next(9) + 101);
    const QString area = QLatin1String(place.area);
    const int middle = area.size() == 2 ? 4 : 3;
    const auto number = [&](int digits) {
        return QStringLiteral("%1").arg(r.next(quint32(std::pow(10, digits))), digits, 10, QChar(u'0'));
    };
    const QString tel = area + u'-' + number(middle) + u'-' + number(4);
    const QString fax = r.next(2) == 0 ? QString() : area + u'-' + number(middle) + u'-' + number(4);
    return {QString::number(id),
            QString::fromUtf16(family.kanji) + QString::fromUtf16(given.kanji),
            QString::fromUtf16(family.kana) + QString::fromUtf16(given.kana),
            zip,
            address1,
            address2,
            tel,
            fax};
}

// The roster file in code page 932 with CR LF line ends, and the same rows in UTF-8 for the
// sqlite3 tool, padded with empty values to the table's fifteen columns so that it has nothing to
// complain about. Both are written line by line.
void writeFiles(int lines, const QString& cp932Path, const QString& utf8Path)
{
    QFile cp932(cp932Path);
    QFile utf8(utf8Path);
    if (!cp932.open(QIODevice::WriteOnly) || (!utf8Path.isEmpty() && !utf8.open(QIODevice::WriteOnly)))
        throw std::runtime_error("cannot write the benchmark files");
    Random r;
    for (int i = 0; i < lines; ++i) {
        const QString line = member(i + 1, r).join(u',');
        cp932.write(halvenna::sjis::fromUnicode(line) + "\r\n");
        if (utf8.isOpen())
            utf8.write(line.toUtf8() + ",,,,,,,\n");
    }
    if (!cp932.flush() || (utf8.isOpen() && !utf8.flush()))
        throw std::runtime_error("cannot write the benchmark files");
}

struct Files
{
    QTemporaryDir dir;
    QString cp932;
    QString utf8;
};

Files& files()
{
    static std::unique_ptr<Files> f;
    if (!f) {
        f = std::make_unique<Files>();
        f->cp932 = f->dir.filePath(QStringLiteral("members.csv"));
        f->utf8 = f->dir.filePath(QStringLiteral("members-utf8.csv"));
        writeFiles(kLines, f->cp932, f->utf8);
    }
    return *f;
}

// Seconds of every timed iteration, by benchmark, for the summary.
std::map<std::string, std::vector<double>>& timings()
{
    static std::map<std::string, std::vector<double>> t;
    return t;
}

using bench::median;

int importFile(const QString& csv, const QString& tablesDir)
{
    TDataModule1 dm(tablesDir);
    dm.DataModuleCreate();
    halvenna::MemberImport import(dm.tbMemberMaster);
    const int lines = import.run(csv);
    dm.DataModuleDestroy();
    return lines;
}

// ------------------------------------------------------------------ the import

// The yardstick: `sqlite3 DB ".import --csv FILE MemberMaster"` into a fresh table of the same
// schema, process start included. Seconds, or a negative value with the reason in error.
double cliImportSeconds(QByteArray& error)
{
    static const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqlite3.isEmpty()) {
        error = "the sqlite3 command-line tool is not installed (apt-get install sqlite3)";
        return -1;
    }
    Files& f = files();
    QTemporaryDir tables;
    halvenna::schema::createMissingTables(tables.path());
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(sqlite3, {tables.filePath(QStringLiteral("MemberMaster.db")),
                            QStringLiteral(".import --csv %1 MemberMaster").arg(f.utf8)});
    const bool finished = process.waitForFinished(-1);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const QByteArray errors = process.readAllStandardError();
    if (!finished || process.exitCode() != 0 || !errors.isEmpty()) {
        error = "sqlite3 failed: " + errors.left(200);
        return -1;
    }
    return seconds;
}

void BM_Sqlite3CliImport(benchmark::State& state)
{
    files();
    for (auto _ : state) {
        QByteArray error;
        const double seconds = cliImportSeconds(error);
        if (seconds < 0) {
            state.SkipWithError(error.constData());
            break;
        }
        state.SetIterationTime(seconds);
        timings()["sqlite3 .import"].push_back(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
HALVENNA_BENCHMARK(BM_Sqlite3CliImport)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// What the import asks of SQLite, without the table layer: per line the same reading, splitting,
// code page conversion and derived print fields, one keyed SELECT and one INSERT or UPDATE, with
// the same commits. The distance to the import is what the table layer costs. Merges the file into
// the member table of dbFile; returns the seconds of the merge (statements prepared beforehand).
double bareMerge(const QString& dbFile)
{
    Files& f = files();
    const auto connection = bench::openSqlite(dbFile);
    sqlite3* db = connection->handle();
    bench::Statement find(db, "SELECT * FROM MemberMaster WHERE id_no = ?");
    bench::Statement insert(db, "INSERT INTO MemberMaster (name, name_kana, zip, address1, address2, tel, fax, "
                                "zip_f, zip_r, tel_f, tel_m, tel_r, id_no) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)");
    bench::Statement update(db, "UPDATE MemberMaster SET name=?, name_kana=?, zip=?, address1=?, address2=?, tel=?, "
                                "fax=?, zip_f=?, zip_r=?, tel_f=?, tel_m=?, tel_r=? WHERE id_no = ?");
    QElapsedTimer timer;
    timer.start();
    QFile file(f.cp932);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw std::runtime_error("cannot read the roster file");
    halvenna::CsvLineReader reader(file, f.cp932);
    QByteArray line;
    int n = 0;
    bench::exec(db, "BEGIN");
    while (reader.readLine(line)) {
        const halvenna::MemberValues v = halvenna::splitMemberLine(line);
        qint32 id = 0;
        halvenna::parseWholeNumber(v[0], id);
        sqlite3_bind_int(find, 1, id);
        const int found = sqlite3_step(find);
        sqlite3_reset(find);
        if (found != SQLITE_ROW && found != SQLITE_DONE)
            bench::fail(db, "SELECT");
        bench::Statement& st = found == SQLITE_ROW ? update : insert;
        const auto derived =
            halvenna::rules::splitZipAndTel(halvenna::FieldValue::text(v[3]), halvenna::FieldValue::text(v[6]));
        const QByteArray texts[] = {v[1], v[2],         v[3],         v[4],         v[5],         v[6],
                                    v[7], derived.zipF, derived.zipR, derived.telF, derived.telM, derived.telR};
        for (int i = 0; i < 12; ++i) {
            const QByteArray utf8 = halvenna::sjis::toUnicode(texts[i]).toUtf8();
            sqlite3_bind_text(st, i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int(st, 13, id);
        st.run();
        if (++n % halvenna::MemberImport::kDefaultChunkLines == 0) {
            bench::exec(db, "COMMIT");
            bench::exec(db, "BEGIN");
        }
    }
    bench::exec(db, "COMMIT");
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (n != kLines)
        throw std::runtime_error("the bare merge missed lines");
    return seconds;
}

// A folder with the four empty tables, and its member table's file.
struct EmptyTables
{
    QTemporaryDir dir;
    EmptyTables() { halvenna::schema::createMissingTables(dir.path()); }
    QString members() const { return dir.filePath(QStringLiteral("MemberMaster.db")); }
};

// arg 0: into an empty table; 1: over the same rows.
void BM_BareSqliteMerge(benchmark::State& state)
{
    const bool over = state.range(0) == 1;
    for (auto _ : state) {
        EmptyTables tables;
        if (over)
            bareMerge(tables.members());
        const double seconds = bareMerge(tables.members());
        state.SetIterationTime(seconds);
        timings()[over ? "bare SQLite, over" : "bare SQLite, into empty"].push_back(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
HALVENNA_BENCHMARK(BM_BareSqliteMerge)->Arg(0)->Arg(1)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// arg: lines per transaction. With the default, each iteration runs both yardsticks before the
// import (the sqlite3 tool, then a bare merge into empty tables) and records the ratios.
void BM_ImportIntoEmptyRoster(benchmark::State& state)
{
    Files& f = files();
    const int chunkLines = int(state.range(0));
    const bool paired = chunkLines == halvenna::MemberImport::kDefaultChunkLines;
    for (auto _ : state) {
        // The tool first: it writes and syncs a whole file, which the run after it pays for in part;
        // the bare merge comes between, so that it and the import each follow like work.
        QByteArray error;
        const double cli = paired ? cliImportSeconds(error) : -1;
        double bare = -1;
        if (paired) {
            EmptyTables bareTables;
            bare = bareMerge(bareTables.members());
        }
        EmptyTables tables;
        TDataModule1 dm(tables.dir.path());
        dm.DataModuleCreate();
        halvenna::MemberImport import(dm.tbMemberMaster);
        import.setChunkLines(chunkLines);
        QElapsedTimer timer;
        timer.start();
        const int lines = import.run(f.cp932);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (lines != kLines)
            throw std::runtime_error("not every line was imported");
        state.SetIterationTime(seconds);
        if (!paired)
            continue;
        timings()["into empty roster"].push_back(seconds);
        timings()["bare ratio into empty roster"].push_back(seconds / bare);
        if (cli > 0)
            timings()["ratio into empty roster"].push_back(seconds / cli);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
HALVENNA_BENCHMARK(BM_ImportIntoEmptyRoster)
    ->Arg(halvenna::MemberImport::kDefaultChunkLines)
    ->Arg(1024)
    ->Arg(8192)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// Each iteration runs both yardsticks before the import: the sqlite3 tool, then a bare merge over a
// table it filled itself beforehand.
void BM_ImportOverSameRoster(benchmark::State& state)
{
    Files& f = files();
    EmptyTables tables;
    TDataModule1 dm(tables.dir.path());
    dm.DataModuleCreate();
    halvenna::MemberImport import(dm.tbMemberMaster);
    import.run(f.cp932);
    EmptyTables bareTables;
    bareMerge(bareTables.members());
    for (auto _ : state) {
        QByteArray error;
        const double cli = cliImportSeconds(error);
        const double bare = bareMerge(bareTables.members());
        QElapsedTimer timer;
        timer.start();
        const int lines = import.run(f.cp932);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (lines != kLines || dm.tbMemberMaster.recordCount() != kLines)
            throw std::runtime_error("the second import did not update every member");
        state.SetIterationTime(seconds);
        timings()["over the same roster"].push_back(seconds);
        timings()["bare ratio over the same roster"].push_back(seconds / bare);
        if (cli > 0)
            timings()["ratio over the same roster"].push_back(seconds / cli);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
HALVENNA_BENCHMARK(BM_ImportOverSameRoster)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Reading and splitting alone: the import's own share of the work.
void BM_ReadAndSplit(benchmark::State& state)
{
    Files& f = files();
    for (auto _ : state) {
        QFile file(f.cp932);
        file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        halvenna::CsvLineReader reader(file, f.cp932);
        QByteArray line;
        qsizetype bytes = 0;
        while (reader.readLine(line))
            bytes += halvenna::splitMemberLine(line)[7].size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
HALVENNA_BENCHMARK(BM_ReadAndSplit)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------------ peak memory

// Runs the import of a `lines`-line file in a child process and reports the child's peak resident
// memory (VmHWM), so that the parent's own allocations do not count.
void BM_PeakMemoryOfImport(benchmark::State& state)
{
    const int lines = int(state.range(0));
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("members.csv"));
    writeFiles(lines, csv, QString());
    for (auto _ : state) {
        QTemporaryDir tables;
        halvenna::schema::createMissingTables(tables.path());
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--import-child"), csv, tables.path()});
        child.waitForFinished(-1);
        bool ok = false;
        const double kib = child.readAllStandardOutput().trimmed().toDouble(&ok);
        if (child.exitCode() != 0 || !ok) {
            state.SkipWithError(("the import child failed: " + child.readAllStandardError().left(200)).constData());
            break;
        }
        state.counters["peak_MiB"] = kib / 1024;
        timings()[lines == 1000 ? "peak MiB, 1,000 lines" : "peak MiB, 1,000,000 lines"].push_back(kib / 1024);
    }
}
HALVENNA_BENCHMARK(BM_PeakMemoryOfImport)->Arg(1000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The child's side: import, then print the peak resident set in KiB.
int importChild(const QString& csv, const QString& tablesDir)
{
    try {
        importFile(csv, tablesDir);
    } catch (const halvenna::Error& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            std::printf("%s\n", line.mid(6).trimmed().split(' ').value(0).constData());
            return 0;
        }
    }
    return 1;
}

void printSummary()
{
    const auto& t = timings();
    const auto get = [&](const std::string& key) {
        const auto it = t.find(key);
        return it == t.end() ? 0.0 : median(it->second);
    };
    std::printf("\nSummary (medians)\n");
    const double cli = get("sqlite3 .import");
    if (cli > 0)
        std::printf("  sqlite3 .import                %8.0f ms\n", cli * 1000);
    for (const char* key : {"into empty roster", "over the same roster"}) {
        if (get(key) > 0)
            std::printf(
                "  import %-23s %8.0f ms; paired with a sqlite3 .import in the same iteration: %.2f x (limit 2.00 x)\n",
                key, get(key) * 1000, get(std::string("ratio ") + key));
    }
    for (const char* key : {"into empty roster", "over the same roster"}) {
        const auto it = t.find(std::string("bare ratio ") + key);
        if (it == t.end() || it->second.empty())
            continue;
        const auto [low, high] = std::minmax_element(it->second.begin(), it->second.end());
        std::printf("  import %-23s paired with a bare SQLite merge just before: %.2f x (%.2f to %.2f x over %zu "
                    "runs; limit 1.10 x)\n",
                    key, median(it->second), *low, *high, it->second.size());
    }
    for (const char* key : {"bare SQLite, into empty", "bare SQLite, over"}) {
        if (get(key) > 0 && cli > 0)
            std::printf("  %-30s %8.0f ms = %.2f x sqlite3 .import\n", key, get(key) * 1000, get(key) / cli);
    }
    const double small = get("peak MiB, 1,000 lines");
    const double large = get("peak MiB, 1,000,000 lines");
    if (small > 0 && large > 0)
        std::printf("  peak memory: %.1f MiB (1,000 lines), %.1f MiB (1,000,000 lines): +%.1f MiB; limit +64 MiB\n",
                    small, large, large - small);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--import-child") == 0)
        return importChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}

#pragma once

// What every benchmark program shares: a registration that reports a benchmark's exception as its
// error instead of ending the program, bare SQLite for the yardsticks (the file opened and closed by
// the table layer's owner, every failure thrown), and medians.

#include "data/Error.h"
#include "data/sql/SqliteConnection.h"

#include <QFile>
#include <QString>

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

// Runs Body; an exception it throws becomes the benchmark's error (the program goes on with the
// next benchmark and reports this one as failed).
template <void (*Body)(benchmark::State&)> void guarded(benchmark::State& state)
{
    try {
        Body(state);
    } catch (const halvenna::Error& e) {
        state.SkipWithError(e.message().toUtf8().constData());
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    } catch (...) {
        state.SkipWithError("an exception of unknown type");
    }
}

// An SQLite file for a yardstick, opened and closed by the table layer's owner.
inline std::unique_ptr<halvenna::sql::SqliteConnection> openSqlite(const QString& file)
{
    return halvenna::sql::SqliteConnection::open(file, QStringLiteral("bench"));
}

[[noreturn]] inline void fail(sqlite3* db, const char* what)
{
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

inline void exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, sql);
}

// A bare prepared statement, finalized when it goes.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql) : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
            fail(db, sql);
    }
    ~Statement() { sqlite3_finalize(st_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    operator sqlite3_stmt*() const { return st_; }
    // Steps a statement that gives no rows, then resets it.
    void run()
    {
        const int rc = sqlite3_step(st_);
        sqlite3_reset(st_);
        if (rc != SQLITE_DONE)
            fail(db_, "step");
    }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace bench

#define HALVENNA_BENCH_CONCAT2(a, b) a##b
#define HALVENNA_BENCH_CONCAT(a, b) HALVENNA_BENCH_CONCAT2(a, b)
// Registers fn under its own name, run through bench::guarded; chain options as with BENCHMARK.
#define HALVENNA_BENCHMARK(fn)                                                                                         \
    [[maybe_unused]] static ::benchmark::internal::Benchmark* HALVENNA_BENCH_CONCAT(halvennaBenchmark_, __LINE__) =    \
        ::benchmark::RegisterBenchmark(#fn, &::bench::guarded<fn>)

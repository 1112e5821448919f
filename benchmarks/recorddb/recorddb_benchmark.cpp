// The record database layer against a tomato table of 100,000 rows in a database file: opening a
// cursor, one save through it (with the reload that follows), and the 60 counting queries of one
// chart refresh. A bare prepare/step/finalize loop over the same 60 statements is the yardstick
// for the counting path.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "recorddb/sqlite_db.h"
#include "recorddb/sqlite_table.h"
#include "runtime/datetime.h"

namespace {

constexpr int kRows = 100000;
constexpr int kRowsPerDay = 30;

std::filesystem::path g_dir;
std::string g_path;
SqliteDB g_db;
rt::DateTime g_lastDay;

const SqliteFieldInfo kTomatoFields[] = {
    {"id", -1, 0},     {"created", 8, 0}, {"classname", 10, 512}, {"title", 10, 0}, {"year", 3, 0},
    {"month", 3, 0},   {"day", 3, 0},     {"state", 3, 0},        {"net", 3, 0},
};

// Builds the database file: kRowsPerDay tomatoes a day, every fifth one bad, ending on g_lastDay.
bool Seed() {
    std::string pattern = (std::filesystem::temp_directory_path() / "recorddb-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    g_dir = pattern;
    g_path = (g_dir / "db.bench").string();
    if (!g_db.Open(g_path, true) || !g_db.CreateTable("tomato", kTomatoFields)) return false;

    sqlite3* c = g_db.Connection();
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(c,
                           "INSERT INTO tomato (created, classname, title, year, month, day, state)"
                           " VALUES (?, 'work', '', ?, ?, ?, ?)",
                           -1, &insert, nullptr) != SQLITE_OK) {
        return false;
    }
    g_db.Execute("BEGIN");
    const rt::DateTime first = rt::MakeDateTime(2016, 1, 1);
    for (int i = 0; i < kRows; ++i) {
        const rt::DateTime at(first.days + i / kRowsPerDay + 0.3 + 0.02 * (i % kRowsPerDay));
        sqlite3_bind_double(insert, 1, at.days);
        sqlite3_bind_int(insert, 2, rt::YearOf(at));
        sqlite3_bind_int(insert, 3, rt::MonthOf(at));
        sqlite3_bind_int(insert, 4, rt::DayOf(at));
        sqlite3_bind_int(insert, 5, i % 5 == 4 ? 2 : 1);
        sqlite3_step(insert);
        sqlite3_reset(insert);
        g_lastDay = rt::DateTime(static_cast<double>(static_cast<long long>(at.days)));
    }
    sqlite3_finalize(insert);
    return g_db.Execute("COMMIT");
}

// The 60 counting statements of one chart refresh: the last 30 days, good and bad.
std::vector<std::string> CountingSql() {
    std::vector<std::string> sql;
    for (int d = 29; d >= 0; --d) {
        const rt::DateTime day(g_lastDay.days - d);
        for (int state : {1, 2}) {
            char text[160];
            std::snprintf(text, sizeof text, "SELECT * FROM tomato WHERE state = %d AND year = %d AND month = %d AND day = %d",
                          state, rt::YearOf(day), rt::MonthOf(day), rt::DayOf(day));
            sql.emplace_back(text);
        }
    }
    return sql;
}

void BM_CursorOpen(benchmark::State& state) {
    for (auto _ : state) {
        SqliteTable table;
        benchmark::DoNotOptimize(table.Open("tomato", g_db));
        benchmark::DoNotOptimize(table.RecordCount());
    }
}
BENCHMARK(BM_CursorOpen)->Unit(benchmark::kMillisecond);

void BM_CursorSave(benchmark::State& state) {
    SqliteTable table;
    if (!table.Open("tomato", g_db)) {
        state.SkipWithError("open failed");
        return;
    }
    const rt::DateTime now(g_lastDay.days + 0.75);
    for (auto _ : state) {
        table.AddNew();
        table.WriteField("created", now);
        table.WriteField("classname", "work");
        table.WriteField("title", "");
        table.WriteField("year", rt::YearOf(now));
        table.WriteField("month", rt::MonthOf(now));
        table.WriteField("day", rt::DayOf(now));
        table.WriteField("state", 1);
        if (!table.Update()) {
            state.SkipWithError("save failed");
            break;
        }
    }
}
BENCHMARK(BM_CursorSave)->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_CountingQueries(benchmark::State& state) {
    const std::vector<std::string> sql = CountingSql();
    long long rows = 0;
    for (auto _ : state) {
        for (const std::string& text : sql) {
            SqliteDataset ds = g_db.Query(text);
            ds.Run();
            rows += ds.RowCount();
            ds.Close();
        }
    }
    state.counters["rows_per_refresh"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CountingQueries)->Unit(benchmark::kMillisecond);

void BM_BareStepping(benchmark::State& state) {
    const std::vector<std::string> sql = CountingSql();
    long long rows = 0;
    for (auto _ : state) {
        for (const std::string& text : sql) {
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare(g_db.Connection(), text.c_str(), static_cast<int>(text.size()), &st, nullptr);
            while (sqlite3_step(st) == SQLITE_ROW) ++rows;
            sqlite3_finalize(st);
        }
    }
    state.counters["rows_per_refresh"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BareStepping)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bool seeded = Seed();
    if (seeded) benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_db.Close();
    std::error_code ignored;
    if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ignored);
    if (!seeded) std::fprintf(stderr, "could not build the benchmark database\n");
    return seeded ? 0 : 1;
}

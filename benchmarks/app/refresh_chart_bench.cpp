// One RefreshChart (60 counting queries and the chart's 60 bars) over a tomato table of 50,000
// rows, with the main window loaded offscreen as the program has it.
//
//   QT_QPA_PLATFORM=offscreen ./refresh_chart_bench

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "chart_stats.h"
#include "globals.h"
#include "program.h"
#include "runtime/datetime.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/window.h"
#include "storage.h"

namespace {

constexpr int kRows = 50000;
const rt::DateTime kNow = rt::MakeDateTime(2026, 3, 9, 10, 0, 0);

// The program started once in a temporary directory, its database file built by the first start.
std::string StartProgramOnce() {
    static const std::string directory = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "refresh_chart_bench";
        static char* argv[] = {name, nullptr};
        rt::StartRuntime(argc, argv);
        rt::SetClock([] { return kNow; });
        rt::SetMessageBoxHook([](const std::string&, int, const std::string&) { return rt::kAnswerOk; });
        rt::SetEndProgramHook([](int) {});
        std::string pattern = (std::filesystem::temp_directory_path() / "tomato-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        app::SetDatabaseDirectoryForTest(pattern);
        static const std::string removed = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removed, ignored);
        });
        InitGlobals();
        app::DefineProgramWindows();
        rt::LoadWindow("MainWindow");
        return pattern;
    }();
    return directory;
}

// Replaces the tomato rows by kRows rows spread over `days` days back from now, every third bad.
void FillTomatoes(int days) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(app::DatabasePathIn(StartProgramOnce()).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        std::abort();
    }
    sqlite3_exec(db, "BEGIN; DELETE FROM tomato", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO tomato(created,classname,title,year,month,day,state) VALUES(?,'w','',?,?,?,?)",
                       -1, &insert, nullptr);
    for (int i = 0; i < kRows; ++i) {
        const rt::DateTime when = rt::AddToDateTime(kNow, rt::DateUnit::Day, -(i % days));
        sqlite3_bind_double(insert, 1, when.days);
        sqlite3_bind_int(insert, 2, rt::YearOf(when));
        sqlite3_bind_int(insert, 3, rt::MonthOf(when));
        sqlite3_bind_int(insert, 4, rt::DayOf(when));
        sqlite3_bind_int(insert, 5, i % 3 == 0 ? 2 : 1);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// range(0): the number of days the rows are spread over (30: every row lies in the chart).
void BM_RefreshChart(benchmark::State& state) {
    StartProgramOnce();
    FillTomatoes(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        RefreshChart();
        benchmark::DoNotOptimize(g_avgPerDay);
    }
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_RefreshChart)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

#include "chart_stats.h"

#include <cmath>
#include <string>

#include "globals.h"
#include "recorddb/sqlite_db.h"
#include "recorddb/sqlite_table.h"
#include "runtime/text.h"
#include "runtime/window.h"

namespace {

constexpr double kTolerance = 1e-7;
constexpr int kChartDays = 30;
constexpr rt::Colour kBlue = 0xFF0000;

rt::Component* MainComponent(std::string_view name) {
    return rt::FindComponent("MainWindow", name);
}

// Rows of one state on the date, counted by stepping through them.
std::int32_t CountTomatoesOn(int state, rt::DateTime date) {
    const std::string sql = "SELECT * FROM tomato WHERE state = " + rt::ToText(state) +
                            " AND year = " + rt::ToText(rt::YearOf(date)) +
                            " AND month = " + rt::ToText(rt::MonthOf(date)) +
                            " AND day = " + rt::ToText(rt::DayOf(date));
    SqliteDataset dataset = g_db->Query(sql);
    dataset.Run();
    const std::int32_t count = dataset.RowCount();
    dataset.Close();
    return count;
}

// The integer value of an info counter; 0 when its row is missing (the cursor would otherwise
// stay on another row and read that row's value).
std::int32_t ReadCounter(const char* subject) {
    g_infoTable->MoveFirst();
    if (!g_infoTable->Find(std::string("subject='") + subject + "'")) return 0;
    return g_infoTable->ReadInt("value");
}

// Decimal text of a non-negative number with at least two digits.
std::string TwoDigits(std::int64_t value) {
    const std::string text = rt::ToText(value);
    return rt::TextLeft("00", 2 - rt::TextLength(text)) + text;
}

bool SameDate(rt::DateTime a, rt::DateTime b) {
    return rt::DayOf(a) == rt::DayOf(b) && rt::MonthOf(a) == rt::MonthOf(b) && rt::YearOf(a) == rt::YearOf(b);
}

}  // namespace

std::int32_t CountGoodTomatoesOn(rt::DateTime date) {
    return CountTomatoesOn(1, date);
}

std::int32_t CountBadTomatoesOn(rt::DateTime date) {
    return CountTomatoesOn(2, date);
}

void RefreshChart() {
    // One reading of the clock for the whole refresh, so that a second ticking over at midnight
    // cannot give the columns two different todays.
    const rt::DateTime now = rt::Now();
    g_chartDate = now;
    g_avgPerDay = 0;
    g_last7Days = 0;

    rt::Component* chart = MainComponent("DailyChart");
    int firstActiveColumn = -1;
    for (int i = 0; i < kChartDays; ++i) {
        const rt::DateTime date = rt::AddToDateTime(now, rt::DateUnit::Day, -i);
        const double good = CountGoodTomatoesOn(date);
        double v = good;
        if (chart != nullptr) {
            chart->SetCurrentColumn(i);
            chart->SetColumnLabel(rt::ToText(rt::DayOf(date)));
            chart->SetCurrentSeries(0);
            chart->SetValue(good);
            v = chart->Value();
        }
        if (v - g_maxPerDay > kTolerance) g_maxPerDay = static_cast<std::int32_t>(v);
        if (i < 7) g_last7Days = static_cast<std::int32_t>(g_last7Days + v);
        g_avgPerDay = static_cast<std::int32_t>(g_avgPerDay + v);
        if (std::fabs(v) > kTolerance) {
            g_firstActiveDay = date;
            firstActiveColumn = i;
        }
        const double bad = CountBadTomatoesOn(date);
        if (chart != nullptr) {
            chart->SetCurrentSeries(1);
            chart->SetValue(bad);
        }
    }

    // The divisor is the days passed since the oldest day with a good tomato (its column index);
    // with only today active the sum itself is the average.
    if (firstActiveColumn > 0) g_avgPerDay = g_avgPerDay / firstActiveColumn;
    if (firstActiveColumn < 0) g_avgPerDay = 0;
}

void RefreshStatistics() {
    const rt::DateTime now = rt::Now();
    const std::int32_t today = CountGoodTomatoesOn(now);
    const std::int32_t yesterday = CountGoodTomatoesOn(rt::AddToDateTime(now, rt::DateUnit::Day, -1));
    const std::int32_t good = ReadCounter("goodtomato");
    const std::int32_t bad = ReadCounter("badtomato");
    const double total = static_cast<double>(good) + static_cast<double>(bad);
    const std::int64_t rate = total == 0.0 ? 0 : rt::FloorToInt(bad / total * 100.0);

    std::string line = rt::Gbk("今天：") + rt::ToText(today) + rt::Gbk("个，昨天：") + rt::ToText(yesterday) +
                       rt::Gbk("个 ，一天内最多：") + rt::ToText(g_maxPerDay) + rt::Gbk("个，平均每天：") +
                       rt::ToText(g_avgPerDay) + rt::Gbk("个，七日内番茄：") + rt::ToText(g_last7Days) +
                       rt::Gbk("个，番茄总数：") + rt::ToText(good) + rt::Gbk("个，坏番茄率：") + rt::ToText(rate) +
                       rt::Gbk("%。");
    if (rt::Component* label = MainComponent("StatsLabel")) label->SetCaption(line);
}

void RefreshOnDayChange() {
    // The whole date is compared, so that a pause of exactly a month (a suspended machine) still
    // brings the chart up to date.
    if (SameDate(rt::Now(), g_chartDate)) return;
    RefreshChart();
    RefreshStatistics();
}

void UpdateIdleStatus() {
    rt::Component* label = MainComponent("StatusLabel");
    if (label == nullptr) return;
    if (g_running != 0) {
        label->SetCaption("");
        return;
    }
    label->SetTextColour(kBlue);
    const std::string invitation = rt::Gbk("请开始您的第一个番茄钟吧");
    if (g_lastEnd.days == 0.0) {
        label->SetCaption(invitation);
        return;
    }
    std::int64_t seconds = static_cast<std::int64_t>(rt::DateTimeInterval(rt::Now(), g_lastEnd, rt::DateUnit::Second));
    const std::int64_t hours = rt::IntegerDivide(seconds, 3600);
    if (hours < 0) {
        label->SetCaption(invitation);
        return;
    }
    // A last tomato less than an hour ahead (the clock set back) counts as just recorded: never
    // negative minutes or seconds.
    if (seconds < 0) seconds = 0;
    const std::int64_t rest = rt::Remainder(seconds, 3600);
    label->SetCaption(rt::Gbk("已空闲：") + rt::ToText(hours) + ":" + TwoDigits(rt::IntegerDivide(rest, 60)) + ":" +
                      TwoDigits(rt::Remainder(rest, 60)));
}

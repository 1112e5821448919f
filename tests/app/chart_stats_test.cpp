// The thirty-day chart, the values derived from it, the statistics line and the idle status.

#include "app_fixture.h"
#include "chart_stats.h"
#include "globals.h"
#include "storage.h"

namespace apptest {
namespace {

struct Column {
    std::string label;
    double good = 0;
    double bad = 0;
};

class ChartTest : public AppFixture {
protected:
    Column ChartColumn(int i) const {
        rt::Component& chart = Comp("DailyChart");
        chart.SetCurrentColumn(i);
        Column column;
        column.label = chart.ColumnLabel();
        chart.SetCurrentSeries(0);
        column.good = chart.Value();
        chart.SetCurrentSeries(1);
        column.bad = chart.Value();
        return column;
    }
    std::vector<std::string> Labels() const {
        std::vector<std::string> labels;
        for (int i = 0; i < 30; ++i) labels.push_back(ChartColumn(i).label);
        return labels;
    }
    // Adds `count` tomatoes of a state recorded `daysAgo` days before now, at 08:30.
    void AddTomatoes(int daysAgo, int state, int count) const {
        const rt::DateTime day = rt::AddToDateTime(Now(), rt::DateUnit::Day, -daysAgo);
        const rt::DateTime when = rt::MakeDateTime(rt::YearOf(day), rt::MonthOf(day), rt::DayOf(day), 8, 30, 0);
        for (int i = 0; i < count; ++i) AddTomatoRow(when, state);
    }
    std::string StatsLine() const { return U8(Comp("StatsLabel").Caption()); }
};

// Day numbers from `from` down to `to`.
std::vector<std::string> Down(int from, int to) {
    std::vector<std::string> labels;
    for (int d = from; d >= to; --d) labels.push_back(std::to_string(d));
    return labels;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct LabelCase {
    const char* name;
    int year, month, day;
    std::vector<std::string> labels;
    friend void PrintTo(const LabelCase& c, std::ostream* os) { *os << c.name; }
};

class ChartLabelTest : public ChartTest, public testing::WithParamInterface<LabelCase> {};

TEST_P(ChartLabelTest, ColumnsRunFromTodayBackwards) {
    const LabelCase& c = GetParam();
    SetNow(c.year, c.month, c.day, 23, 59, 59);
    StartProgram();
    ASSERT_EQ(c.labels.size(), 30u);
    EXPECT_EQ(Labels(), c.labels);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, ChartLabelTest,
    testing::Values(LabelCase{"FifteenthAfterA31DayMonth", 2026, 8, 15, Join({Down(15, 1), Down(31, 17)})},
                    LabelCase{"FifteenthOfMarchInACommonYear", 2026, 3, 15, Join({Down(15, 1), Down(28, 14)})},
                    LabelCase{"FirstOfMarchInACommonYear", 2026, 3, 1, Join({{"1"}, Down(28, 1), {"31"}})},
                    LabelCase{"FirstOfMarchInALeapYear", 2024, 3, 1, Join({{"1"}, Down(29, 1)})},
                    LabelCase{"FirstOfJanuary", 2026, 1, 1, Join({{"1"}, Down(31, 3)})}),
    [](const testing::TestParamInfo<LabelCase>& info) { return std::string(info.param.name); });

struct Tomatoes {
    int daysAgo;
    int state;
    int count;
};

struct ChartCase {
    const char* name;
    std::vector<Tomatoes> tomatoes;
    int maxPerDay, last7Days, avgPerDay;
    int firstActiveDaysAgo;  // -1: none
    friend void PrintTo(const ChartCase& c, std::ostream* os) { *os << c.name; }
};

class ChartValuesTest : public ChartTest, public testing::WithParamInterface<ChartCase> {};

TEST_P(ChartValuesTest, BarsAndDerivedValues) {
    const ChartCase& c = GetParam();
    StartProgram();
    for (const Tomatoes& t : c.tomatoes) AddTomatoes(t.daysAgo, t.state, t.count);
    g_firstActiveDay = rt::DateTime(-1);  // what a refresh without a good day leaves alone

    for (int refresh = 0; refresh < 2; ++refresh) {  // a second refresh gives the same
        SCOPED_TRACE(refresh);
        RefreshChart();
        EXPECT_EQ(g_chartDate, Now());
        EXPECT_EQ(g_maxPerDay, c.maxPerDay);
        EXPECT_EQ(g_last7Days, c.last7Days);
        EXPECT_EQ(g_avgPerDay, c.avgPerDay);
        if (c.firstActiveDaysAgo < 0) {
            EXPECT_EQ(g_firstActiveDay, rt::DateTime(-1));
        } else {
            EXPECT_EQ(g_firstActiveDay, rt::AddToDateTime(Now(), rt::DateUnit::Day, -c.firstActiveDaysAgo));
        }
        for (int i = 0; i < 30; ++i) {
            double good = 0, bad = 0;
            for (const Tomatoes& t : c.tomatoes) {
                if (t.daysAgo == i) (t.state == 1 ? good : bad) += t.count;
            }
            const Column column = ChartColumn(i);
            EXPECT_EQ(column.good, good) << "column " << i;
            EXPECT_EQ(column.bad, bad) << "column " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Days, ChartValuesTest,
    testing::Values(
        ChartCase{"Empty", {}, 0, 0, 0, -1},
        ChartCase{"FourYesterdayTwoToday", {{1, 1, 4}, {0, 1, 2}}, 4, 6, 6, 1},
        ChartCase{"FiveTenDaysAgoOneToday", {{10, 1, 5}, {0, 1, 1}}, 5, 1, 0, 10},
        ChartCase{"ThreeOnlyToday", {{0, 1, 3}}, 3, 3, 3, 0},
        ChartCase{"TenTwentyNineDaysAgo", {{29, 1, 10}}, 10, 0, 0, 29},
        ChartCase{"OnlyBadDays", {{0, 2, 3}, {5, 2, 2}}, 0, 0, 0, -1},
        ChartCase{"BadDayOlderThanTheFirstGoodOne", {{12, 2, 4}, {2, 1, 6}, {2, 2, 1}}, 6, 6, 3, 2},
        ChartCase{"SevenDayWindowEndsAtSixDaysAgo", {{6, 1, 1}, {7, 1, 2}}, 2, 1, 0, 7},
        ChartCase{"ThirtyDaysAgoIsOutside", {{30, 1, 9}, {3, 1, 3}}, 3, 3, 1, 3}),
    [](const testing::TestParamInfo<ChartCase>& info) { return std::string(info.param.name); });

TEST_F(ChartTest, MostPerDayIsNeverLoweredWithinARun) {
    StartProgram();
    AddTomatoes(3, 1, 5);
    RefreshChart();
    EXPECT_EQ(g_maxPerDay, 5);
    ExecSql("DELETE FROM tomato");
    RefreshChart();
    EXPECT_EQ(g_maxPerDay, 5);
    EXPECT_EQ(g_last7Days, 0);
    EXPECT_EQ(g_avgPerDay, 0);
}

TEST_F(ChartTest, ADayIsCountedByTheDateOfRecording) {
    SetNow(2026, 3, 9, 23, 59, 59);
    StartProgram();
    Comp("CategoryCombo").SetCurrentIndex(1);
    RecordGoodTomato();
    AdvanceSeconds(1);
    RecordGoodTomato();
    RecordBadTomato();
    EXPECT_EQ(CountGoodTomatoesOn(rt::MakeDateTime(2026, 3, 9, 0, 0, 0)), 1);
    EXPECT_EQ(CountGoodTomatoesOn(rt::MakeDateTime(2026, 3, 10, 18, 0, 0)), 1) << "the time of day plays no part";
    EXPECT_EQ(CountBadTomatoesOn(rt::MakeDateTime(2026, 3, 10)), 1);
    EXPECT_EQ(CountBadTomatoesOn(rt::MakeDateTime(2026, 3, 9)), 0);
}

// --- statistics line ---------------------------------------------------------------------

TEST_F(ChartTest, StatisticsLineWithoutAnyTomato) {
    StartProgram();
    EXPECT_EQ(StatsLine(),
              "今天：0个，昨天：0个 ，一天内最多：0个，平均每天：0个，七日内番茄：0个，番茄总数：0个，坏番茄率：0%。");
}

TEST_F(ChartTest, StatisticsLineOfTheDocumentedExample) {
    StartProgram();
    // Today 3, yesterday 5, the best day 8, and a first good day five days ago: seven days 20,
    // average 20 / 5 = 4.
    AddTomatoes(0, 1, 3);
    AddTomatoes(1, 1, 5);
    AddTomatoes(2, 1, 8);
    AddTomatoes(5, 1, 4);
    AddTomatoes(4, 2, 2);
    ExecSql("UPDATE info SET value='120' WHERE subject='goodtomato'");
    ExecSql("UPDATE info SET value='30' WHERE subject='badtomato'");
    RefreshChart();
    RefreshStatistics();
    EXPECT_EQ(StatsLine(),
              "今天：3个，昨天：5个 ，一天内最多：8个，平均每天：4个，七日内番茄：20个，番茄总数：120个，坏番茄率：20%。");
}

TEST_F(ChartTest, BadTomatoRateFloorsThePercentage) {
    struct Case {
        const char* good;
        const char* bad;
        const char* tail;
    };
    const Case cases[] = {
        {"2", "1", "番茄总数：2个，坏番茄率：33%。"},
        {"71", "29", "番茄总数：71个，坏番茄率：29%。"},  // 28.999999999999996 counts as 29
        {"0", "4", "番茄总数：0个，坏番茄率：100%。"},
        {"0", "0", "番茄总数：0个，坏番茄率：0%。"},
        {"1", "0", "番茄总数：1个，坏番茄率：0%。"},
        {"2", "1x", "番茄总数：2个，坏番茄率：33%。"},  // the counter read as an integer
    };
    StartProgram();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.good) + "/" + c.bad);
        ExecSql(std::string("UPDATE info SET value='") + c.good + "' WHERE subject='goodtomato'");
        ExecSql(std::string("UPDATE info SET value='") + c.bad + "' WHERE subject='badtomato'");
        RefreshStatistics();
        const std::string line = StatsLine();
        const std::string tail = c.tail;
        ASSERT_GE(line.size(), tail.size());
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
    }
}

TEST_F(ChartTest, AMissingCounterRowCountsZero) {
    StartProgram();
    ExecSql("DELETE FROM info WHERE subject='goodtomato'");
    ExecSql("UPDATE info SET value='3' WHERE subject='badtomato'");
    RefreshStatistics();
    EXPECT_NE(StatsLine().find("番茄总数：0个，坏番茄率：100%。"), std::string::npos) << StatsLine();
}

TEST_F(ChartTest, CrossingMidnightMovesTheChartWithinOneTick) {
    SetNow(2026, 3, 9, 23, 59, 59);
    StartProgram();
    AddTomatoes(0, 1, 2);
    AddTomatoes(1, 1, 1);
    Comp("RazezuZivur").Tick();  // the same day: nothing is refreshed
    EXPECT_EQ(ChartColumn(0).good, 0);
    RefreshChart();
    RefreshStatistics();
    EXPECT_EQ(StatsLine().substr(0, StatsLine().find(" ")), "今天：2个，昨天：1个");

    AdvanceSeconds(1);
    Comp("RazezuZivur").Tick();

    EXPECT_EQ(g_chartDate, rt::MakeDateTime(2026, 3, 10));
    EXPECT_EQ(ChartColumn(0).label, "10");
    EXPECT_EQ(ChartColumn(0).good, 0);
    EXPECT_EQ(ChartColumn(1).good, 2);
    EXPECT_EQ(ChartColumn(2).good, 1);
    EXPECT_EQ(StatsLine().substr(0, StatsLine().find(" ")), "今天：0个，昨天：2个");
}

TEST_F(ChartTest, APauseOfExactlyAMonthStillRefreshes) {
    SetNow(2026, 1, 5, 12, 0, 0);
    StartProgram();
    SetNow(2026, 2, 5, 12, 0, 0);
    AddTomatoes(0, 1, 1);
    RefreshOnDayChange();
    EXPECT_EQ(g_chartDate, Now());
    EXPECT_EQ(ChartColumn(0).good, 1);
}

// --- idle status -------------------------------------------------------------------------

struct IdleCase {
    const char* name;
    bool noTomatoYet;
    std::int64_t secondsSinceLast;  // negative: the last tomato lies ahead (clock set back)
    const char* caption;
    friend void PrintTo(const IdleCase& c, std::ostream* os) { *os << c.name; }
};

class IdleStatusTest : public ChartTest, public testing::WithParamInterface<IdleCase> {};

TEST_P(IdleStatusTest, CaptionAndBlueColour) {
    const IdleCase& c = GetParam();
    StartProgram();
    g_lastEnd = c.noTomatoYet ? rt::DateTime() : Now();
    if (!c.noTomatoYet) AdvanceSeconds(c.secondsSinceLast);
    rt::Component& status = Comp("StatusLabel");
    status.SetTextColour(0x123456);

    UpdateIdleStatus();

    EXPECT_EQ(U8(status.Caption()), c.caption);
    EXPECT_EQ(status.TextColour(), 0xFF0000u);
}

INSTANTIATE_TEST_SUITE_P(
    Times, IdleStatusTest,
    testing::Values(IdleCase{"NoTomatoYet", true, 0, "请开始您的第一个番茄钟吧"},
                    IdleCase{"JustRecorded", false, 0, "已空闲：0:00:00"},
                    IdleCase{"OneSecond", false, 1, "已空闲：0:00:01"},
                    IdleCase{"NineMinutesFiveSeconds", false, 545, "已空闲：0:09:05"},
                    IdleCase{"HoursDoNotWrapAtADay", false, 2 * 86400 + 3 * 3600 + 5, "已空闲：51:00:05"},
                    IdleCase{"OneSecondAhead", false, -1, "已空闲：0:00:00"},
                    IdleCase{"AlmostAnHourAhead", false, -3599, "已空闲：0:00:00"},
                    IdleCase{"AnHourAhead", false, -3600, "请开始您的第一个番茄钟吧"},
                    IdleCase{"DaysAhead", false, -3 * 86400, "请开始您的第一个番茄钟吧"}),
    [](const testing::TestParamInfo<IdleCase>& info) { return std::string(info.param.name); });

TEST_F(ChartTest, IdleStatusIsEmptyWhileATomatoRunsAndCountsFromItsRecording) {
    StartProgram();
    rt::Component& status = Comp("StatusLabel");
    status.SetTextColour(0x123456);
    g_running = 1;
    UpdateIdleStatus();
    EXPECT_EQ(status.Caption(), "");
    EXPECT_EQ(status.TextColour(), 0x123456u) << "the colour stays";

    g_running = 0;
    Comp("CategoryCombo").SetCurrentIndex(1);
    AdvanceSeconds(1500);
    RecordBadTomato();
    UpdateIdleStatus();
    EXPECT_EQ(U8(status.Caption()), "已空闲：0:00:00");
    AdvanceSeconds(1);
    UpdateIdleStatus();
    EXPECT_EQ(U8(status.Caption()), "已空闲：0:00:01");
}

}  // namespace
}  // namespace apptest

#include "runtime/datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace {

using rt::DateTime;
using rt::MakeDateTime;
namespace Unit = rt::DateUnit;

struct Fields {
    int year, month, day, hour, minute, second;
};

Fields FieldsOf(DateTime d) {
    return {rt::YearOf(d), rt::MonthOf(d), rt::DayOf(d), rt::HourOf(d), rt::MinuteOf(d), rt::SecondOf(d)};
}

void ExpectFields(DateTime d, Fields want, const std::string& what) {
    const Fields got = FieldsOf(d);
    EXPECT_EQ(got.year, want.year) << what;
    EXPECT_EQ(got.month, want.month) << what;
    EXPECT_EQ(got.day, want.day) << what;
    EXPECT_EQ(got.hour, want.hour) << what;
    EXPECT_EQ(got.minute, want.minute) << what;
    EXPECT_EQ(got.second, want.second) << what;
}

TEST(DateTime, DayNumbersCountFrom30December1899) {
    struct Case {
        Fields f;
        double days;
    };
    const Case cases[] = {
        {{1899, 12, 30, 0, 0, 0}, 0.0},    {{1900, 1, 1, 0, 0, 0}, 2.0},    {{1970, 1, 1, 0, 0, 0}, 25569.0},
        {{2000, 2, 29, 0, 0, 0}, 36585.0}, {{2025, 1, 1, 12, 0, 0}, 45658.5}, {{2025, 1, 1, 18, 0, 0}, 45658.75},
        {{1899, 12, 29, 0, 0, 0}, -1.0},
    };
    for (const Case& c : cases) {
        const DateTime d = MakeDateTime(c.f.year, c.f.month, c.f.day, c.f.hour, c.f.minute, c.f.second);
        EXPECT_DOUBLE_EQ(d.days, c.days) << c.days;
        ExpectFields(d, c.f, std::to_string(c.days));
    }
}

TEST(DateTime, PartsRoundTrip) {
    const Fields cases[] = {
        {2025, 12, 31, 23, 59, 59}, {2024, 2, 29, 0, 0, 1}, {1900, 3, 1, 12, 30, 30},
        {2100, 2, 28, 7, 8, 9},     {1899, 12, 29, 6, 0, 0}, {9999, 12, 31, 23, 59, 59},
    };
    for (const Fields& f : cases) {
        ExpectFields(MakeDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second), f,
                     std::to_string(f.year) + "-" + std::to_string(f.month) + "-" + std::to_string(f.day));
    }
    // A value a hair below midnight is that midnight, not 23:59:59 of the day before.
    ExpectFields(DateTime(MakeDateTime(2025, 3, 1).days - 1e-10), {2025, 3, 1, 0, 0, 0}, "below midnight");
}

TEST(DateTime, DaysInMonth) {
    struct Case {
        int year, month, want;
    };
    const Case cases[] = {{2024, 2, 29}, {2025, 2, 28}, {1900, 2, 28}, {2000, 2, 29}, {2025, 1, 31},
                          {2025, 4, 30}, {2025, 12, 31}, {2025, 0, 0},  {2025, 13, 0}};
    for (const Case& c : cases) EXPECT_EQ(rt::DaysInMonth(c.year, c.month), c.want) << c.year << "-" << c.month;
}

TEST(AddToDateTime, MonthsClampTheDayAndKeepTheTime) {
    struct Case {
        Fields from;
        std::int64_t months;
        Fields want;
    };
    const Case cases[] = {
        {{2025, 3, 31, 10, 30, 15}, -1, {2025, 2, 28, 10, 30, 15}},  // common year
        {{2024, 3, 31, 10, 30, 15}, -1, {2024, 2, 29, 10, 30, 15}},  // leap year
        {{2025, 1, 31, 0, 0, 0}, 1, {2025, 2, 28, 0, 0, 0}},
        {{2025, 1, 15, 8, 0, 0}, -1, {2024, 12, 15, 8, 0, 0}},
        {{2024, 12, 31, 0, 0, 0}, 2, {2025, 2, 28, 0, 0, 0}},
        {{2024, 2, 29, 0, 0, 0}, 12, {2025, 2, 28, 0, 0, 0}},
        {{2025, 3, 9, 0, 0, 0}, -25, {2023, 2, 9, 0, 0, 0}},
        {{2025, 5, 31, 23, 59, 59}, 0, {2025, 5, 31, 23, 59, 59}},
    };
    for (const Case& c : cases) {
        const DateTime from = MakeDateTime(c.from.year, c.from.month, c.from.day, c.from.hour, c.from.minute, c.from.second);
        const DateTime got = rt::AddToDateTime(from, Unit::Month, c.months);
        const std::string what = std::to_string(c.from.year) + "-" + std::to_string(c.from.month) + "-" +
                                 std::to_string(c.from.day) + " " + std::to_string(c.months);
        ExpectFields(got, c.want, what);
        // Whole days only: the fraction of the day is carried over exactly.
        EXPECT_EQ(got.days - std::floor(got.days), from.days - std::floor(from.days)) << what;
    }
}

TEST(AddToDateTime, DaysAndMinutes) {
    const DateTime noon = MakeDateTime(2025, 3, 1, 12, 0, 0);
    ExpectFields(rt::AddToDateTime(noon, Unit::Day, -1), {2025, 2, 28, 12, 0, 0}, "day -1");
    ExpectFields(rt::AddToDateTime(noon, Unit::Day, -29), {2025, 1, 31, 12, 0, 0}, "day -29");
    ExpectFields(rt::AddToDateTime(noon, Unit::Minute, -25), {2025, 3, 1, 11, 35, 0}, "minute -25");
    ExpectFields(rt::AddToDateTime(noon, Unit::Minute, 1440 * 2 + 1), {2025, 3, 3, 12, 1, 0}, "minute +2 days");
    // Units the runtime does not add leave the date as it is.
    EXPECT_EQ(rt::AddToDateTime(noon, Unit::Hour, 3), noon);
    EXPECT_EQ(rt::AddToDateTime(noon, Unit::Second, 3), noon);
    EXPECT_EQ(rt::AddToDateTime(noon, 99, 3), noon);
}

TEST(DateTimeInterval, SecondsOfTheCountdownSurviveRounding) {
    // The countdown: remaining = start - (now - 25 minutes), in seconds, for now = start + elapsed.
    const DateTime start = MakeDateTime(2025, 3, 9, 21, 47, 13);
    int roundedDown = 0;
    for (int elapsed = 0; elapsed <= 1499; ++elapsed) {
        const DateTime now(start.days + elapsed / 86400.0);
        const DateTime limit = rt::AddToDateTime(now, Unit::Minute, -25);
        const double diffSeconds = (start.days - limit.days) * 86400.0;
        if (std::trunc(diffSeconds) < 1500 - elapsed) ++roundedDown;
        ASSERT_EQ(rt::DateTimeInterval(start, limit, Unit::Second), 1500 - elapsed) << "elapsed " << elapsed;
    }
    // The table above crosses the rule: plain truncation would have lost a second somewhere.
    EXPECT_GT(roundedDown, 0);
}

TEST(DateTimeInterval, Units) {
    const DateTime b = MakeDateTime(2025, 3, 9, 10, 0, 0);
    const DateTime a = MakeDateTime(2025, 3, 11, 13, 0, 5);  // two days, three hours, five seconds later
    struct Case {
        DateTime a, b;
        int unit;
        double want;
    };
    const Case cases[] = {
        {a, b, Unit::Second, 183605},
        {a, b, Unit::Minute, 3060},
        {a, b, Unit::Hour, 51},
        {MakeDateTime(2025, 3, 9, 10, 9, 5), b, Unit::Second, 545},
        {b, b, Unit::Second, 0},
        // Into the past: the mirror image, not one unit short.
        {MakeDateTime(2025, 3, 9, 9, 59, 59), b, Unit::Second, -1},
        {MakeDateTime(2025, 3, 9, 9, 59, 55), b, Unit::Second, -5},
        {b, a, Unit::Hour, -51},
        {MakeDateTime(2025, 3, 9, 22, 0, 0), b, Unit::Day, 0.5},
        {a, b, Unit::Month, 0},
        {DateTime(1e6), DateTime(0), Unit::Second, std::numeric_limits<std::int32_t>::max()},
        {DateTime(-1e6), DateTime(0), Unit::Second, std::numeric_limits<std::int32_t>::min()},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_DOUBLE_EQ(rt::DateTimeInterval(c.a, c.b, c.unit), c.want) << "case " << i;
    }
}

TEST(Clock, SeamReplacesAndRestoresTheSystemClock) {
    const DateTime pinned = MakeDateTime(2025, 1, 1, 12, 0, 0);
    rt::SetClock([pinned] { return pinned; });
    EXPECT_EQ(rt::Now(), pinned);
    rt::SetClock({});
    const DateTime before = rt::LocalDateTime(std::time(nullptr));
    const DateTime now = rt::Now();
    const DateTime after = rt::LocalDateTime(std::time(nullptr));
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
    // Whole seconds only.
    const double seconds = now.days * 86400.0;
    EXPECT_NEAR(seconds, std::round(seconds), 1e-4);
}

// Sets the process time zone for one test and restores the previous one afterwards.
class TimeZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        if (old != nullptr) saved_ = old;
    }
    void TearDown() override {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void SetZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

    static std::time_t Utc(int y, int mo, int d, int h, int mi, int s) {
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        return timegm(&tm);
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(TimeZoneTest, DaylightSavingDaysKeepTheirCivilDates) {
    SetZone("Europe/Berlin");
    struct Case {
        std::time_t utc;
        Fields local;
    };
    const Case cases[] = {
        // Spring forward on 30 March 2025: 02:00 CET becomes 03:00 CEST.
        {Utc(2025, 3, 30, 0, 59, 59), {2025, 3, 30, 1, 59, 59}},
        {Utc(2025, 3, 30, 1, 0, 0), {2025, 3, 30, 3, 0, 0}},
        {Utc(2025, 3, 30, 21, 59, 59), {2025, 3, 30, 23, 59, 59}},
        {Utc(2025, 3, 30, 22, 0, 0), {2025, 3, 31, 0, 0, 0}},
        {Utc(2025, 3, 29, 23, 0, 0), {2025, 3, 30, 0, 0, 0}},
        // Fall back on 26 October 2025: 02:30 happens twice.
        {Utc(2025, 10, 26, 0, 30, 0), {2025, 10, 26, 2, 30, 0}},
        {Utc(2025, 10, 26, 1, 30, 0), {2025, 10, 26, 2, 30, 0}},
        {Utc(2025, 10, 26, 22, 59, 59), {2025, 10, 26, 23, 59, 59}},
        {Utc(2025, 10, 26, 23, 0, 0), {2025, 10, 27, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const DateTime d = rt::LocalDateTime(c.utc);
        ExpectFields(d, c.local, "utc " + std::to_string(c.utc));
        // The day number is the civil day, so the midnight of a changeover day is a whole number.
        EXPECT_EQ(d, MakeDateTime(c.local.year, c.local.month, c.local.day, c.local.hour, c.local.minute,
                                  c.local.second));
    }
    // A day with 23 hours still spans exactly one day number.
    const DateTime midnight = rt::LocalDateTime(Utc(2025, 3, 29, 23, 0, 0));
    EXPECT_EQ(midnight.days, std::floor(midnight.days));
    EXPECT_EQ(rt::AddToDateTime(midnight, Unit::Day, 1), rt::LocalDateTime(Utc(2025, 3, 30, 22, 0, 0)));
}

}  // namespace

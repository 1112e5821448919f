#include "runtime/datetime.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

namespace rt {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// days_from_civil(1899, 12, 30): day 0 of the date-time lies 25569 days before 1 January 1970.
constexpr std::int64_t kEpochOffset = 25569;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days since 1 January 1970 of a proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    std::int64_t year;
    int month;
    int day;
};

Civil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

// A date-time split into its day number and the milliseconds of its day, rounded to the nearest
// millisecond so that a value a hair below midnight is taken as that midnight.
struct Split {
    std::int64_t day;
    std::int64_t ms;
};

Split SplitDate(DateTime date) {
    double v = date.days * static_cast<double>(kMsPerDay);
    constexpr double kMax = 4.0e18;  // far beyond any calendar date, inside int64
    if (std::isnan(v)) v = 0.0;
    v = std::fmax(-kMax, std::fmin(kMax, v));
    const auto total = static_cast<std::int64_t>(std::llround(v));
    const std::int64_t day = FloorDiv(total, kMsPerDay);
    return {day, total - day * kMsPerDay};
}

Civil CivilOf(DateTime date) { return CivilFromDays(SplitDate(date).day - kEpochOffset); }

bool IsLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth64(std::int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

DateTime SystemNow() { return LocalDateTime(std::time(nullptr)); }

std::mutex g_clockMutex;
std::function<DateTime()> g_clock;  // empty: the system clock

}  // namespace

DateTime Now() {
    std::function<DateTime()> clock;
    {
        std::lock_guard lock(g_clockMutex);
        clock = g_clock;
    }
    // Called outside the lock, so a test clock may itself do anything, even call SetClock.
    return clock ? clock() : SystemNow();
}

void SetClock(std::function<DateTime()> clock) {
    std::lock_guard lock(g_clockMutex);
    g_clock = std::move(clock);
}

DateTime LocalDateTime(std::time_t t) {
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return DateTime{};
    // The civil fields, never the Unix time plus an offset: a daylight-saving change moves no date.
    return MakeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
    const double days = static_cast<double>(DaysFromCivil(year, month, day) + kEpochOffset);
    const double seconds = hour * 3600.0 + minute * 60.0 + second;
    return DateTime(days + seconds / 86400.0);
}

DateTime AddToDateTime(DateTime date, int unit, std::int64_t amount) {
    switch (unit) {
        case DateUnit::Month: {
            const Civil c = CivilOf(date);
            // Months counted from year 0; clamped so that no arithmetic below can overflow.
            constexpr std::int64_t kMaxMonths = std::int64_t{1} << 40;
            std::int64_t months = c.year * 12 + (c.month - 1);
            months += std::max(-kMaxMonths, std::min(kMaxMonths, amount));
            const std::int64_t year = FloorDiv(months, 12);
            const int month = static_cast<int>(months - year * 12) + 1;
            const int day = std::min(c.day, DaysInMonth64(year, month));
            // Shift by whole days so that the time of day stays exactly as it was.
            const std::int64_t delta = DaysFromCivil(year, month, day) - DaysFromCivil(c.year, c.month, c.day);
            return DateTime(date.days + static_cast<double>(delta));
        }
        case DateUnit::Day:
            return DateTime(date.days + static_cast<double>(amount));
        case DateUnit::Minute:
            return DateTime(date.days + static_cast<double>(amount) / 1440.0);
        default:
            return date;
    }
}

double DateTimeInterval(DateTime a, DateTime b, int unit) {
    double k = 0.0;
    switch (unit) {
        case DateUnit::Day:
            return a.days - b.days;
        case DateUnit::Hour:
            k = 24.0;
            break;
        case DateUnit::Minute:
            k = 1440.0;
            break;
        case DateUnit::Second:
            k = 86400.0;
            break;
        default:
            return 0.0;
    }
    const double scaled = (a.days - b.days) * k;
    if (std::isnan(scaled)) return 0.0;
    // The nudge absorbs the rounding of a difference of whole units; it points away from zero so
    // that an interval into the past is not shortened by one.
    const double v = std::trunc(scaled + std::copysign(5.787037037037037e-6, scaled));
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    return v == 0.0 ? 0.0 : std::fmax(kMin, std::fmin(kMax, v));
}

int YearOf(DateTime date) {
    const std::int64_t y = CivilOf(date).year;
    return static_cast<int>(std::max<std::int64_t>(std::numeric_limits<int>::min(),
                                                   std::min<std::int64_t>(std::numeric_limits<int>::max(), y)));
}

int MonthOf(DateTime date) { return CivilOf(date).month; }

int DayOf(DateTime date) { return CivilOf(date).day; }

int HourOf(DateTime date) { return static_cast<int>(SplitDate(date).ms / 3'600'000); }

int MinuteOf(DateTime date) { return static_cast<int>(SplitDate(date).ms / 60'000 % 60); }

int SecondOf(DateTime date) { return static_cast<int>(SplitDate(date).ms / 1000 % 60); }

int DaysInMonth(int year, int month) { return DaysInMonth64(year, month); }

}  // namespace rt

#pragma once
// Date-times of the runtime: days since 30 December 1899 00:00 local civil time, the fraction
// being the time of day. Day numbers convert through the civil calendar (never through a
// time zone's UTC offset), so a daylight-saving change never shifts a date.

#include <compare>
#include <cstdint>
#include <ctime>
#include <functional>

namespace rt {

// A distinct type, so that a date-time is never taken for a plain double.
struct DateTime {
    double days = 0.0;

    constexpr DateTime() = default;
    constexpr explicit DateTime(double d) : days(d) {}
    friend constexpr auto operator<=>(const DateTime&, const DateTime&) = default;
};

// Units of AddToDateTime and DateTimeInterval.
namespace DateUnit {
constexpr int Month = 3;
constexpr int Day = 5;
constexpr int Hour = 6;
constexpr int Minute = 7;
constexpr int Second = 8;
}  // namespace DateUnit

// The local date-time now, in whole seconds (no fraction of a second); read through the clock seam.
DateTime Now();

// Test seam: replaces the clock behind Now; an empty function restores the system clock.
// The replacement's values are returned as they are.
void SetClock(std::function<DateTime()> clock);

// The local civil date-time of a Unix time, in whole seconds: what the system clock behind Now
// gives for that moment (the time zone's fields, converted through the civil calendar).
DateTime LocalDateTime(std::time_t t);

// The date-time of a civil date and time of day (month 1..12, day 1..31).
DateTime MakeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Unit 3 (months) keeps the day of month where the target month has it, else takes its last day;
// unit 5 adds whole days; unit 7 adds amount/1440 of a day. Other units return the date unchanged.
DateTime AddToDateTime(DateTime date, int unit, std::int64_t amount);

// Unit 5: a - b in days, with its fraction. Units 6, 7, 8: trunc((a - b) * k + 5.787037037037037e-6)
// with k = 24, 1440, 86400, as a 32-bit signed integer (returned in a double, saturated at the
// 32-bit limits). The nudge goes away from zero, so a negative interval (b after a) is the mirror
// image of the positive one: -1 second stays -1, not 0. Other units give 0.
double DateTimeInterval(DateTime a, DateTime b, int unit);

// Parts of a date-time, rounded to the nearest millisecond first (so 23:59:59.9999 is the next day).
int YearOf(DateTime date);
int MonthOf(DateTime date);
int DayOf(DateTime date);
int HourOf(DateTime date);
int MinuteOf(DateTime date);
int SecondOf(DateTime date);

// Days of a month (1..12) of a year of the Gregorian calendar; 0 for a month out of range.
int DaysInMonth(int year, int month);

}  // namespace rt

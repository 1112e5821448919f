#pragma once
// The thirty-day chart, the daily counts, the statistics line and the idle status.

#include <cstdint>

#include "runtime/datetime.h"

// Tomato rows of state 1 (good) or 2 (bad) recorded on the date's year, month and day; the time
// of day plays no part. A query that fails counts 0.
std::int32_t CountGoodTomatoesOn(rt::DateTime date);
std::int32_t CountBadTomatoesOn(rt::DateTime date);
// Fills DailyChart with the good and bad counts of today and the 29 days before, and sets
// g_chartDate, g_maxPerDay, g_last7Days, g_avgPerDay and g_firstActiveDay.
void RefreshChart();
// Composes the statistics line in StatsLabel from today's and yesterday's counts, the chart state
// and the all-time counters. Run RefreshChart first.
void RefreshStatistics();
// RefreshChart and RefreshStatistics when the date has changed since the last chart refresh.
void RefreshOnDayChange();
// StatusLabel: empty while a tomato runs, else the time idle since the last recorded tomato.
void UpdateIdleStatus();

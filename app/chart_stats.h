#pragma once
// The thirty-day chart, the daily counts, the statistics line and the idle status.

#include <cstdint>

#include "runtime/datetime.h"

std::int32_t CountGoodTomatoesOn(rt::DateTime date);
std::int32_t CountBadTomatoesOn(rt::DateTime date);
void RefreshChart();
void RefreshStatistics();
void RefreshOnDayChange();
void UpdateIdleStatus();

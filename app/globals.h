#pragma once
// The program's globals: each lives for the whole run, all are used on the UI thread only.

#include <cstdint>
#include <string>

#include "runtime/datetime.h"

class SqliteDB;
class SqliteTable;

// Database objects, constructed by InitGlobals and destroyed by FreeGlobals.
extern SqliteDB* g_db;
extern SqliteTable* g_tomatoTable;
extern SqliteTable* g_infoTable;

// Storage.
extern std::string g_dbPath;     // empty until OpenDatabase has set it
extern rt::DateTime g_lastEnd;   // time of the last recorded tomato

// Tomato timer.
extern int g_running;            // 1 while a tomato runs, 0 when idle
extern rt::DateTime g_start;     // start of the running (or last) tomato
extern int g_tomatoMinutes;      // 25

// Floating bar position (screen coordinates).
extern std::int32_t g_barTop;
extern std::int32_t g_barLeft;

// Chart state.
extern rt::DateTime g_chartDate;
extern std::int32_t g_maxPerDay;
extern std::int32_t g_last7Days;
extern std::int32_t g_avgPerDay;
extern rt::DateTime g_firstActiveDay;

#include "globals.h"

SqliteDB* g_db = nullptr;
SqliteTable* g_tomatoTable = nullptr;
SqliteTable* g_infoTable = nullptr;

std::string g_dbPath;
rt::DateTime g_lastEnd;

int g_running = 0;
rt::DateTime g_start;
int g_tomatoMinutes = 25;

std::int32_t g_barTop = 0;
std::int32_t g_barLeft = 0;

rt::DateTime g_chartDate;
std::int32_t g_maxPerDay = 0;
std::int32_t g_last7Days = 0;
std::int32_t g_avgPerDay = 0;
rt::DateTime g_firstActiveDay;

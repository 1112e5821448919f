#include "session_end.h"

#include "globals.h"
#include "recorddb/sqlite_db.h"
#include "recorddb/sqlite_operation.h"
#include "runtime/program.h"
#include "runtime/window.h"
#include "settings.h"
#include "storage.h"

bool WatchSessionEnd() {
    return rt::SetSessionEndHandler([] {
        // One operation, as every event: the settings' saving waits for a lock once in all.
        const SqliteOperation operation;
        OnSessionEnd();
    });
}

void OnSessionEnd() {
    // Before the settings are loaded (the database still being opened or built, its error boxes)
    // the window shows its design values, and saving them would replace what the user had stored.
    if (SettingsLoaded() && g_db != nullptr && g_db->IsOpen() && rt::FindWindow("MainWindow") != nullptr) {
        SaveSettings();
    }
    if (g_db != nullptr && g_tomatoTable != nullptr && g_infoTable != nullptr) CloseDatabase();
    rt::EndProgram(0);
}

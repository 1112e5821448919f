// The library's one export and its load and unload hooks.

#include <cstdint>
#include <string>
#include <type_traits>

#include "check.h"
#include "update/export.h"

// Start-up runs when the library is loaded, before any call of the export; it registers the end
// routine, which runs once when the library is unloaded or the process ends.
__attribute__((constructor)) static void LoadUpdateLibrary() { update::ProgramInit(); }

extern "C" __attribute__((visibility("default"))) std::int32_t 检测新版本(const char* currentVersion,
                                                                      const char* updateAddress) {
    try {
        // Copies, so nothing of the caller's memory is kept; a null pointer is the empty text.
        const std::string version = currentVersion != nullptr ? currentVersion : "";
        const std::string address = updateAddress != nullptr ? updateAddress : "";
        return update::CheckNewVersion(version, address);
    } catch (...) {
        return 0;  // nothing crosses the library's boundary but the result
    }
}

static_assert(std::is_same_v<decltype(&检测新版本), UpdateCheckFunction>, "the export has the published type");

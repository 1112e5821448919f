#pragma once
// The library update.so as its callers see it: one C export, bound by name at run time.

#include <cstdint>

// The export's name, the UTF-8 spelling of 检测新版本.
#define UPDATE_EXPORT_NAME "\xE6\xA3\x80\xE6\xB5\x8B\xE6\x96\xB0\xE7\x89\x88\xE6\x9C\xAC"

// Two NUL-terminated GBK texts (current version, update address; null counts as empty) in; 1 when
// a verified reply was received, else 0. Synchronous: it returns after the reply has been handled
// and, when a newer version was announced, after the user has answered; the caller's events keep
// being dispatched meanwhile.
using UpdateCheckFunction = std::int32_t (*)(const char* currentVersion, const char* updateAddress);

// A stand-in for the update library: exports the update check under its real name, answers 0
// ("no verified reply") at once and remembers how it was called, so that tests can run the first
// activation without a network or the real library.

#include <string>

namespace {
int g_calls = 0;
std::string g_version;
std::string g_address;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int 检测新版本(const char* version, const char* address) {
    ++g_calls;
    g_version = version != nullptr ? version : "(null)";
    g_address = address != nullptr ? address : "(null)";
    return 0;
}

__attribute__((visibility("default"))) int StandInCallCount() { return g_calls; }
__attribute__((visibility("default"))) const char* StandInLastVersion() { return g_version.c_str(); }
__attribute__((visibility("default"))) const char* StandInLastAddress() { return g_address.c_str(); }

}  // extern "C"

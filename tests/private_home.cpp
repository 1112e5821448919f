// Linked into every test program: before anything else of the program runs, HOME and the XDG base
// directories are pointed into a fresh temporary directory, which is removed when the program
// ends. So no test, and nothing a test starts (the update library's cookie store, Qt, the sound
// system's client), reads or writes the files of the user running the tests, whether CTest runs
// the program or a developer does.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

// Names the home a test program made, so that programs it starts keep it rather than make their own.
constexpr char kMarker[] = "TOMATO_TEST_HOME";

class PrivateHome {
public:
    PrivateHome() {
        const char* marker = std::getenv(kMarker);
        const char* home = std::getenv("HOME");
        if (marker != nullptr && home != nullptr && std::string(marker) == home) return;

        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "tomato-home-XXXXXX").string();
        if (ec || ::mkdtemp(pattern.data()) == nullptr) {
            // Going on would run the tests in the user's own home.
            std::perror("tests: no temporary home");
            std::_Exit(2);
        }
        dir_ = pattern;
        owner_ = ::getpid();
        Set("HOME", "");
        Set("XDG_DATA_HOME", "/.local/share");
        Set("XDG_CONFIG_HOME", "/.config");
        Set("XDG_CACHE_HOME", "/.cache");
        Set("XDG_STATE_HOME", "/.local/state");
        Set(kMarker, "");
    }
    ~PrivateHome() {
        // A forked child that ends through exit() must not take its parent's home away.
        if (dir_.empty() || ::getpid() != owner_) return;
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

private:
    void Set(const char* name, const char* below) const { ::setenv(name, (dir_ + below).c_str(), 1); }

    std::string dir_;
    pid_t owner_ = 0;
};

// Made before the program's other static objects, so it is also destroyed after them and after
// the exit routines registered while the program ran (the update library's among them).
__attribute__((init_priority(101))) PrivateHome g_privateHome;

}  // namespace

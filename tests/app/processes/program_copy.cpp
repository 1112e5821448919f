// A copy of the program for tests that need real processes: it starts the program as tomatoclock
// does (windows offscreen, the database in the folder given instead of beside the executable),
// answers every message box with OK and writes it to stdout, and does what its arguments ask,
// in order:
//
//   gate         wait until the parent closes its end of fd 3, so that copies start together
//   start        the program's start: MainWindow created, database opened or built, settings
//   crash-at=N   from here on the N-th changing file operation kills the process (crash_vfs.h)
//   good, bad    record a good or a bad tomato of the category 工作
//   memo=TEXT    type TEXT (UTF-8) into the memo
//   close        ask MainWindow to close: settings saved, database closed, exit code 0
//
// After the last argument it prints "ops <n>" (the counted operations since crash-at) and ends
// the program in order with exit code 0. A box is printed as "box <caption>|<message>" (UTF-8).

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "crash_vfs.h"
#include "globals.h"
#include "program.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"
#include "runtime/window.h"
#include "storage.h"

namespace {

constexpr int kGateFd = 3;

void WaitForGate() {
    char byte;
    while (::read(kGateFd, &byte, 1) > 0) {
    }
    ::close(kGateFd);
}

rt::Component& Component(const char* name) {
    rt::Component* component = rt::FindComponent("MainWindow", name);
    if (component == nullptr) {
        std::cerr << "program_copy: MainWindow has no component " << name << "\n";
        std::_Exit(3);
    }
    return *component;
}

void Fail(std::string_view message) {
    std::cerr << "program_copy: " << message << "\n";
    std::_Exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Fail("usage: program_copy <database folder> [gate|start|crash-at=N|good|bad|memo=TEXT|close]...");
    crashvfs::Install();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string folder = argv[1];
    if (!rt::StartRuntime(argc, argv)) Fail("the runtime did not start");

    app::SetWebViewAddressForTest("http://127.0.0.1:9/soft/vizaruzuvov/i.php?1.2.2");
    app::SetDatabaseDirectoryForTest(rt::GbkFromSystemName(folder));
    rt::SetMessageBoxHook([](const std::string& message, int flags, const std::string& caption) {
        std::cout << "box " << rt::Utf8FromGbk(caption) << "|" << rt::Utf8FromGbk(message) << std::endl;
        return (flags & 0x0F) == rt::kMbYesNo ? rt::kAnswerNo : rt::kAnswerOk;
    });

    for (int i = 2; i < argc; ++i) {
        const std::string_view action = argv[i];
        if (action == "gate") {
            WaitForGate();
        } else if (action == "start") {
            // ProgramStart without its message loop.
            app::DefineProgramWindows();
            InitGlobals();
            rt::RegisterExitRoutine(FreeGlobals);
            rt::LoadWindow("MainWindow");
        } else if (action.starts_with("crash-at=")) {
            crashvfs::ArmAt(std::strtol(argv[i] + std::strlen("crash-at="), nullptr, 10));
        } else if (action == "good" || action == "bad") {
            Component("CategoryCombo").SetCurrentIndex(1);  // 工作
            action == "good" ? RecordGoodTomato() : RecordBadTomato();
        } else if (action.starts_with("memo=")) {
            Component("NoteEdit").SetContent(rt::Gbk(action.substr(std::strlen("memo="))));
        } else if (action == "close") {
            rt::Window* window = rt::FindWindow("MainWindow");
            if (window == nullptr) Fail("MainWindow is not open");
            window->RequestClose();
            Fail("the close request did not end the program");
        } else {
            Fail("unknown action " + std::string(action));
        }
    }
    std::cout << "ops " << crashvfs::Count() << std::endl;
    rt::EndProgram(0);
    return 0;
}

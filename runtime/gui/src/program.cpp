// The program's frame: the application object, the message loop, the exit routine and the orderly
// end, files, processes and library commands bound by name.
#include "runtime/program.h"

#include "internal.h"
#include "runtime/messagebox.h"
#include "runtime/sound.h"
#include "runtime/text.h"
#include "runtime/window.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <vector>

namespace rt {
namespace {

struct ProgramState {
    void (*exitRoutine)() = nullptr;
    bool exitRoutineRan = false;
    bool atexitRegistered = false;
    bool ending = false;
    int loopDepth = 0;  // > 0 while RunMessageLoop runs
    std::function<void(int)> endHook;
    std::function<bool(const std::string&)> runProgramHook;
    std::function<bool(const std::string&)> shellOpenHook;
    std::map<std::string, void*, std::less<>> libraries;  // dlopen handles, kept to the end
};

// Never destroyed: the exit routine may run from an atexit handler after static destruction began.
ProgramState& State()
{
    static auto* state = new ProgramState;
    return *state;
}

void RunExitRoutineOnce()
{
    ProgramState& state = State();
    if (state.exitRoutineRan || state.exitRoutine == nullptr) {
        return;
    }
    state.exitRoutineRan = true;
    state.exitRoutine();
}

// The executable's directory as the file system spells it (UTF-8 bytes); empty when the system
// cannot tell it (a path of PATH_MAX bytes or more, no /proc), so that nothing is looked for or
// made in whatever directory happens to be current instead.
std::string NativeProgramDirectory()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {  // a full buffer may hold a cut name
        return {};
    }
    path.resize(static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Splits a command line: blanks separate arguments, double quotes group (and are dropped).
QStringList SplitCommandLine(const QString& commandLine)
{
    QStringList arguments;
    QString current;
    bool inQuotes = false;
    bool hasArgument = false;
    for (const QChar c : commandLine) {
        if (c == u'"') {
            inQuotes = !inQuotes;
            hasArgument = true;
        } else if (!inQuotes && (c == u' ' || c == u'\t')) {
            if (hasArgument) {
                arguments << current;
                current.clear();
                hasArgument = false;
            }
        } else {
            current += c;
            hasArgument = true;
        }
    }
    if (hasArgument) {
        arguments << current;
    }
    return arguments;
}

// "%s" placeholders filled in order with the given texts (no printf: the texts are data).
std::string FillPlaceholders(std::string_view format, std::initializer_list<std::string_view> values)
{
    std::string out;
    auto value = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && value != values.end()) {
            out += *value++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// Creates the application object on the platform the runtime needs. The platform goes to Qt as an
// argument rather than through the environment, so that programs started from here (the desktop
// opener, the user's browser) make their own choice.
void CreateApplication(int& argc, char** argv)
{
    const std::string platform = detail::QtPlatformFor(
        {std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM")}, argc, argv);
    if (platform.empty() || argc < 1) {
        new QApplication(argc, argv);
        return;
    }
    // Qt keeps argc and argv for the application's whole life, so the longer copy is never freed.
    struct Arguments {
        std::string option = "-platform";
        std::string platform;
        int argc = 0;
        std::vector<char*> argv;
    };
    static auto* arguments = new Arguments;
    arguments->platform = platform;
    arguments->argv = {argv[0], arguments->option.data(), arguments->platform.data()};
    arguments->argv.insert(arguments->argv.end(), argv + 1, argv + argc);
    arguments->argv.push_back(nullptr);
    arguments->argc = argc + 2;
    new QApplication(arguments->argc, arguments->argv.data());
    // The caller's argv as Qt would have left it: Qt's own options taken out. Qt took out at least
    // the two added, so the rest fits.
    for (int i = 0; i < arguments->argc; ++i) {
        argv[i] = arguments->argv[static_cast<std::size_t>(i)];
    }
    argv[arguments->argc] = nullptr;
    argc = arguments->argc;
}

}  // namespace

namespace detail {

std::string QtPlatformFor(const PlatformEnvironment& environment, int argc, const char* const* argv)
{
    if (IsSet(environment.qpaPlatform)) {
        return {};
    }
    // Qt reads "--platform" as "-platform" too.
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)) {
            return {};
        }
    }
    if (!IsSet(environment.display)) {
        return {};
    }
    return IsSet(environment.waylandDisplay) ? "xcb;wayland" : "xcb";
}

bool OrderlyEndBegun() { return State().ending; }

void NoteWindowCountChanged(std::size_t openWindows)
{
    if (openWindows == 0 && State().loopDepth > 0 && QCoreApplication::instance() != nullptr) {
        QCoreApplication::quit();
    }
}

}  // namespace detail

bool StartRuntime(int& argc, char** argv)
{
    if (QCoreApplication::instance() == nullptr) {
        // Lives for the whole process; the process ends through EndProgram or a return from main.
        CreateApplication(argc, argv);
    }
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // The runtime ends the loop itself when its last window has gone; message boxes do not count.
        app->setQuitOnLastWindowClosed(false);
    } else {
        return false;
    }
    detail::EnsureFontSubstitutes();
    detail::EnsureQtTranslations();
    const std::string directory = NativeProgramDirectory();
    return !directory.empty() && ::chdir(directory.c_str()) == 0;
}

int RunMessageLoop()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr || detail::OpenWindowCount() == 0) {
        return 0;
    }
    ++State().loopDepth;
    QApplication::exec();
    --State().loopDepth;
    return 0;
}

void RegisterExitRoutine(void (*routine)())
{
    ProgramState& state = State();
    state.exitRoutine = routine;
    state.exitRoutineRan = false;
    if (!state.atexitRegistered) {
        state.atexitRegistered = true;
        std::atexit(RunExitRoutineOnce);
    }
}

void SetEndProgramHook(std::function<void(int)> hook) { State().endHook = std::move(hook); }

void EndProgram(int exitCode)
{
    ProgramState& state = State();
    if (state.endHook) {
        const auto hook = state.endHook;
        hook(exitCode);
        return;
    }
    if (!state.ending) {
        state.ending = true;
        DestroyAllWindows();
        detail::ShutdownSound();
        RunExitRoutineOnce();
    }
    // Qt's own exit-time destructors are skipped: nothing of ours needs them, and they may not run
    // safely from inside a handler. What is buffered is written first.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

std::string ProgramDirectory() { return GbkFromSystemName(NativeProgramDirectory()); }

bool FileExists(std::string_view path)
{
    const auto name = SystemName(path);
    if (!name || name->empty()) {
        return false;
    }
    struct stat info {};
    return ::stat(name->c_str(), &info) == 0;
}

bool DeleteFileCommand(std::string_view path)
{
    const auto name = SystemName(path);
    if (!name || name->empty()) {
        return false;
    }
    return ::unlink(name->c_str()) == 0;
}

void SetRunProgramHook(std::function<bool(const std::string&)> hook)
{
    State().runProgramHook = std::move(hook);
}

bool RunProgram(std::string_view commandLine, int /*showMode*/)
{
    if (State().runProgramHook) {
        const auto hook = State().runProgramHook;
        return hook(std::string(commandLine));
    }
    const auto line = SystemName(commandLine);
    if (!line) {
        return false;
    }
    QStringList arguments = SplitCommandLine(QString::fromStdString(*line));
    if (arguments.isEmpty()) {
        return false;
    }
    const QString program = arguments.takeFirst();
    // Started directly (no shell) and left to run; a double fork leaves no zombie behind.
    return QProcess::startDetached(program, arguments);
}

void SetShellOpenHook(std::function<bool(const std::string&)> hook)
{
    State().shellOpenHook = std::move(hook);
}

bool ShellOpen(std::string_view address)
{
    if (State().shellOpenHook) {
        const auto hook = State().shellOpenHook;
        return hook(std::string(address));
    }
    const auto argument = SystemName(address);
    if (!argument || argument->empty()) {
        return false;
    }
    return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(*argument)});
}

void* BindLibraryCommand(std::string_view libraryFile, std::string_view exportName)
{
    ProgramState& state = State();
    // A name the system cannot spell is not looked for under another one.
    const std::string file = SystemName(libraryFile).value_or(std::string());
    const auto symbol = SystemName(exportName);
    void* library = nullptr;
    if (auto known = state.libraries.find(file); known != state.libraries.end()) {
        library = known->second;
    } else if (!file.empty()) {
        if (const std::string directory = NativeProgramDirectory(); !directory.empty()) {
            const std::string beside = directory + "/" + file;
            library = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (library == nullptr) {
            library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (library != nullptr) {
            state.libraries.emplace(file, library);
        }
    }
    if (library != nullptr && symbol && !symbol->empty()) {
        if (void* command = ::dlsym(library, symbol->c_str())) {
            return command;
        }
    }
    const std::string message =
        FillPlaceholders(Gbk("无法找到指定DLL库文件“%s”中的输出命令“%s”"), {libraryFile, exportName});
    ShowMessageBox(message, kMbIconError, Gbk("错误"));
    EndProgram(-1);
    return nullptr;
}

std::string ReadResource(std::string_view path)
{
    QFile file(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace rt

#pragma once
// The program's frame: runtime start, message loop, the exit routine and the orderly end, files,
// processes, library commands bound by name. UI thread only unless said otherwise.

#include <functional>
#include <string>
#include <string_view>

namespace rt {

// Creates the application object when there is none, gives Qt's own texts (message-box buttons,
// edit menus) in Chinese whatever the locale, and makes the program's directory the current
// directory. argc/argv are the process's own; Qt takes its options out of them. Where an X server
// is at hand (DISPLAY, also XWayland in a Wayland session) the application runs on Qt's X11
// platform, unless the user chose one (QT_QPA_PLATFORM, a -platform argument).
bool StartRuntime(int& argc, char** argv);
// Runs the message loop until the last window is gone; returns 0.
int RunMessageLoop();

// The one exit routine, run exactly once by EndProgram (and at a normal return from main).
void RegisterExitRoutine(void (*routine)());

// The orderly end: windows destroyed, the exit routine run once, the process ends with the code,
// from however deep a nested handler it is called. With the end seam set, the seam is called with
// the code instead and EndProgram returns to its caller (nothing is destroyed, nothing run).
void EndProgram(int exitCode);
void SetEndProgramHook(std::function<void(int exitCode)> hook);

// The end of the session without a close: SIGTERM (logout, shutdown), SIGHUP (the terminal has
// gone), SIGINT (Ctrl+C). Once a handler is set, these signals no longer end the process on the
// spot: the handler runs on the UI thread, from the message loop or from any loop nested in a
// handler (a message box, a wait for a worker thread), and is to end the program (EndProgram). It
// is not re-entered, and not called once the orderly end has begun: a signal that arrives then
// belongs to the same end. A signal the process was started with ignored stays ignored; programs
// started from here get the signals as they would without it. An empty handler gives the signals
// back what they did before. False when they cannot be watched (no application object, no pipe).
bool SetSessionEndHandler(std::function<void()> handler);

// The directory of the running executable, without a trailing slash; the empty text when the
// system cannot tell it (its path is PATH_MAX bytes or longer). Paths, command lines and
// addresses here are GBK texts like every other; they meet the system as UTF-8 (rt::SystemName),
// and one the system cannot spell fails the call instead of naming another file.
std::string ProgramDirectory();
bool FileExists(std::string_view path);
bool DeleteFileCommand(std::string_view path);

// Splits a command line into arguments (blanks separate; double quotes group) and starts the
// program without a shell, not waited for; show mode is a hint (4: maximised). False when it could
// not be started. The seam, when set, receives the command line instead.
bool RunProgram(std::string_view commandLine, int showMode = 1);
void SetRunProgramHook(std::function<bool(const std::string& commandLine)> hook);

// Hands an address to the desktop's opener (xdg-open). The seam, when set, receives it instead.
bool ShellOpen(std::string_view address);
void SetShellOpenHook(std::function<bool(const std::string& address)> hook);

// A command exported by a library file, bound by name at its first call: the file is looked for in
// the program's directory first, then on the system's library search path. When the library or the
// export cannot be found, the fatal box "无法找到指定DLL库文件“%s”中的输出命令“%s”" names both and
// the program ends with exit code -1 (nullptr is returned only when the end seam returns).
void* BindLibraryCommand(std::string_view libraryFile, std::string_view exportName);

// The bytes of a resource compiled into the program (Qt resource path such as ":/sounds/tick.wav");
// empty when there is none.
std::string ReadResource(std::string_view path);

}  // namespace rt

// A program that ends itself through the runtime, for tests that must watch a whole process:
//   end <code>    ends with <code> from a timer handler nested inside an open message box
//   return        the message loop ends with the last window, then main returns
//   close         the window manager closes the window; its query-close handler ends with 0
//   missing-lib   binds a command of a library that does not exist (the box is printed, not shown)
//   qt-texts      prints Qt's own texts as the program shows them: the buttons of a Yes/No and an
//                 OK box (answered from a timer) and the memo's edit menu, then "ran on"
//   session-end [box]  prints "ready" once it watches for the end of the session (with box: "box
//                 open" once a message box is open, and waits inside it); at SIGTERM, SIGHUP or
//                 SIGINT its handler prints "session end" and ends the program with 0
// The exit routine prints "exit routine" each time it runs.
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"
#include "runtime/window.h"


#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void ExitRoutine()
{
    std::fputs("exit routine\n", stdout);
}

rt::ComponentDesign TimerDesign(const char* name, int interval)
{
    rt::ComponentDesign d;
    d.type = rt::ComponentType::Timer;
    d.name = name;
    d.interval = interval;
    return d;
}

rt::EventBinding OnTick(const char* component, std::function<void()> handler)
{
    rt::EventBinding b;
    b.component = component;
    b.event = rt::EventKind::TimerTick;
    b.handler = std::move(handler);
    return b;
}

// The helper's one window: "HelperWindow", 100 x 50, with nothing on it yet.
rt::WindowDesign HelperWindow()
{
    rt::WindowDesign w;
    w.name = "HelperWindow";
    w.width = 100;
    w.height = 50;
    return w;
}

// Defines and loads w and runs the message loop; prints "loop ended" once the loop returns and
// answers the loop's result.
int RunWindow(const rt::WindowDesign& w)
{
    rt::DefineWindow(w);
    rt::LoadWindow(w.name);
    const int result = rt::RunMessageLoop();
    std::fputs("loop ended\n", stdout);
    return result;
}

int EndFromNestedHandler(int code)
{
    rt::WindowDesign w = HelperWindow();
    w.startWindow = true;
    w.components.push_back(TimerDesign("Outer", 50));
    w.components.push_back(TimerDesign("Inner", 300));
    static bool inBox = false;
    w.events.push_back(OnTick("Outer", [] {
        if (inBox) {
            return;
        }
        inBox = true;
        rt::ShowMessageBox("nested", 0x40, "helper");
        std::fputs("box returned\n", stdout);
    }));
    w.events.push_back(OnTick("Inner", [code] {
        if (inBox) {
            std::fputs("ending inside the box\n", stdout);
            rt::EndProgram(code);
            std::fputs("EndProgram returned\n", stdout);
        }
    }));
    RunWindow(w);
    return 99;
}

int ReturnAfterLastWindow()
{
    rt::WindowDesign w = HelperWindow();
    w.components.push_back(TimerDesign("Closer", 100));
    w.events.push_back(OnTick("Closer", [] { rt::CloseWindowUnit("HelperWindow"); }));
    const int result = RunWindow(w);
    std::fflush(stdout);
    return result;
}

int EndFromQueryClose()
{
    rt::WindowDesign w = HelperWindow();
    w.startWindow = true;
    w.components.push_back(TimerDesign("Closer", 100));
    w.events.push_back(OnTick("Closer", [] { rt::FindWindow("HelperWindow")->Widget()->close(); }));
    rt::EventBinding query;
    query.event = rt::EventKind::QueryClose;
    query.queryClose = [] {
        std::fputs("query close\n", stdout);
        rt::EndProgram(0);
        std::fputs("EndProgram returned\n", stdout);
        return false;
    };
    w.events.push_back(query);
    RunWindow(w);
    return 99;
}

int BindMissingLibrary()
{
    rt::SetMessageBoxHook([](const std::string& message, int flags, const std::string& caption) {
        std::printf("box flags=%d caption=%s\n", flags, caption.c_str());
        std::printf("message=%s\n", message.c_str());
        return rt::kAnswerOk;
    });
    rt::BindLibraryCommand("no-such-library.so", rt::Gbk("检测新版本"));
    std::fputs("BindLibraryCommand returned\n", stdout);
    return 99;
}

// The texts of the given buttons of the box shown by ShowMessageBox(flags), joined by "|".
QString ButtonTexts(int flags, std::initializer_list<QMessageBox::StandardButton> buttons)
{
    QStringList texts;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        for (const auto button : buttons) {
            texts << (box->button(button) != nullptr ? box->button(button)->text() : QStringLiteral("-"));
        }
        box->button(*buttons.begin())->click();
    });
    poll.start();
    rt::ShowMessageBox("texts", flags, "helper");
    return texts.join(u'|');
}

int PrintQtTexts()
{
    std::printf("yes-no=%s\n", ButtonTexts(0x24, {QMessageBox::Yes, QMessageBox::No}).toUtf8().constData());
    std::printf("ok=%s\n", ButtonTexts(0x40, {QMessageBox::Ok}).toUtf8().constData());

    rt::WindowDesign w = HelperWindow();
    w.components.push_back(rt::DesignComponent(rt::ComponentType::EditBox, "Memo", 0, 0, 100, 50));
    rt::DefineWindow(w);
    rt::LoadWindow(w.name);
    auto* memo = qobject_cast<QPlainTextEdit*>(rt::FindComponent(w.name, "Memo")->Widget());
    QStringList entries;
    {
        // The memo's right-click menu, as Qt makes it.
        const std::unique_ptr<QMenu> menu(memo->createStandardContextMenu());
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                entries << action->text().section(u'\t', 0, 0);  // without the shortcut
            }
        }
    }
    std::printf("menu=%s\n", entries.join(u'|').toUtf8().constData());
    rt::DestroyAllWindows();
    std::fputs("ran on\n", stdout);
    return 0;
}

// Prints the line from the event loop that runs next, so that a reader knows that loop runs.
void SayFromTheNextLoop(const char* line)
{
    QTimer::singleShot(0, [line] {
        std::fputs(line, stdout);
        std::fflush(stdout);
    });
}

int EndWithTheSession(bool insideBox)
{
    const bool watching = rt::SetSessionEndHandler([] {
        std::fputs("session end\n", stdout);
        rt::EndProgram(0);
        std::fputs("EndProgram returned\n", stdout);
    });
    if (!watching) {
        return 96;
    }
    rt::WindowDesign w = HelperWindow();
    w.startWindow = true;
    if (insideBox) {
        w.components.push_back(TimerDesign("Opener", 10));
        static bool opened = false;
        w.events.push_back(OnTick("Opener", [] {
            if (opened) {
                return;
            }
            opened = true;
            SayFromTheNextLoop("box open\n");  // the box's own loop: the signal is sure to meet the box
            rt::ShowMessageBox("waiting", 0x40, "helper");
            std::fputs("box returned\n", stdout);
        }));
    } else {
        SayFromTheNextLoop("ready\n");
    }
    RunWindow(w);
    return 99;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !rt::StartRuntime(argc, argv)) {
        return 98;
    }
    rt::RegisterExitRoutine(ExitRoutine);
    const std::string mode = argv[1];
    if (mode == "end" && argc > 2) {
        return EndFromNestedHandler(std::atoi(argv[2]));
    }
    if (mode == "return") {
        return ReturnAfterLastWindow();
    }
    if (mode == "close") {
        return EndFromQueryClose();
    }
    if (mode == "missing-lib") {
        return BindMissingLibrary();
    }
    if (mode == "qt-texts") {
        return PrintQtTexts();
    }
    if (mode == "session-end") {
        return EndWithTheSession(argc > 2 && std::string(argv[2]) == "box");
    }
    return 97;
}

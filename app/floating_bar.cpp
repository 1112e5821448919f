#include "floating_bar.h"

#include "globals.h"
#include "runtime/datetime.h"
#include "runtime/text.h"
#include "runtime/win32.h"
#include "runtime/window_drag.h"
#include "runtime/window_focus.h"

namespace w = rt::win32;

namespace {

constexpr const char* kBarWindow = "FloatingBarWindow";
constexpr const char* kMainWindow = "MainWindow";
constexpr rt::Colour kKeyColour = 0xC080FF;  // the bar window's background
constexpr int kHomePosition = 10;            // where ResetBarButton puts the bar
constexpr w::UINT kKeepPlace = w::SWP_NOSIZE | w::SWP_NOMOVE;

// True when the main window's ShowBarCheck is ticked.
bool ShowBarTicked() {
    const rt::Component* check = rt::FindComponent(kMainWindow, "ShowBarCheck");
    return check != nullptr && check->Checked();
}

}  // namespace

void OnShowBarToggled() {
    if (g_running != 1) return;  // while idle the box only decides the next start
    if (ShowBarTicked()) {
        rt::LoadWindow(kBarWindow);
    } else {
        rt::CloseWindowUnit(kBarWindow);
    }
}

void OnResetBarClicked() {
    if (!ShowBarTicked()) return;
    rt::Window* bar = rt::FindWindow(kBarWindow);
    if (bar == nullptr) {
        // No tomato runs, so there is no bar to move: the next one opens at the corner.
        g_barTop = kHomePosition;
        g_barLeft = kHomePosition;
        return;
    }
    bar->SetTop(kHomePosition);   // each write stores both coordinates through OnFloatingBarMoved
    bar->SetLeft(kHomePosition);
}

void OnFloatingBarCreated() {
    rt::Window* bar = rt::FindWindow(kBarWindow);
    if (bar == nullptr) return;
    // The window is shown after this handler. The user's keys belong to the window they work in,
    // and the program already has its taskbar entry.
    rt::NeverTakeFocus(bar);
    rt::KeepOutOfTaskbar(bar);
    // The first move stores the window's old left in g_barLeft, so the left goes through the tag.
    bar->SetTag(rt::ToText(g_barLeft));
    bar->SetTop(g_barTop);
    bar->SetLeft(rt::ToInteger(bar->Tag()));
    MakeColourKeyed(rt::WindowHandle(kBarWindow), kKeyColour);
    rt::EnableWindowDrag(bar);  // borderless, so the bar itself is the handle to move it by
    if (rt::Window* main = rt::FindWindow(kMainWindow)) rt::SetFocusTo(main);
}

void OnFloatingBarMoved() {
    const rt::Window* bar = rt::FindWindow(kBarWindow);
    if (bar == nullptr) return;
    g_barTop = bar->Top();
    g_barLeft = bar->Left();
}

void OnFloatingBarTimerTick() {
    w::SetProcessWorkingSetSize(w::kCurrentProcess, -1, -1);
    const w::HWND foreground = w::GetForegroundWindow();
    const w::HWND bar = rt::WindowHandle(kBarWindow);
    if (foreground != bar) {
        w::SetWindowPos(foreground, w::HWND_NOTOPMOST, 0, 0, 0, 0, kKeepPlace);
        w::SetWindowPos(bar, w::HWND_TOPMOST, 0, 0, 0, 0, kKeepPlace);
    }
    UpdateFloatingBar();
}

void UpdateFloatingBar() {
    if (g_running != 1) {
        rt::CloseWindowUnit(kBarWindow);
        return;
    }
    rt::Component* progress = rt::FindComponent(kBarWindow, "FloatingProgressBar");
    if (progress == nullptr) return;
    progress->SetMaximum(static_cast<int>(g_tomatoMinutes * 60.0));
    progress->SetPosition(static_cast<int>(rt::DateTimeInterval(rt::Now(), g_start, rt::DateUnit::Second)));
}

void MakeColourKeyed(std::uintptr_t handle, rt::Colour colour) {
    const w::LONG style = w::GetWindowLongA(handle, w::GWL_EXSTYLE);
    w::SetWindowLongA(handle, w::GWL_EXSTYLE, style | w::WS_EX_LAYERED);
    w::SetLayeredWindowAttributes(handle, colour, 0, w::LWA_COLORKEY);
}

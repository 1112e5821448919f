#include "runtime/win32.h"

#include <malloc.h>

#include <QtGui/QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <unordered_map>
#include <utility>

#include "app_display.h"
#include "colour_key.h"
#include "xlib_ops.h"

namespace rt::x11 {

_XDisplay* AppDisplay() {
    if (qGuiApp == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
#if QT_CONFIG(xcb)
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
#else
    return nullptr;
#endif
}

}  // namespace rt::x11

namespace rt::win32 {

using x11::AppDisplay;

namespace {

std::function<void(const CallRecord&)>& Recorder() {
    static std::function<void(const CallRecord&)> recorder;
    return recorder;
}

std::function<HWND()>& ForegroundHook() {
    static std::function<HWND()> hook;
    return hook;
}

// The extended styles set so far, by window; an own window's entry goes with the window.
std::unordered_map<HWND, LONG>& ExStyles() {
    static std::unordered_map<HWND, LONG> styles;
    return styles;
}

void Report(const char* function, std::vector<std::int64_t> arguments, bool applied) {
    if (Recorder()) Recorder()(CallRecord{function, std::move(arguments), applied});
}

std::int64_t Int(std::uintptr_t value) { return static_cast<std::int64_t>(value); }

// This process's top-level widget of that native window id, or nullptr.
QWidget* OwnWindow(HWND window) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
    QWidget* widget = QWidget::find(static_cast<WId>(window));
    return widget != nullptr && widget->isWindow() ? widget : nullptr;
}

QRgb KeyColour(COLORREF colour) {
    return qRgb(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

}  // namespace

bool OnX11Display() { return AppDisplay() != nullptr; }

bool SetProcessWorkingSetSize(HANDLE process, SIZE_T minimumSize, SIZE_T maximumSize) {
    const bool understood = process == kCurrentProcess && minimumSize == -1 && maximumSize == -1;
    if (understood) malloc_trim(0);
    Report("SetProcessWorkingSetSize", {process, minimumSize, maximumSize}, understood);
    return understood;
}

HWND GetForegroundWindow() {
    HWND active = 0;
    bool applied = false;
    if (ForegroundHook()) {
        active = ForegroundHook()();
    } else if (_XDisplay* display = AppDisplay()) {
        active = x11::ActiveWindow(display);
        applied = true;
    }
    Report("GetForegroundWindow", {Int(active)}, applied);
    return active;
}

bool SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    const bool topmostChange = (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) &&
                               (flags & (SWP_NOSIZE | SWP_NOMOVE)) == (SWP_NOSIZE | SWP_NOMOVE);
    _XDisplay* display = AppDisplay();
    const bool applied = display != nullptr && window != 0 && topmostChange;
    if (applied) {
        // On Windows HWND_TOPMOST puts the window on top of the topmost ones, also when it is one
        // of them already. The state is asked for only when it changes: managers that prevent
        // focus stealing take a repeated request as an attempt to activate the window, and some
        // flag it for attention. A window that has it already is raised again, and only while
        // another window covers part of it (the manager may also have left it under the focused
        // window when it entered the layer). Without a manager there is only the server's order.
        const bool topmost = insertAfter == HWND_TOPMOST;
        const bool managed = x11::ManagerRunning(display);
        const bool above = x11::HasState(display, window, "_NET_WM_STATE_ABOVE");
        if (managed && above != topmost) {
            x11::RequestStates(display, window, topmost, "_NET_WM_STATE_ABOVE", nullptr);
        } else if (topmost && x11::CoveredByAnother(display, window)) {
            x11::Raise(display, window, managed);
        }
    }
    Report("SetWindowPos", {Int(window), Int(insertAfter), x, y, cx, cy, flags}, applied);
    return applied;
}

LONG GetWindowLongA(HWND window, int index) {
    const bool applied = AppDisplay() != nullptr;
    LONG value = 0;
    if (applied && index == GWL_EXSTYLE) {
        auto found = ExStyles().find(window);
        if (found != ExStyles().end()) value = found->second;
    }
    Report("GetWindowLongA", {Int(window), index}, applied);
    return value;
}

LONG SetWindowLongA(HWND window, int index, LONG value) {
    const bool applied = AppDisplay() != nullptr && index == GWL_EXSTYLE && window != 0;
    LONG previous = 0;
    if (applied) {
        auto [entry, added] = ExStyles().try_emplace(window, 0);
        previous = entry->second;
        entry->second = value;
        QWidget* own = OwnWindow(window);
        if (added && own != nullptr) {
            QObject::connect(own, &QObject::destroyed, [window] { ExStyles().erase(window); });
        }
        if ((previous & WS_EX_LAYERED) != 0 && (value & WS_EX_LAYERED) == 0 && own != nullptr) {
            x11::RemoveColourKey(own);
        }
    }
    Report("SetWindowLongA", {Int(window), index, value}, applied);
    return previous;
}

bool SetLayeredWindowAttributes(HWND window, COLORREF key, BYTE alpha, DWORD flags) {
    _XDisplay* display = AppDisplay();
    QWidget* own = display != nullptr ? OwnWindow(window) : nullptr;
    const auto style = ExStyles().find(window);
    const bool applied = own != nullptr && style != ExStyles().end() &&
                         (style->second & WS_EX_LAYERED) != 0 && x11::HasShapeExtension(display);
    if (applied) {
        if ((flags & LWA_COLORKEY) != 0) {
            x11::ApplyColourKey(own, display, KeyColour(key));
        } else {
            x11::RemoveColourKey(own);
        }
    }
    Report("SetLayeredWindowAttributes", {Int(window), key, alpha, flags}, applied);
    return applied;
}

void SetCallRecorder(std::function<void(const CallRecord&)> recorder) { Recorder() = std::move(recorder); }

void SetForegroundWindowHook(std::function<HWND()> hook) { ForegroundHook() = std::move(hook); }

}  // namespace rt::win32

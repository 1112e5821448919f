// The whole program on a real X server with the openbox window manager (run_with_wm.sh): the
// floating bar takes the always-on-top state from another client's active window within about a
// second and holds it itself, keeps the focus off itself when it opens, and its keyed-out margin
// shows the window behind it.

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <chrono>
#include <functional>
#include <iostream>
#include <vector>

#include "app_fixture.h"
#include "globals.h"
#include "runtime/win32.h"

// X11 last: its macros (None, Bool, Status) must not meet the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr unsigned long kGreen = 0x00FF00;  // the other window's colour, as the X server stores it
constexpr int kBarLeft = 400, kBarTop = 700, kBarWidth = 220, kBarHeight = 16, kProgressWidth = 200;

// Runs the program's events until the condition holds or the time is up; answers the time taken.
std::chrono::milliseconds WaitUntil(const std::function<bool()>& condition, bool& held, int milliseconds = 3000) {
    const auto start = std::chrono::steady_clock::now();
    while (true) {
        QCoreApplication::processEvents();
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if ((held = condition())) return spent;
        if (spent.count() > milliseconds) return spent;
        QThread::msleep(10);
    }
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 3000) {
    bool held = false;
    WaitUntil(condition, held, milliseconds);
    return held;
}

// Another program: an X client of its own with one plain window of solid colour.
class OtherProgram {
public:
    OtherProgram() : display_(XOpenDisplay(nullptr)) {}
    ~OtherProgram() {
        if (window_ != 0) XDestroyWindow(display_, window_);
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    bool Connected() const { return display_ != nullptr; }
    Window window() const { return window_; }

    void Open(int x, int y, int width, int height, unsigned long pixel) {
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, width, height, 0, 0, pixel);
        XStoreName(display_, window_, "other program");
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = x;
        hints.y = y;
        hints.width = width;
        hints.height = height;
        XSetWMNormalHints(display_, window_, &hints);
        XMapWindow(display_, window_);
        XSync(display_, False);
    }

    void AskManager(Window target, const char* type, long l0, long l1 = 0, long l3 = 0) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = XInternAtom(display_, type, False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = l0;
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[3] = l3;
        XSendEvent(display_, DefaultRootWindow(display_), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
        XSync(display_, False);
    }
    // As a pager or the user's click would: the window becomes the active one.
    void Activate(Window target) { AskManager(target, "_NET_ACTIVE_WINDOW", 2, CurrentTime); }
    // The program asks for its own window to stay on top.
    void MakeAlwaysOnTop() {
        AskManager(window_, "_NET_WM_STATE", 1, static_cast<long>(XInternAtom(display_, "_NET_WM_STATE_ABOVE", False)), 1);
    }

    bool IsAbove(Window target) const {
        const Atom above = XInternAtom(display_, "_NET_WM_STATE_ABOVE", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool found = false;
        if (XGetWindowProperty(display_, target, XInternAtom(display_, "_NET_WM_STATE", False), 0, 64, False,
                               XA_ATOM, &type, &format, &count, &after, &data) == Success && data != nullptr) {
            const auto* atoms = reinterpret_cast<const unsigned long*>(data);
            for (unsigned long i = 0; i < count; ++i) found = found || atoms[i] == above;
        }
        if (data != nullptr) XFree(data);
        return found;
    }

    bool Viewable() const {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window_, &attributes) != 0 && attributes.map_state == IsViewable;
    }

    // What the screen shows in a rectangle, pixel by pixel (0x00RRGGBB).
    std::vector<std::vector<unsigned long>> Screen(int x, int y, int width, int height) const {
        XSync(display_, False);
        XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, width, height, AllPlanes, ZPixmap);
        std::vector<std::vector<unsigned long>> pixels;
        if (image == nullptr) return pixels;
        for (int row = 0; row < height; ++row) {
            pixels.emplace_back();
            for (int column = 0; column < width; ++column) pixels.back().push_back(XGetPixel(image, column, row) & 0xFFFFFF);
        }
        XDestroyImage(image);
        return pixels;
    }

private:
    Display* display_;
    Window window_ = 0;
};

class FloatingBarOnX11 : public apptest::AppFixture {};

TEST_F(FloatingBarOnX11, TakesTheTopFromTheActiveWindowAndShowsWhatLiesBehindItsMargin) {
    ASSERT_TRUE(rt::win32::OnX11Display()) << "run this test through run_with_wm.sh";
    OtherProgram other;
    ASSERT_TRUE(other.Connected());

    StartProgram();
    const rt::win32::HWND main = rt::WindowHandle("MainWindow");
    ASSERT_TRUE(WaitFor([&] { return rt::win32::GetForegroundWindow() == main; }));

    // Another program's always-on-top window lies where the bar will be.
    other.Open(kBarLeft - 50, kBarTop - 50, 400, 100, kGreen);
    ASSERT_TRUE(WaitFor([&] { return other.Viewable(); }));
    other.MakeAlwaysOnTop();
    ASSERT_TRUE(WaitFor([&] { return other.IsAbove(other.window()); }));

    // The user goes back to the main window and starts a tomato with the bar shown.
    other.Activate(main);
    ASSERT_TRUE(WaitFor([&] { return rt::win32::GetForegroundWindow() == main; }));
    Comp("ShowBarCheck").SetChecked(true);
    g_barLeft = kBarLeft;
    g_barTop = kBarTop;
    Comp("CategoryCombo").SetCurrentIndex(1);
    Comp("StartButton").Click();
    const rt::win32::HWND bar = rt::WindowHandle("FloatingBarWindow");
    ASSERT_NE(bar, 0u);

    // Opening the bar leaves the main window active.
    bool barActive = false;
    WaitUntil([&] { return rt::win32::GetForegroundWindow() == bar; }, barActive, 700);
    EXPECT_FALSE(barActive) << "the bar took the focus";
    EXPECT_EQ(rt::win32::GetForegroundWindow(), main);

    // The other program's window becomes the active one: within about a second it is no longer
    // always on top, and the bar is.
    other.Activate(other.window());
    ASSERT_TRUE(WaitFor([&] { return rt::win32::GetForegroundWindow() == other.window(); }));
    bool lost = false;
    const auto took = WaitUntil([&] { return !other.IsAbove(other.window()) && other.IsAbove(bar); }, lost, 3000);
    EXPECT_TRUE(lost) << "other above: " << other.IsAbove(other.window()) << ", bar above: " << other.IsAbove(bar);
    EXPECT_LE(took.count(), 1500);
    std::cout << "the bar took the top after " << took.count() << " ms\n";

    // The bar lies on top of the green window: its progress part is drawn, and its last 20
    // pixels, of the key colour, show the green window behind them.
    bool settled = false;
    std::vector<std::vector<unsigned long>> screen;
    WaitUntil([&] {
        screen = other.Screen(kBarLeft, kBarTop, kBarWidth, kBarHeight);
        if (screen.size() != static_cast<std::size_t>(kBarHeight)) return false;
        bool margin = true, drawn = false;
        for (const auto& row : screen) {
            for (int x = 0; x < kBarWidth; ++x) {
                if (x >= kProgressWidth) margin = margin && row[x] == kGreen;
                else drawn = drawn || row[x] != kGreen;
            }
        }
        return margin && drawn;
    }, settled, 2000);
    ASSERT_EQ(screen.size(), static_cast<std::size_t>(kBarHeight));
    EXPECT_TRUE(settled) << std::hex << "margin pixel " << screen[8][kBarWidth - 10] << ", bar pixel "
                         << screen[8][kProgressWidth / 2];
    // Nothing of the key colour is left on the screen.
    for (const auto& row : screen) {
        for (unsigned long pixel : row) ASSERT_NE(pixel, 0xFF80C0u);
    }

    // The tomato is abandoned: the bar goes within a second.
    Answer(5);
    Comp("StartButton").Click();
    EXPECT_TRUE(WaitFor([] { return rt::FindWindow("FloatingBarWindow") == nullptr; }, 1500));
}

}  // namespace

// The whole program on a real X server under a window manager (run_with_wm.sh --wm ...): the
// floating bar takes the always-on-top state from another client's active window within about a
// second and holds it itself, while the keyboard focus stays with the user's window all along: the
// bar never becomes the active window, never asks for attention, stays out of the taskbar, and
// can still be dragged. Its keyed-out margin shows the window behind it.

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "globals.h"
#include "runtime/win32.h"

// X11 last: its macros (None, Bool, Status) must not meet the headers above.
#include "other_x_client.h"

namespace {

constexpr unsigned long kGreen = 0x00FF00;  // the other window's colour, as the X server stores it
constexpr unsigned long kKey = 0xFF80C0;    // the bar's background, keyed out
constexpr int kBarLeft = 400, kBarTop = 700, kBarWidth = 220, kBarHeight = 16, kProgressWidth = 200;
constexpr int kShadow = 8;  // a compositing manager (mutter) shades a few pixels along a window's edge

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

// A compositing manager may round a colour by a step or two on its way to the screen.
bool Near(unsigned long pixel, unsigned long colour) {
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((pixel >> shift) & 0xFF), b = static_cast<int>((colour >> shift) & 0xFF);
        if (std::abs(a - b) > 8) return false;
    }
    return true;
}

class FloatingBarOnX11 : public apptest::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        // The bar's ticks, counted by the working-set trim each of them starts with.
        rt::win32::SetCallRecorder([this](const rt::win32::CallRecord& call) {
            if (call.function == "SetProcessWorkingSetSize") ++ticks_;
        });
    }
    void TearDown() override {
        rt::win32::SetCallRecorder({});
        AppFixture::TearDown();
    }
    int ticks_ = 0;
};

TEST_F(FloatingBarOnX11, FloatsAboveTheActiveWindowWithoutEverTakingItsFocus) {
    ASSERT_TRUE(rt::win32::OnX11Display()) << "run this test through run_with_wm.sh";
    // Another program: an X client of its own with one plain window of solid colour.
    x11test::OtherClient other;
    ASSERT_TRUE(other.Connected());
    std::cout << "window manager: " << other.ManagerName() << "\n";

    StartProgram();
    const rt::win32::HWND main = rt::WindowHandle("MainWindow");
    ASSERT_TRUE(WaitFor([&] { return rt::win32::GetForegroundWindow() == main; }));

    // Another program's always-on-top window lies where the bar will be.
    const Window otherWindow = other.CreateWindow(kBarLeft - 50, kBarTop - 50, 400, 100, kGreen, "other program");
    ASSERT_TRUE(WaitFor([&] { return other.Viewable(otherWindow); }));
    other.MakeAbove(otherWindow);
    ASSERT_TRUE(WaitFor([&] { return other.IsAbove(otherWindow); }));

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
    ASSERT_TRUE(WaitFor([&] { return other.Viewable(bar); }));

    // Opening the bar leaves the main window active.
    bool barActive = false;
    WaitUntil([&] { return rt::win32::GetForegroundWindow() == bar; }, barActive, 700);
    EXPECT_FALSE(barActive) << "the bar took the focus";
    EXPECT_EQ(rt::win32::GetForegroundWindow(), main);

    // The bar tells the manager what it is: no keyboard input, no taskbar or pager entry.
    EXPECT_FALSE(other.AcceptsInput(bar)) << "the bar's input hint asks for the keyboard focus";
    EXPECT_FALSE(other.HasProtocol(bar, "WM_TAKE_FOCUS")) << "the bar offers to take the focus";
    EXPECT_TRUE(WaitFor([&] { return other.HasState(bar, "_NET_WM_STATE_SKIP_TASKBAR"); }, 1000))
        << "the bar is listed in the taskbar";
    EXPECT_TRUE(other.HasState(bar, "_NET_WM_STATE_SKIP_PAGER")) << "the bar is listed in the pager";

    // The other program's window becomes the active one: within about a second it is no longer
    // always on top, and the bar is.
    other.Activate(otherWindow);
    ASSERT_TRUE(WaitFor([&] { return rt::win32::GetForegroundWindow() == otherWindow; }));
    bool lost = false;
    const auto took = WaitUntil([&] { return !other.IsAbove(otherWindow) && other.IsAbove(bar); }, lost, 3000);
    EXPECT_TRUE(lost) << "other above: " << other.IsAbove(otherWindow) << ", bar above: " << other.IsAbove(bar);
    EXPECT_LE(took.count(), 1500);
    std::cout << "the bar took the top after " << took.count() << " ms\n";

    // Three more ticks: the user's window stays the active one all along, and the bar never asks
    // for attention.
    const int ticksBefore = ticks_;
    int stolen = 0, flagged = 0;
    WaitFor([&] {
        stolen += rt::win32::GetForegroundWindow() != otherWindow;
        flagged += other.HasState(bar, "_NET_WM_STATE_DEMANDS_ATTENTION");
        return ticks_ >= ticksBefore + 3;
    }, 5000);
    WaitFor([] { return false; }, 300);  // what the manager makes of the last tick
    EXPECT_GE(ticks_, ticksBefore + 3);
    EXPECT_EQ(stolen, 0) << "the active window was another one in " << stolen << " samples";
    EXPECT_EQ(rt::win32::GetForegroundWindow(), otherWindow);
    EXPECT_EQ(flagged, 0) << "the bar demanded attention in " << flagged << " samples";
    EXPECT_FALSE(other.HasState(bar, "_NET_WM_STATE_DEMANDS_ATTENTION"));
    EXPECT_GT(other.StackingIndex(bar), other.StackingIndex(otherWindow)) << "the bar is under the other window";

    // The bar lies on top of the green window: its progress part is drawn, and its last 20
    // pixels, of the key colour, show the green window behind them (but for a shadow).
    bool settled = false;
    std::vector<std::vector<unsigned long>> screen;
    WaitUntil([&] {
        screen = other.Screen(kBarLeft, kBarTop, kBarWidth, kBarHeight);
        if (screen.size() != static_cast<std::size_t>(kBarHeight)) return false;
        bool margin = true, drawn = false;
        for (const auto& row : screen) {
            for (int x = 0; x < kBarWidth; ++x) {
                if (x >= kProgressWidth + kShadow) margin = margin && Near(row[x], kGreen);
                else if (x < kProgressWidth) drawn = drawn || !Near(row[x], kGreen);
            }
        }
        return margin && drawn;
    }, settled, 2000);
    ASSERT_EQ(screen.size(), static_cast<std::size_t>(kBarHeight));
    EXPECT_TRUE(settled) << std::hex << "margin pixel " << screen[8][kBarWidth - 10] << ", bar pixel "
                         << screen[8][kProgressWidth / 2];
    // Nothing of the key colour is left on the screen.
    for (const auto& row : screen) {
        for (unsigned long pixel : row) ASSERT_FALSE(Near(pixel, kKey)) << std::hex << pixel;
    }

    // The user drags the bar by its progress part, as with a real mouse: it follows, the new
    // place is remembered, and the other window keeps the focus.
    const int dx = 80, dy = -60;
    ASSERT_TRUE(other.Drag(kBarLeft + 60, kBarTop + 8, dx, dy, [] { QCoreApplication::processEvents(); }));
    EXPECT_TRUE(WaitFor([&] { return g_barLeft == kBarLeft + dx && g_barTop == kBarTop + dy; }))
        << "remembered " << g_barLeft << "," << g_barTop;
    x11test::Rect moved;
    EXPECT_TRUE(WaitFor([&] {
        moved = other.Geometry(bar);
        return moved.x == kBarLeft + dx && moved.y == kBarTop + dy;
    })) << "the bar is at " << moved.x << "," << moved.y;
    EXPECT_EQ(rt::win32::GetForegroundWindow(), otherWindow) << "the drag activated the bar";
    EXPECT_FALSE(other.HasState(bar, "_NET_WM_STATE_DEMANDS_ATTENTION"));

    // The tomato is abandoned: the bar goes within a second.
    Answer(5);
    Comp("StartButton").Click();
    EXPECT_TRUE(WaitFor([] { return rt::FindWindow("FloatingBarWindow") == nullptr; }, 1500));
}

}  // namespace

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
#include "other_x_client.h"

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

class FloatingBarOnX11 : public apptest::AppFixture {};

TEST_F(FloatingBarOnX11, TakesTheTopFromTheActiveWindowAndShowsWhatLiesBehindItsMargin) {
    ASSERT_TRUE(rt::win32::OnX11Display()) << "run this test through run_with_wm.sh";
    // Another program: an X client of its own with one plain window of solid colour.
    x11test::OtherClient other;
    ASSERT_TRUE(other.Connected());

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

    // Opening the bar leaves the main window active.
    bool barActive = false;
    WaitUntil([&] { return rt::win32::GetForegroundWindow() == bar; }, barActive, 700);
    EXPECT_FALSE(barActive) << "the bar took the focus";
    EXPECT_EQ(rt::win32::GetForegroundWindow(), main);

    // The other program's window becomes the active one: within about a second it is no longer
    // always on top, and the bar is.
    other.Activate(otherWindow);
    ASSERT_TRUE(WaitFor([&] { return rt::win32::GetForegroundWindow() == otherWindow; }));
    bool lost = false;
    const auto took = WaitUntil([&] { return !other.IsAbove(otherWindow) && other.IsAbove(bar); }, lost, 3000);
    EXPECT_TRUE(lost) << "other above: " << other.IsAbove(otherWindow) << ", bar above: " << other.IsAbove(bar);
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

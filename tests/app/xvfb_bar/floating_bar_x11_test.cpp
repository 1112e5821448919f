// The whole program on a real X server, under a window manager or on the bare server
// (run_with_wm.sh --wm ...): the floating bar takes the always-on-top state from another client's
// active window within about a second and holds it itself, rises again above another program's
// always-on-top window that covers it, while the keyboard focus stays with the user's window all
// along: the bar never becomes the active window, never asks for attention, stays out of the
// taskbar, and can still be dragged. Its keyed-out margin shows the window behind it, and nothing
// of it on the screen is a shade of its key colour.

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <algorithm>
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

// Whether a pixel (0x00RRGGBB) is a shade of the key colour: the key's pink mixed with the greys,
// white or black of a frame, an anti-aliased edge or a shadow. Such a mix moves the lightness and
// the saturation but keeps the hue, so a shade is a clearly coloured pixel (HSV saturation at least
// 0.15, not near black) whose hue lies within 25 degrees of the key's (330 degrees). The bar's own
// colours (greys, its blue fill) and the green behind it are far from it.
bool KeyShade(unsigned long pixel) {
    const double r = static_cast<double>((pixel >> 16) & 0xFF), g = static_cast<double>((pixel >> 8) & 0xFF),
                 b = static_cast<double>(pixel & 0xFF);
    const double high = std::max({r, g, b}), low = std::min({r, g, b}), range = high - low;
    if (high < 40 || range < 0.15 * high) return false;
    double hue = high == r ? 60 * (g - b) / range : high == g ? 60 * (2 + (b - r) / range) : 60 * (4 + (r - g) / range);
    if (hue < 0) hue += 360;
    return std::abs(hue - 330) <= 25;
}

TEST(KeyShade, TellsTheKeysMixesFromTheBarsColours) {
    struct Case {
        unsigned long pixel;
        bool shade;
    };
    const Case cases[] = {
        {kKey, true},       {0xB65B89, true},  // the key, and the frame a style draws from it (darker by 140 %)
        {0xFFC0E0, true},   {0x5A2D44, true},  // mixed with white, with black
        {0xCB83C1, true},                      // a quarter of the blue fill in it
        {0x808080, false},  {0xEFEFEF, false}, {0x000000, false},  // greys, the palette's window, black
        {0x308CC6, false},  {0x00FF00, false}, {0x008000, false},  // the fill, the green behind, its shadow
        {0xFF0000, false},  {0xFF00FF, false},                     // red and magenta are other hues
        {0x201018, false},                                         // too dark to tell
    };
    for (const Case& c : cases) EXPECT_EQ(KeyShade(c.pixel), c.shade) << std::hex << c.pixel;
}

// The pixels of a screen area that are shades of the key colour.
int KeyShades(const std::vector<std::vector<unsigned long>>& screen) {
    int count = 0;
    for (const auto& row : screen) count += static_cast<int>(std::count_if(row.begin(), row.end(), KeyShade));
    return count;
}

class FloatingBarOnX11 : public apptest::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        // The bar's ticks, counted by the working-set trim each of them starts with.
        rt::win32::SetCallRecorder([this](const rt::win32::CallRecord& call) {
            if (call.function == "SetProcessWorkingSetSize") ++ticks_;
        });
        ASSERT_TRUE(rt::win32::OnX11Display()) << "run this test through run_with_wm.sh";
        ASSERT_TRUE(other_.Connected());
        managed_ = !other_.ManagerName().empty();
        std::cout << "window manager: " << (managed_ ? other_.ManagerName() : "none") << "\n";
    }
    void TearDown() override {
        rt::win32::SetCallRecorder({});
        AppFixture::TearDown();
    }

    // The window the user works in: the active one under a manager; on the bare server, where
    // nothing is active, the one with the keyboard focus.
    rt::win32::HWND UserWindow() const {
        return managed_ ? rt::win32::GetForegroundWindow() : static_cast<rt::win32::HWND>(other_.KeyboardFocus());
    }
    // The user turns to the window: through the manager, or on the bare server by its focus alone.
    void UserActivates(Window window) {
        if (managed_) {
            other_.Activate(window);
        } else {
            XSetInputFocus(other_.display(), window, RevertToParent, CurrentTime);
            XSync(other_.display(), False);
        }
    }

    // Starts a tomato with the bar shown at kBarLeft, kBarTop; answers the bar's handle once it is
    // on the screen.
    rt::win32::HWND StartTomatoWithTheBar() {
        Comp("ShowBarCheck").SetChecked(true);
        g_barLeft = kBarLeft;
        g_barTop = kBarTop;
        Comp("CategoryCombo").SetCurrentIndex(1);
        Comp("StartButton").Click();
        const rt::win32::HWND bar = rt::WindowHandle("FloatingBarWindow");
        EXPECT_NE(bar, 0u);
        EXPECT_TRUE(WaitFor([&] { return other_.Viewable(bar); }));
        return bar;
    }

    // Whether the screen shows the bar's progress part rather than the window behind it.
    bool BarShown(unsigned long behind) const {
        const auto screen = other_.Screen(kBarLeft, kBarTop, kProgressWidth, kBarHeight);
        if (screen.size() != static_cast<std::size_t>(kBarHeight)) return false;
        for (const auto& row : screen) {
            if (std::any_of(row.begin(), row.end(), [&](unsigned long pixel) { return Near(pixel, behind); })) {
                return false;
            }
        }
        return true;
    }

    x11test::OtherClient other_;
    bool managed_ = false;
    int ticks_ = 0;
};

TEST_F(FloatingBarOnX11, FloatsAboveTheActiveWindowWithoutEverTakingItsFocus) {
    StartProgram();
    const rt::win32::HWND main = rt::WindowHandle("MainWindow");
    if (!managed_) UserActivates(main);
    ASSERT_TRUE(WaitFor([&] { return UserWindow() == main; }));

    // Another program's always-on-top window lies where the bar will be (on the bare server a
    // plain window: there is no such state without a manager).
    const Window otherWindow = other_.CreateWindow(kBarLeft - 50, kBarTop - 50, 400, 100, kGreen, "other program");
    ASSERT_TRUE(WaitFor([&] { return other_.Viewable(otherWindow); }));
    if (managed_) {
        other_.MakeAbove(otherWindow);
        ASSERT_TRUE(WaitFor([&] { return other_.IsAbove(otherWindow); }));
    }

    // The user goes back to the main window and starts a tomato with the bar shown.
    UserActivates(main);
    ASSERT_TRUE(WaitFor([&] { return UserWindow() == main; }));
    const rt::win32::HWND bar = StartTomatoWithTheBar();
    ASSERT_NE(bar, 0u);

    // Opening the bar leaves the main window active.
    bool barActive = false;
    WaitUntil([&] { return UserWindow() == bar; }, barActive, 700);
    EXPECT_FALSE(barActive) << "the bar took the focus";
    EXPECT_EQ(UserWindow(), main);

    // The bar tells the manager what it is: no keyboard input, no taskbar or pager entry.
    EXPECT_FALSE(other_.AcceptsInput(bar)) << "the bar's input hint asks for the keyboard focus";
    EXPECT_FALSE(other_.HasProtocol(bar, "WM_TAKE_FOCUS")) << "the bar offers to take the focus";
    EXPECT_TRUE(WaitFor([&] { return other_.HasState(bar, "_NET_WM_STATE_SKIP_TASKBAR"); }, 1000))
        << "the bar is listed in the taskbar";
    EXPECT_TRUE(other_.HasState(bar, "_NET_WM_STATE_SKIP_PAGER")) << "the bar is listed in the pager";

    // The other program's window becomes the active one: within about a second it is no longer
    // always on top, and the bar is (on the bare server: the bar is on top of it).
    UserActivates(otherWindow);
    ASSERT_TRUE(WaitFor([&] { return UserWindow() == otherWindow; }));
    bool lost = false;
    const auto took = WaitUntil([&] {
        return (!managed_ || (!other_.IsAbove(otherWindow) && other_.IsAbove(bar))) &&
               other_.StackedAbove(bar, otherWindow);
    }, lost, 3000);
    EXPECT_TRUE(lost) << "other above: " << other_.IsAbove(otherWindow) << ", bar above: " << other_.IsAbove(bar)
                      << ", bar stacked above it: " << other_.StackedAbove(bar, otherWindow);
    EXPECT_LE(took.count(), 1500);
    std::cout << "the bar took the top after " << took.count() << " ms\n";

    // Three more ticks: the user's window stays the active one all along, and the bar never asks
    // for attention.
    const int ticksBefore = ticks_;
    int stolen = 0, flagged = 0;
    WaitFor([&] {
        stolen += UserWindow() != otherWindow;
        flagged += other_.HasState(bar, "_NET_WM_STATE_DEMANDS_ATTENTION");
        return ticks_ >= ticksBefore + 3;
    }, 5000);
    WaitFor([] { return false; }, 300);  // what the manager makes of the last tick
    EXPECT_GE(ticks_, ticksBefore + 3);
    EXPECT_EQ(stolen, 0) << "the active window was another one in " << stolen << " samples";
    EXPECT_EQ(UserWindow(), otherWindow);
    EXPECT_EQ(flagged, 0) << "the bar demanded attention in " << flagged << " samples";
    EXPECT_FALSE(other_.HasState(bar, "_NET_WM_STATE_DEMANDS_ATTENTION"));
    EXPECT_TRUE(other_.StackedAbove(bar, otherWindow)) << "the bar is under the other window";

    // The bar lies on top of the green window: its progress part is drawn, and its last 20
    // pixels, of the key colour, show the green window behind them (but for a shadow).
    bool settled = false;
    std::vector<std::vector<unsigned long>> screen;
    WaitUntil([&] {
        screen = other_.Screen(kBarLeft, kBarTop, kBarWidth, kBarHeight);
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
    EXPECT_EQ(KeyShades(screen), 0) << "shades of the key colour are left on the screen";

    // The user drags the bar by its progress part, as with a real mouse: it follows, the new
    // place is remembered, and the other window keeps the focus.
    const int dx = 80, dy = -60;
    ASSERT_TRUE(other_.Drag(kBarLeft + 60, kBarTop + 8, dx, dy, [] { QCoreApplication::processEvents(); }));
    EXPECT_TRUE(WaitFor([&] { return g_barLeft == kBarLeft + dx && g_barTop == kBarTop + dy; }))
        << "remembered " << g_barLeft << "," << g_barTop;
    x11test::Rect moved;
    EXPECT_TRUE(WaitFor([&] {
        moved = other_.Geometry(bar);
        return moved.x == kBarLeft + dx && moved.y == kBarTop + dy;
    })) << "the bar is at " << moved.x << "," << moved.y;
    EXPECT_EQ(UserWindow(), otherWindow) << "the drag activated the bar";
    EXPECT_FALSE(other_.HasState(bar, "_NET_WM_STATE_DEMANDS_ATTENTION"));

    // The tomato is abandoned: the bar goes within a second.
    Answer(5);
    Comp("StartButton").Click();
    EXPECT_TRUE(WaitFor([] { return rt::FindWindow("FloatingBarWindow") == nullptr; }, 1500));
}

// Where the user goes on working while another program's always-on-top window covers the bar.
enum class UserWorksIn { MainWindow, AnotherProgram };

class FloatingBarCovered : public FloatingBarOnX11, public testing::WithParamInterface<UserWorksIn> {};

TEST_P(FloatingBarCovered, RisesAboveAnotherProgramsAlwaysOnTopWindowThatTheUserIsNotUsing) {
    StartProgram();
    const rt::win32::HWND main = rt::WindowHandle("MainWindow");
    UserActivates(main);
    ASSERT_TRUE(WaitFor([&] { return UserWindow() == main; }));
    const rt::win32::HWND bar = StartTomatoWithTheBar();
    ASSERT_NE(bar, 0u);
    if (managed_) {
        ASSERT_TRUE(WaitFor([&] { return other_.IsAbove(bar); }));
    }
    // Half the tomato has gone: the bar shows its fill as well as its groove.
    AdvanceSeconds(750);
    rt::win32::HWND user = main;
    if (GetParam() == UserWorksIn::AnotherProgram) {
        user = other_.CreateWindow(50, 100, 300, 200, 0x808080, "the user's program");
        ASSERT_TRUE(WaitFor([&] { return other_.Viewable(user); }));
        UserActivates(user);
        ASSERT_TRUE(WaitFor([&] { return UserWindow() == user; }));
    }
    const Window focus = other_.KeyboardFocus();

    // Another program maps its always-on-top window over the bar. It takes no focus: the user
    // goes on working where they were.
    const Window otherWindow =
        other_.CreateWindow(kBarLeft - 50, kBarTop - 50, 400, 100, kGreen, "always on top", /*focusable=*/false);
    ASSERT_TRUE(WaitFor([&] { return other_.Viewable(otherWindow); }));
    if (managed_) {
        other_.MakeAbove(otherWindow);
        ASSERT_TRUE(WaitFor([&] { return other_.IsAbove(otherWindow); }));
    }
    const int coveredAt = ticks_;

    // Within two ticks the bar is above it again, on the screen too.
    int raisedAfter = -1;
    WaitFor([&] {
        if (other_.StackedAbove(bar, otherWindow) && BarShown(kGreen)) raisedAfter = ticks_ - coveredAt;
        return raisedAfter >= 0 || ticks_ > coveredAt + 4;
    }, 7000);
    ASSERT_GE(raisedAfter, 0) << "the bar stays under the other window, " << ticks_ - coveredAt << " ticks on";
    EXPECT_LE(raisedAfter, 2) << "the bar rose only after " << raisedAfter << " ticks";
    std::cout << "the bar rose above the other window after " << raisedAfter << " ticks\n";

    // Two more ticks: the bar stays on top without asking the manager for anything more, the
    // user's focus never moves, nothing is flagged, and the other window, which is not the
    // foreground, keeps its own always-on-top state.
    other_.WatchRequests();
    const int ticksBefore = ticks_;
    int under = 0, moved = 0, flagged = 0, lostAbove = 0;
    WaitFor([&] {
        under += !other_.StackedAbove(bar, otherWindow);
        moved += other_.KeyboardFocus() != focus || (managed_ && rt::win32::GetForegroundWindow() != user);
        flagged += other_.HasState(bar, "_NET_WM_STATE_DEMANDS_ATTENTION") ||
                   other_.HasState(main, "_NET_WM_STATE_DEMANDS_ATTENTION");
        lostAbove += managed_ && !other_.IsAbove(otherWindow);
        return ticks_ >= ticksBefore + 2;
    }, 5000);
    WaitFor([] { return false; }, 300);  // what the manager makes of the last tick
    EXPECT_GE(ticks_, ticksBefore + 2);
    EXPECT_EQ(under, 0) << "the bar was under the other window in " << under << " samples";
    EXPECT_EQ(moved, 0) << "the focus was elsewhere in " << moved << " samples";
    EXPECT_EQ(other_.KeyboardFocus(), focus);
    EXPECT_EQ(flagged, 0) << "a window of the program demanded attention in " << flagged << " samples";
    EXPECT_EQ(lostAbove, 0) << "the other window lost its always-on-top state in " << lostAbove << " samples";
    EXPECT_EQ(other_.TakeRequests(bar), 0) << "the bar on top still asks the manager";

    // Nothing of the bar on the screen is a shade of its key colour: its area and a few pixels
    // around it, all over the green window. The fill has been drawn by now.
    rt::Component* progress = rt::FindComponent("FloatingBarWindow", "FloatingProgressBar");
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->Position(), 750);
    constexpr int kAround = 4;
    std::vector<std::vector<unsigned long>> screen;
    int shades = -1;
    WaitFor([&] {
        screen = other_.Screen(kBarLeft - kAround, kBarTop - kAround, kBarWidth + 2 * kAround, kBarHeight + 2 * kAround);
        shades = screen.empty() ? -1 : KeyShades(screen);
        return shades == 0;
    }, 1500);
    std::cout << "shades of the key colour in the bar's area: " << shades << "\n";
    EXPECT_EQ(shades, 0);
    for (std::size_t y = 0; y < screen.size() && shades > 0; ++y) {
        const auto found = std::find_if(screen[y].begin(), screen[y].end(), KeyShade);
        if (found == screen[y].end()) continue;
        ADD_FAILURE() << std::hex << "first shade 0x" << *found << std::dec << " at "
                      << found - screen[y].begin() - kAround << "," << static_cast<int>(y) - kAround << " of the bar";
        break;
    }
    EXPECT_TRUE(BarShown(kGreen));

    Answer(5);
    Comp("StartButton").Click();
    EXPECT_TRUE(WaitFor([] { return rt::FindWindow("FloatingBarWindow") == nullptr; }, 1500));
}

INSTANTIATE_TEST_SUITE_P(, FloatingBarCovered, testing::Values(UserWorksIn::MainWindow, UserWorksIn::AnotherProgram),
                         [](const testing::TestParamInfo<UserWorksIn>& info) {
                             return info.param == UserWorksIn::MainWindow ? "UserInTheMainWindow"
                                                                          : "UserInAnotherProgram";
                         });

}  // namespace

// The floating bar's reset button (进度条归位) of the whole program on a real X server, under each
// window manager and without one (run_with_wm.sh): a click with the mouse puts the open bar in the
// screen's top left corner, 10,10, where the X server then holds it, and that is the place the
// program remembers, opens the bar at again and saves.
//
// xfwm4 keeps at least a title bar's height of every window it moves below the screen's top edge:
// the title height of its theme, and at least 15 pixels, also for a window without a frame. The bar
// is only 16 pixels tall, so xfwm4 stops its move at a top of 13 with the default theme, and the
// program remembers where the bar is. A window that opens in the corner may stay there.

#include <QtCore/QCoreApplication>
#include <QtTest/QTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QWidget>
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>

#include "app_fixture.h"
#include "globals.h"
#include "runtime/messagebox.h"
#include "runtime/win32.h"

// X11 last: its macros (None, Bool, Status) must not meet the headers above.
#include "other_x_client.h"

// For the test's messages (QPoint lives in the global namespace).
std::ostream& operator<<(std::ostream& out, const QPoint& p) { return out << p.x() << "," << p.y(); }

namespace {

constexpr int kCorner = 10;      // where the reset puts the bar
constexpr int kBarHeight = 16;   // the bar window's design height
constexpr int kMinVisible = 15;  // the least of a moved window that xfwm4 keeps below the top edge

class BarResetOnX11 : public apptest::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_TRUE(rt::win32::OnX11Display()) << "run this test through run_with_wm.sh";
        ASSERT_TRUE(other.Connected());
        // The bar's ticks, counted by the working-set trim each of them starts with.
        rt::win32::SetCallRecorder([this](const rt::win32::CallRecord& call) {
            if (call.function == "SetProcessWorkingSetSize") ++ticks_;
        });
    }
    void TearDown() override {
        rt::win32::SetCallRecorder({});
        AppFixture::TearDown();
    }

    // Starts the program and a tomato with the bar shown at the remembered place; answers the
    // bar's window once the X server shows it there.
    unsigned long StartTomatoWithBarAt(int left, int top) {
        StartProgram();
        // The main window framed, and the program told where its client area now lies (where its
        // button is), as a user would find it.
        const auto main = static_cast<unsigned long>(rt::WindowHandle("MainWindow"));
        const QWidget* area = rt::FindWindow("MainWindow")->Widget();
        x11test::FrameExtents frame;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const x11test::Rect x = other.Geometry(main);
            return other.Viewable(main) && other.Frame(main, frame) &&
                   QRect(area->mapToGlobal(QPoint(0, 0)), area->size()) == QRect(x.x, x.y, x.width, x.height);
        }));
        Comp("ShowBarCheck").SetChecked(true);
        g_barLeft = left;
        g_barTop = top;
        Comp("CategoryCombo").SetCurrentIndex(1);
        Comp("StartButton").Click();
        const auto bar = static_cast<unsigned long>(rt::WindowHandle("FloatingBarWindow"));
        EXPECT_NE(bar, 0u);
        EXPECT_TRUE(QTest::qWaitFor([&] { return other.Viewable(bar) && Shown(bar) == QPoint(left, top); }))
            << "the bar opened at " << Shown(bar);
        return bar;
    }

    // Where the X server shows the window.
    QPoint Shown(unsigned long window) const {
        const x11test::Rect r = other.Geometry(window);
        return {r.x, r.y};
    }

    // The corner as far as the manager moves a window of the bar's height there (see above).
    QPoint CornerTheManagerAllows() const {
        if (other.ManagerName() != "Xfwm4") return {kCorner, kCorner};
        // xfwm4 frames the main window with its theme's title bar.
        x11test::FrameExtents main;
        EXPECT_TRUE(other.Frame(static_cast<unsigned long>(rt::WindowHandle("MainWindow")), main));
        const int minVisible = std::max<int>(static_cast<int>(main.top), kMinVisible);
        return {kCorner, std::max(kCorner, minVisible - kBarHeight)};
    }

    // The window's place as the program reads it, and as it remembers the bar's.
    static QPoint Read(const char* window) {
        const rt::Window* w = rt::FindWindow(window);
        return w != nullptr ? QPoint(w->Left(), w->Top()) : QPoint(-1, -1);
    }
    static QPoint Remembered() { return {g_barLeft, g_barTop}; }

    // As the user's mouse would (XTest): moves the pointer onto the middle of the button and
    // clicks the left button, each step once the program has seen the one before. Answers what
    // did not happen, or nothing.
    std::string ClickWithMouse(const QWidget* widget) {
        const auto* button = qobject_cast<const QAbstractButton*>(widget);
        if (button == nullptr) return "no button";
        Display* display = other.display();
        const QPoint at = button->mapToGlobal(button->rect().center());
        std::ostringstream where;
        where << " at " << at << " (window at " << Shown(rt::WindowHandle("MainWindow")) << ")";
        // A pointer that arrives while the manager holds it may go unnoticed: it is moved a pixel
        // now and then, as a hand does.
        int polls = 0;
        const bool came = QTest::qWaitFor([&] {
            if (polls++ % 25 == 0) {
                const int x = at.x() + (polls / 25) % 2;
                XTestFakeMotionEvent(display, DefaultScreen(display), x, at.y(), CurrentTime);
                XSync(display, False);
            }
            return button->underMouse();
        });
        if (!came) return "the pointer never came" + where.str();
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XSync(display, False);
        if (!QTest::qWaitFor([&] { return button->isDown(); })) return "the button was not pressed" + where.str();
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
        if (!QTest::qWaitFor([&] { return !button->isDown(); })) return "the button was not released" + where.str();
        return {};
    }

    // Runs the program's events until the bar has ticked n more times (each tick also asks for the
    // topmost state), so that the manager's answers to what came before have arrived.
    void WaitForTicks(int n) {
        const int until = ticks_ + n;
        EXPECT_TRUE(QTest::qWaitFor([&] { return ticks_ >= until; }, 1000 * n + 3000));
    }

    x11test::OtherClient other;
    int ticks_ = 0;
};

TEST_F(BarResetOnX11, AClickPutsTheBarInTheCornerAndThatIsWhereItIsRemembered) {
    const unsigned long bar = StartTomatoWithBarAt(400, 300);
    ASSERT_NE(bar, 0u);
    const QPoint corner = CornerTheManagerAllows();
    std::cout << "window manager: " << (other.Managed() ? other.ManagerName() : "none") << ", corner " << corner
              << "\n";

    // The user clicks the button with the mouse.
    ASSERT_EQ(ClickWithMouse(Comp("ResetBarButton").Widget()), "");

    EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(bar) == corner && Remembered() == corner; }))
        << "shown at " << Shown(bar) << ", remembered " << Remembered();
    // It stays there, and the program agrees with the X server.
    WaitForTicks(2);
    EXPECT_EQ(Shown(bar), corner);
    EXPECT_EQ(Read("FloatingBarWindow"), corner);
    EXPECT_EQ(Remembered(), corner);

    // Shown anew (the box unticked and ticked again), the bar opens where it was.
    Comp("ShowBarCheck").Click();
    ASSERT_TRUE(QTest::qWaitFor([] { return rt::FindWindow("FloatingBarWindow") == nullptr; }));
    Comp("ShowBarCheck").Click();
    const auto reopened = static_cast<unsigned long>(rt::WindowHandle("FloatingBarWindow"));
    ASSERT_NE(reopened, 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.Viewable(reopened) && Shown(reopened) == corner; }))
        << "reopened at " << Shown(reopened);
    WaitForTicks(1);
    EXPECT_EQ(Remembered(), corner);

    // The close attempt saves it (the tomato runs on).
    Answer(rt::kAnswerNo);
    EXPECT_FALSE(CloseProgram());
    EXPECT_EQ(InfoValue("tag_left"), std::to_string(corner.x()));
    EXPECT_EQ(InfoValue("tag_top"), std::to_string(corner.y()));
}

TEST_F(BarResetOnX11, ABarThatOpensInTheCornerStaysThere) {
    // Every manager, xfwm4 too, leaves a new window where it asks to be.
    const unsigned long bar = StartTomatoWithBarAt(kCorner, kCorner);
    ASSERT_NE(bar, 0u);
    WaitForTicks(2);
    EXPECT_EQ(Shown(bar), QPoint(kCorner, kCorner));
    EXPECT_EQ(Remembered(), QPoint(kCorner, kCorner));
}

}  // namespace

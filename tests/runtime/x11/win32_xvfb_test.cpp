// The window-function layer on a real X server with an EWMH window manager (run by
// run_with_wm.sh): the active window, the always-on-top state of another client's window, and
// the colour key of an own window as a window shape.

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtGui/QPainter>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <chrono>
#include <functional>
#include <vector>

#include "fake_window.h"
#include "runtime/win32.h"
#include "runtime/window_focus.h"

// X11 last: its macros (None, Bool, Status) must not meet the headers above.
#include "other_x_client.h"

#include <X11/extensions/shape.h>

namespace w = rt::win32;

namespace {

constexpr unsigned kNoSizeNoMove = w::SWP_NOSIZE | w::SWP_NOMOVE;

// Runs Qt's events and lets the X server catch up until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (true) {
        QCoreApplication::processEvents();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        QThread::msleep(10);
    }
}

using x11test::OtherClient;

struct Box {
    int x, y, width, height;
    friend bool operator==(const Box&, const Box&) = default;
};

// The rectangles of a window's shape of the kind (ShapeBounding, ShapeInput), as the X server holds them.
std::vector<Box> Shape(Display* display, Window window, int kind) {
    int count = 0, ordering = 0;
    XRectangle* rectangles = XShapeGetRectangles(display, window, kind, &count, &ordering);
    std::vector<Box> boxes;
    for (int i = 0; i < count; ++i) {
        boxes.push_back({rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height});
    }
    if (rectangles != nullptr) XFree(rectangles);
    return boxes;
}

class OnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(w::OnX11Display()) << "run this test through run_with_wm.sh";
        ASSERT_NE(other.display(), nullptr);
    }
    OtherClient other;
};

TEST_F(OnX11, ForegroundWindowIsTheActiveWindowOrZero) {
    // Nothing has been mapped yet in this server: the manager names no active window.
    EXPECT_EQ(w::GetForegroundWindow(), 0u);

    const Window first = other.CreateWindow(100, 100, 200, 100, 0x00FF00);
    const Window second = other.CreateWindow(400, 100, 200, 100, 0x0000FF);
    // A manager activates only the windows it has taken on.
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(first) && other.Viewable(second); }));
    for (Window window : {first, second, first}) {
        // A manager busy with a new window may drop the request (xfwm4, under load): it is asked
        // again every half second.
        int polls = 0;
        EXPECT_TRUE(WaitUntil([&] {
            if (polls++ % 50 == 0) other.Activate(window);
            return w::GetForegroundWindow() == window;
        }, 5000)) << "active: " << w::GetForegroundWindow() << ", wanted: " << window;
    }
}

TEST_F(OnX11, TopmostOfAnotherClientsWindowComesAndGoes) {
    const Window window = other.CreateWindow(100, 300, 200, 100, 0xFF0000);
    other.MakeAbove(window);
    ASSERT_TRUE(WaitUntil([&] { return other.IsAbove(window); }));

    EXPECT_TRUE(w::SetWindowPos(window, w::HWND_NOTOPMOST, 0, 0, 0, 0, kNoSizeNoMove));
    EXPECT_TRUE(WaitUntil([&] { return !other.IsAbove(window); }));
    EXPECT_TRUE(w::SetWindowPos(window, w::HWND_TOPMOST, 0, 0, 0, 0, kNoSizeNoMove));
    EXPECT_TRUE(WaitUntil([&] { return other.IsAbove(window); }));

    // Requests other than the topmost change are not carried out.
    EXPECT_FALSE(w::SetWindowPos(window, w::HWND_NOTOPMOST, 5, 5, 0, 0, w::SWP_NOSIZE));
    EXPECT_FALSE(w::SetWindowPos(window, 0 /* top */, 0, 0, 0, 0, kNoSizeNoMove));
    EXPECT_FALSE(w::SetWindowPos(0, w::HWND_TOPMOST, 0, 0, 0, 0, kNoSizeNoMove));
    QTest::qWait(200);
    EXPECT_TRUE(other.IsAbove(window));
}

TEST_F(OnX11, TopmostIsAskedForOnlyWhenItChanges) {
    const Window window = other.CreateWindow(100, 450, 200, 100, 0x808080);
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(window); }));
    other.WatchRequests();
    struct Step {
        w::HWND insertAfter;
        bool above;    // the state afterwards
        int requests;  // _NET_WM_STATE requests sent for it
    };
    const Step steps[] = {{w::HWND_NOTOPMOST, false, 0}, {w::HWND_TOPMOST, true, 1}, {w::HWND_TOPMOST, true, 0},
                          {w::HWND_TOPMOST, true, 0},    {w::HWND_NOTOPMOST, false, 1}, {w::HWND_NOTOPMOST, false, 0}};
    int i = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "step " << i++);
        EXPECT_TRUE(w::SetWindowPos(window, step.insertAfter, 0, 0, 0, 0, kNoSizeNoMove));
        EXPECT_TRUE(WaitUntil([&] { return other.IsAbove(window) == step.above; }));
        QTest::qWait(150);  // time for a request that should not have been sent
        EXPECT_EQ(other.TakeRequests(window, "_NET_WM_STATE"), step.requests);
    }
}

TEST_F(OnX11, AWindowThatNeverTakesTheFocusSaysSoAndStaysOutOfTheTaskbar) {
    QWidget active;
    active.setGeometry(100, 100, 300, 200);
    active.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&active));
    const auto activeId = static_cast<Window>(active.winId());
    other.Activate(activeId);
    ASSERT_TRUE(WaitUntil([&] { return w::GetForegroundWindow() == activeId; }));

    x11test::FakeWindow bar;
    bar.Widget()->setWindowFlags(Qt::FramelessWindowHint);
    bar.Widget()->move(500, 500);
    ASSERT_TRUE(rt::NeverTakeFocus(&bar));
    ASSERT_TRUE(rt::KeepOutOfTaskbar(&bar));
    bar.Widget()->show();
    const auto id = static_cast<Window>(bar.Widget()->winId());
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(id); }));

    auto keptOut = [&] {
        return other.HasState(id, "_NET_WM_STATE_SKIP_TASKBAR") && other.HasState(id, "_NET_WM_STATE_SKIP_PAGER");
    };
    EXPECT_FALSE(other.AcceptsInput(id));
    EXPECT_FALSE(other.HasProtocol(id, "WM_TAKE_FOCUS"));
    EXPECT_TRUE(other.HasProtocol(id, "WM_DELETE_WINDOW"));  // the others stay
    EXPECT_TRUE(WaitUntil(keptOut));
    QTest::qWait(200);
    EXPECT_EQ(w::GetForegroundWindow(), activeId);

    // A click on it leaves the active window where it was.
    ASSERT_TRUE(other.Drag(510, 505, 0, 0, [] { QCoreApplication::processEvents(); }));
    QTest::qWait(200);
    EXPECT_EQ(w::GetForegroundWindow(), activeId);

    // Flagged for attention, as managers flag a window they map without activating it: another
    // client's window keeps the flag, this one has it taken off. That window takes no focus either,
    // since a manager flags no focused window and may focus a new one late. Some managers (mutter,
    // metacity) flag only a window that something covers, so an always-on-top window lies over
    // both.
    const Window ordinary = other.CreateWindow(700, 500, 100, 50, 0x808080, "ordinary", /*focusable=*/false);
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(ordinary); }));
    const Window cover = other.CreateWindow(490, 495, 320, 30, 0x404040, "cover", /*focusable=*/false);
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(cover); }));
    other.MakeAbove(cover);
    ASSERT_TRUE(WaitUntil([&] { return other.IsAbove(cover); }));
    const long attention = static_cast<long>(other.Intern("_NET_WM_STATE_DEMANDS_ATTENTION"));
    for (Window window : {ordinary, id}) other.AskManager(window, "_NET_WM_STATE", 1 /* add */, attention, 0, 1);
    ASSERT_TRUE(WaitUntil([&] { return other.HasState(ordinary, "_NET_WM_STATE_DEMANDS_ATTENTION"); }));
    QTest::qWait(200);
    EXPECT_TRUE(other.HasState(ordinary, "_NET_WM_STATE_DEMANDS_ATTENTION"));
    EXPECT_FALSE(other.HasState(id, "_NET_WM_STATE_DEMANDS_ATTENTION"));

    // The manager drops the states of a window taken off the screen; shown again once the manager
    // is done with it, it is still out.
    bar.Widget()->hide();
    ASSERT_TRUE(WaitUntil([&] { return !other.Viewable(id) && other.Withdrawn(id); }));
    bar.Widget()->show();
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(id); }));
    EXPECT_TRUE(WaitUntil(keptOut));
    EXPECT_FALSE(other.HasProtocol(id, "WM_TAKE_FOCUS"));
}

// A window of key colour with a bar of another colour at its left.
class KeyedWindow final : public QWidget {
public:
    KeyedWindow() {
        setWindowFlags(Qt::FramelessWindowHint);
        setGeometry(300, 600, 220, 16);
    }
    void SetBarWidth(int width) {
        barWidth_ = width;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0xFF, 0x80, 0xC0));
        painter.fillRect(0, 0, barWidth_, height(), QColor(0x20, 0x90, 0x30));
    }

private:
    int barWidth_ = 200;
};

TEST_F(OnX11, ColourKeyCutsTheShapeAndFollowsRepaints) {
    using Boxes = std::vector<Box>;
    KeyedWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto handle = static_cast<w::HWND>(window.winId());

    // Without the layered style the key is refused, as on Windows.
    EXPECT_FALSE(w::SetLayeredWindowAttributes(handle, 0xC080FF, 0, w::LWA_COLORKEY));
    EXPECT_EQ(w::GetWindowLongA(handle, w::GWL_EXSTYLE), 0);
    EXPECT_EQ(w::SetWindowLongA(handle, w::GWL_EXSTYLE, w::WS_EX_LAYERED), 0);
    EXPECT_EQ(w::GetWindowLongA(handle, w::GWL_EXSTYLE), w::WS_EX_LAYERED);
    ASSERT_TRUE(w::SetLayeredWindowAttributes(handle, 0xC080FF, 0, w::LWA_COLORKEY));

    for (int kind : {ShapeBounding, ShapeInput}) {
        SCOPED_TRACE(kind);
        EXPECT_TRUE(WaitUntil([&] { return Shape(other.display(), handle, kind) == Boxes{{0, 0, 200, 16}}; }));
    }
    window.SetBarWidth(120);
    EXPECT_TRUE(WaitUntil([&] { return Shape(other.display(), handle, ShapeBounding) == Boxes{{0, 0, 120, 16}}; }));
    EXPECT_TRUE(WaitUntil([&] { return Shape(other.display(), handle, ShapeInput) == Boxes{{0, 0, 120, 16}}; }));

    // Taking the layered style off gives the whole window back.
    EXPECT_EQ(w::SetWindowLongA(handle, w::GWL_EXSTYLE, 0), w::WS_EX_LAYERED);
    EXPECT_TRUE(WaitUntil([&] { return Shape(other.display(), handle, ShapeBounding) == Boxes{{0, 0, 220, 16}}; }));
    window.SetBarWidth(60);
    QTest::qWait(200);
    EXPECT_EQ(Shape(other.display(), handle, ShapeBounding), (Boxes{{0, 0, 220, 16}}));
}

TEST_F(OnX11, ColourKeyIsRefusedForAnotherClientsWindow) {
    const Window window = other.CreateWindow(600, 300, 100, 100, 0xFF80C0);
    w::SetWindowLongA(window, w::GWL_EXSTYLE, w::WS_EX_LAYERED);
    EXPECT_FALSE(w::SetLayeredWindowAttributes(window, 0xC080FF, 0, w::LWA_COLORKEY));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

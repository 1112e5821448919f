// The window-function layer on a real X server with an EWMH window manager (run by
// run_with_wm.sh): the active window, the always-on-top state of another client's window, and
// the colour key of an own window as a window shape.

#include <gtest/gtest.h>

#include <QtCore/QAbstractNativeEventFilter>
#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QWindow>
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
#include <xcb/xcb.h>

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

// Lets the application handle all that the X server has sent it so far: another client changes a
// marker property of the root window, and Qt's events run until its notification has come
// through, which comes after everything sent before it.
class CatchUp final : public QAbstractNativeEventFilter {
public:
    explicit CatchUp(OtherClient& other) : other_(other), marker_(other.Intern("RT_TEST_MARKER")) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~CatchUp() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool Wait() {
        seen_ = false;
        const long value = 1;
        XChangeProperty(other_.display(), DefaultRootWindow(other_.display()), marker_, XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&value), 1);
        XSync(other_.display(), False);
        return WaitUntil([&] { return seen_; });
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t*>(event)->atom == marker_) {
            seen_ = true;
        }
        return false;
    }

private:
    OtherClient& other_;
    const Atom marker_;
    bool seen_ = false;
};

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

    // Shows one of this program's windows and makes it the active one; its id, or 0 when that fails.
    Window ShowActive(QWidget& widget) {
        widget.setGeometry(100, 100, 300, 200);
        widget.show();
        if (!QTest::qWaitForWindowExposed(&widget)) return 0;
        const auto id = static_cast<Window>(widget.winId());
        other.Activate(id);
        return WaitUntil([&] { return w::GetForegroundWindow() == id; }) ? id : 0;
    }

    // Shows a borderless bar at 500,500 that never takes the focus (and stays out of the taskbar
    // when asked to); its id once it is on the screen, or 0.
    Window ShowBar(x11test::FakeWindow& bar, bool outOfTaskbar) {
        bar.Widget()->setWindowFlags(Qt::FramelessWindowHint);
        bar.Widget()->move(500, 500);
        if (!rt::NeverTakeFocus(&bar) || (outOfTaskbar && !rt::KeepOutOfTaskbar(&bar))) return 0;
        bar.Widget()->show();
        const auto id = static_cast<Window>(bar.Widget()->winId());
        return WaitUntil([&] { return other.Viewable(id); }) ? id : 0;
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

TEST_F(OnX11, TopmostAgainGoesAboveAWindowThatCoversItAndOnlyThen) {
    // No window here takes the focus: a manager may keep a window entering the always-on-top
    // layer under the focused one (openbox).
    const bool managed = !other.ManagerName().empty();
    const Window window = other.CreateWindow(600, 100, 200, 100, 0x0000FF, "topmost", /*focusable=*/false);
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(window); }));
    ASSERT_TRUE(w::SetWindowPos(window, w::HWND_TOPMOST, 0, 0, 0, 0, kNoSizeNoMove));
    if (managed) {
        ASSERT_TRUE(WaitUntil([&] { return other.IsAbove(window); }));
    }

    // Other windows come, one after the other: always-on-top ones above it (on the bare server
    // plain windows, stacked above it by their map), an ordinary one under it. Only one that lies
    // above it and covers part of it makes it rise.
    struct Case {
        const char* what;
        int x, y;
        bool above, rises;
    };
    const Case cases[] = {{"above it, beside it", 850, 100, true, false},
                          {"under it, over a part of it", 650, 120, false, false},
                          {"above it, over a corner of it", 790, 190, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Window cover = other.CreateWindow(c.x, c.y, 200, 100, 0x00FF00, c.what, /*focusable=*/false);
        ASSERT_TRUE(WaitUntil([&] { return other.Viewable(cover); }));
        if (!c.above) {
            XLowerWindow(other.display(), cover);
        } else if (managed) {
            other.MakeAbove(cover);
            ASSERT_TRUE(WaitUntil([&] { return other.IsAbove(cover); }));
        }
        ASSERT_TRUE(WaitUntil([&] { return other.StackedAbove(cover, window) == c.above; }));
        other.WatchRequests();
        EXPECT_TRUE(w::SetWindowPos(window, w::HWND_TOPMOST, 0, 0, 0, 0, kNoSizeNoMove));
        if (c.rises) {
            EXPECT_TRUE(WaitUntil([&] { return other.StackedAbove(window, cover); }));
        } else {
            QTest::qWait(200);  // time for a raise that should not have been asked for
            EXPECT_EQ(other.StackedAbove(cover, window), c.above);
            EXPECT_EQ(other.TakeRequests(window), 0);
        }
        EXPECT_EQ(other.IsAbove(window), managed);
    }
}

TEST_F(OnX11, AWindowThatNeverTakesTheFocusSaysSoAndStaysOutOfTheTaskbar) {
    QWidget active;
    const Window activeId = ShowActive(active);
    ASSERT_NE(activeId, 0u);
    x11test::FakeWindow bar;
    const Window id = ShowBar(bar, /*outOfTaskbar=*/true);
    ASSERT_NE(id, 0u);

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

TEST_F(OnX11, AFocusForcedOntoAWindowThatNeverTakesItGoesBackToTheUsersLatestWindow) {
    // One of this program's windows is active when the bar is shown.
    QWidget own;
    const Window ownId = ShowActive(own);
    ASSERT_NE(ownId, 0u);
    x11test::FakeWindow bar;
    const Window id = ShowBar(bar, /*outOfTaskbar=*/false);
    ASSERT_NE(id, 0u);

    // Then the user turns to another program's window.
    const Window user = other.CreateWindow(100, 400, 300, 200, 0x808080, "the user's program");
    ASSERT_TRUE(WaitUntil([&] { return other.Viewable(user); }));
    other.Activate(user);
    ASSERT_TRUE(WaitUntil([&] { return w::GetForegroundWindow() == user; }));
    ASSERT_TRUE(CatchUp(other).Wait());  // as the user works in it a while

    // Something puts the keyboard focus on the bar all the same, as a manager may: it goes back to
    // the user's window, not to the one that was active when the bar was shown.
    bool barFocused = false;
    const QMetaObject::Connection watch = QObject::connect(
        qGuiApp, &QGuiApplication::focusWindowChanged,
        [&](QWindow* focus) { barFocused = barFocused || focus == bar.Widget()->windowHandle(); });
    XSetInputFocus(other.display(), id, RevertToParent, CurrentTime);
    XSync(other.display(), False);
    EXPECT_TRUE(WaitUntil([&] { return barFocused; })) << "the bar never had the focus";
    EXPECT_TRUE(WaitUntil([&] { return other.KeyboardFocus() == user && w::GetForegroundWindow() == user; }))
        << "focus on " << other.KeyboardFocus() << ", active " << w::GetForegroundWindow() << "; the user's window "
        << user << ", the bar " << id << ", the first window " << ownId;
    QObject::disconnect(watch);
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

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
#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include "runtime/win32.h"

// X11 last: its macros (None, Bool, Status) must not meet the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
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

// Another X client: its own connection, as another program would have.
class OtherClient {
public:
    OtherClient() : display_(XOpenDisplay(nullptr)) {}
    ~OtherClient() {
        for (Window window : windows_) XDestroyWindow(display_, window);
        XCloseDisplay(display_);
    }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    Display* display() const { return display_; }

    Window CreateWindow(int x, int y, int width, int height, unsigned long pixel) {
        Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, width, height, 0, 0, pixel);
        XStoreName(display_, window, "other client");
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = x;
        hints.y = y;
        hints.width = width;
        hints.height = height;
        XSetWMNormalHints(display_, window, &hints);
        XMapWindow(display_, window);
        XSync(display_, False);
        windows_.push_back(window);
        return window;
    }

    Atom Intern(const char* name) const { return XInternAtom(display_, name, False); }

    // A client message to the root window, as EWMH has clients and pagers ask the manager.
    void AskManager(Window window, const char* type, long l0, long l1 = 0, long l2 = 0, long l3 = 0) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = Intern(type);
        event.xclient.format = 32;
        event.xclient.data.l[0] = l0;
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[2] = l2;
        event.xclient.data.l[3] = l3;
        XSendEvent(display_, DefaultRootWindow(display_), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(display_, False);
    }
    void Activate(Window window) { AskManager(window, "_NET_ACTIVE_WINDOW", 2 /* pager */, CurrentTime); }
    void MakeAbove(Window window) {
        AskManager(window, "_NET_WM_STATE", 1 /* add */, static_cast<long>(Intern("_NET_WM_STATE_ABOVE")), 0, 1);
    }

    bool HasState(Window window, const char* state) const {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool found = false;
        if (XGetWindowProperty(display_, window, Intern("_NET_WM_STATE"), 0, 64, False, XA_ATOM, &type, &format,
                               &count, &after, &data) == Success && data != nullptr) {
            const auto* atoms = reinterpret_cast<const unsigned long*>(data);
            found = std::find(atoms, atoms + count, Intern(state)) != atoms + count;
        }
        if (data != nullptr) XFree(data);
        return found;
    }
    bool IsAbove(Window window) const { return HasState(window, "_NET_WM_STATE_ABOVE"); }

    struct Box {
        int x, y, width, height;
        friend bool operator==(const Box&, const Box&) = default;
    };
    std::vector<Box> Shape(Window window, int kind) const {
        int count = 0, ordering = 0;
        XRectangle* rectangles = XShapeGetRectangles(display_, window, kind, &count, &ordering);
        std::vector<Box> boxes;
        for (int i = 0; i < count; ++i) {
            boxes.push_back({rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height});
        }
        if (rectangles != nullptr) XFree(rectangles);
        return boxes;
    }

private:
    Display* display_;
    std::vector<Window> windows_;
};

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
    for (Window window : {first, second, first}) {
        other.Activate(window);
        EXPECT_TRUE(WaitUntil([&] { return w::GetForegroundWindow() == window; }))
            << "active: " << w::GetForegroundWindow() << ", wanted: " << window;
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
    using Boxes = std::vector<OtherClient::Box>;
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
        EXPECT_TRUE(WaitUntil([&] { return other.Shape(handle, kind) == Boxes{{0, 0, 200, 16}}; }));
    }
    window.SetBarWidth(120);
    EXPECT_TRUE(WaitUntil([&] { return other.Shape(handle, ShapeBounding) == Boxes{{0, 0, 120, 16}}; }));
    EXPECT_TRUE(WaitUntil([&] { return other.Shape(handle, ShapeInput) == Boxes{{0, 0, 120, 16}}; }));

    // Taking the layered style off gives the whole window back.
    EXPECT_EQ(w::SetWindowLongA(handle, w::GWL_EXSTYLE, 0), w::WS_EX_LAYERED);
    EXPECT_TRUE(WaitUntil([&] { return other.Shape(handle, ShapeBounding) == Boxes{{0, 0, 220, 16}}; }));
    window.SetBarWidth(60);
    QTest::qWait(200);
    EXPECT_EQ(other.Shape(handle, ShapeBounding), (Boxes{{0, 0, 220, 16}}));
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

// Another X client for tests on a real X server: a connection of its own, as another program
// would have, with plain windows and the EWMH requests pagers and clients send the manager.
// Include it after Qt and the project's headers: X11's macros (None, Bool, Status) must not
// meet them.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace x11test {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// _NET_FRAME_EXTENTS: the frame's width on each side of a managed window.
struct FrameExtents {
    long left = 0, right = 0, top = 0, bottom = 0;
};

class OtherClient {
public:
    OtherClient() : display_(XOpenDisplay(nullptr)) {}
    ~OtherClient() {
        if (display_ == nullptr) return;
        for (Window window : windows_) XDestroyWindow(display_, window);
        XSync(display_, False);
        // The X server may give the next client the same window ids: until the manager has let
        // these go, it would take a new window for an old one (mutter does, with its place).
        for (int i = 0; i < 200 && std::any_of(windows_.begin(), windows_.end(),
                                                [&](Window window) { return StackingIndex(window) >= 0; });
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Nor is the connection closed before the process ends: the server would hand the next
        // client the same ids, and xfwm4 under load still took a new window for an old one after
        // that wait (1 run in 30). Kept open with no events asked for, it costs nothing.
        XSelectInput(display_, DefaultRootWindow(display_), NoEventMask);
        XSync(display_, False);
        struct Kept {
            std::vector<Display*> displays;
            ~Kept() {
                for (Display* display : displays) XCloseDisplay(display);
            }
        };
        static Kept kept;
        kept.displays.push_back(display_);
    }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    bool Connected() const { return display_ != nullptr; }
    Display* display() const { return display_; }

    // Maps a plain window of solid colour where the size hints ask for it; it lives as long as
    // the client. One that is not focusable asks the manager never to give it the focus.
    Window CreateWindow(int x, int y, int width, int height, unsigned long pixel, const char* name = "other client",
                        bool focusable = true) {
        Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, width, height, 0, 0, pixel);
        XStoreName(display_, window, name);
        if (!focusable) {
            XWMHints input{};
            input.flags = InputHint;
            input.input = False;
            XSetWMHints(display_, window, &input);
        }
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
    // From now on the client also sees what other clients ask the manager (client messages sent
    // to the root window).
    void WatchRequests() {
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
    }
    // How many requests of the type (such as "_NET_WM_STATE"; any type when none is named) were
    // asked for the window since the last call; other events seen are dropped.
    int TakeRequests(Window window, const char* type = nullptr) {
        XSync(display_, False);
        int count = 0;
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            count += event.type == ClientMessage && event.xclient.window == window &&
                     (type == nullptr || event.xclient.message_type == Intern(type));
        }
        return count;
    }

    // As a pager or the user's click would: the window becomes the active one.
    void Activate(Window window) { AskManager(window, "_NET_ACTIVE_WINDOW", 2 /* pager */, CurrentTime); }
    // The window's program asks for it to stay on top.
    void MakeAbove(Window window) {
        AskManager(window, "_NET_WM_STATE", 1 /* add */, static_cast<long>(Intern("_NET_WM_STATE_ABOVE")), 0, 1);
    }

    // Whether the window's _NET_WM_STATE holds the state, as the manager last set it.
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

    // The window's place in the manager's stacking order (_NET_CLIENT_LIST_STACKING, bottom to
    // top); -1 when it is not listed.
    int StackingIndex(Window window) const {
        const std::vector<unsigned long> list = RootWindows("_NET_CLIENT_LIST_STACKING");
        const auto found = std::find(list.begin(), list.end(), window);
        return found == list.end() ? -1 : static_cast<int>(found - list.begin());
    }

    // The input hint of the window's WM_HINTS: whether it asks the manager for the keyboard focus
    // (ICCCM counts a window without the hint as one that does).
    bool AcceptsInput(Window window) const {
        XWMHints* hints = XGetWMHints(display_, window);
        const bool accepts = hints == nullptr || (hints->flags & InputHint) == 0 || hints->input != 0;
        if (hints != nullptr) XFree(hints);
        return accepts;
    }

    // Whether the window's WM_PROTOCOLS lists the protocol (WM_TAKE_FOCUS, WM_DELETE_WINDOW, ...).
    bool HasProtocol(Window window, const char* protocol) const {
        Atom* protocols = nullptr;
        int count = 0;
        bool found = false;
        if (XGetWMProtocols(display_, window, &protocols, &count) != 0 && protocols != nullptr) {
            found = std::find(protocols, protocols + count, Intern(protocol)) != protocols + count;
        }
        if (protocols != nullptr) XFree(protocols);
        return found;
    }

    // The name the window manager gives itself (EWMH: _NET_WM_NAME of its check window).
    std::string ManagerName() const {
        const std::vector<unsigned long> check = RootWindows("_NET_SUPPORTING_WM_CHECK");
        if (check.empty()) return {};
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string name;
        if (XGetWindowProperty(display_, check[0], Intern("_NET_WM_NAME"), 0, 256, False, AnyPropertyType, &type,
                               &format, &count, &after, &data) == Success && data != nullptr && format == 8) {
            name.assign(reinterpret_cast<const char*>(data), count);
        }
        if (data != nullptr) XFree(data);
        return name;
    }

    // As the user's mouse would (XTest; link X11::Xtst): presses the left button at x,y on the
    // screen, moves the pointer by dx,dy in steps, calling between() after each, and releases it.
    bool Drag(int x, int y, int dx, int dy, const std::function<void()>& between) {
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor)) return false;
        const int screen = DefaultScreen(display_);
        constexpr int kSteps = 10;
        auto step = [&] {
            XSync(display_, False);
            for (int i = 0; i < 3; ++i) between();
        };
        XTestFakeMotionEvent(display_, screen, x, y, CurrentTime);
        step();
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        step();
        for (int i = 1; i <= kSteps; ++i) {
            XTestFakeMotionEvent(display_, screen, x + dx * i / kSteps, y + dy * i / kSteps, CurrentTime);
            step();
        }
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        step();
        return true;
    }

    // Whether the window is mapped and shown, as the manager has placed it.
    bool Viewable(Window window) const {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.map_state == IsViewable;
    }

    // Whether the manager has finished taking the window off the screen (ICCCM: its WM_STATE is
    // gone or says Withdrawn).
    bool Withdrawn(Window window) const {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool withdrawn = true;
        const Atom wmState = Intern("WM_STATE");
        if (XGetWindowProperty(display_, window, wmState, 0, 2, False, wmState, &type, &format, &count, &after,
                               &data) == Success && data != nullptr && format == 32 && count >= 1) {
            withdrawn = reinterpret_cast<const unsigned long*>(data)[0] == WithdrawnState;
        }
        if (data != nullptr) XFree(data);
        return withdrawn;
    }

    // The window's place on the screen and its size, as the X server holds them (border not counted).
    Rect Geometry(Window window) const {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display_, window, &attributes) == 0) return {};
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y, attributes.width, attributes.height};
    }

    // The outermost window the manager put around the window: the child of the root window that
    // holds it (the window itself when it is not reparented); 0 when it no longer exists.
    Window TopLevel(Window window) const {
        const Window root = DefaultRootWindow(display_);
        Window current = window;
        while (true) {
            Window parent = 0, rootReturn = 0;
            Window* children = nullptr;
            unsigned count = 0;
            if (XQueryTree(display_, current, &rootReturn, &parent, &children, &count) == 0) return 0;
            if (children != nullptr) XFree(children);
            if (parent == root || parent == 0) return current;
            current = parent;
        }
    }

    // Whether the upper window lies above the lower one in the X server's own stacking order (of
    // their outermost windows), which is the order the screen shows them in.
    bool StackedAbove(Window upper, Window lower) const {
        const Window top = TopLevel(upper), bottom = TopLevel(lower);
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (top == 0 || bottom == 0 ||
            XQueryTree(display_, DefaultRootWindow(display_), &rootReturn, &parent, &children, &count) == 0) {
            return false;
        }
        Window* const end = children + count;  // bottom to top
        const Window* topAt = std::find(children, end, top);
        const Window* bottomAt = std::find(children, end, bottom);
        const bool above = topAt != end && bottomAt != end && topAt > bottomAt;
        if (children != nullptr) XFree(children);
        return above;
    }

    // The window that has the keyboard focus (XGetInputFocus), or 1 (pointer root) or 0 (none).
    Window KeyboardFocus() const {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        return focus;
    }

    // The frame the manager reports for the window in _NET_FRAME_EXTENTS; false when it has not.
    bool Extents(Window window, FrameExtents& extents) const {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool found = false;
        if (XGetWindowProperty(display_, window, Intern("_NET_FRAME_EXTENTS"), 0, 4, False, XA_CARDINAL, &type,
                               &format, &count, &after, &data) == Success && data != nullptr) {
            if (type == XA_CARDINAL && format == 32 && count == 4) {
                const auto* values = reinterpret_cast<const long*>(data);
                extents = {values[0], values[1], values[2], values[3]};
                found = true;
            }
        }
        if (data != nullptr) XFree(data);
        return found;
    }

    // Whether a window manager runs on the server (EWMH: it names its check window).
    bool Managed() const { return !RootWindows("_NET_SUPPORTING_WM_CHECK").empty(); }

    // The window's frame: what the manager reports in _NET_FRAME_EXTENTS, which leaves out any
    // invisible border it adds for resizing, or none at all on a server without a manager. False
    // while a manager has not reported it yet.
    bool Frame(Window window, FrameExtents& extents) const {
        if (Extents(window, extents)) return true;
        extents = {};
        return !Managed();
    }

    // The frame's outer rectangle, as the user sees it: the window's place and size widened by its
    // Frame(); empty while that is not known. The frame read is kept in *extents.
    Rect FramedGeometry(Window window, FrameExtents* extents = nullptr) const {
        FrameExtents e;
        if (!Frame(window, e)) return {};
        if (extents != nullptr) *extents = e;
        const Rect c = Geometry(window);
        return {c.x - static_cast<int>(e.left), c.y - static_cast<int>(e.top),
                c.width + static_cast<int>(e.left + e.right), c.height + static_cast<int>(e.top + e.bottom)};
    }

    // What the screen shows in a rectangle, pixel by pixel (0x00RRGGBB); empty when it cannot be read.
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
    // A window-list property of the root window (format 32); empty when it is missing.
    std::vector<unsigned long> RootWindows(const char* property) const {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<unsigned long> windows;
        if (XGetWindowProperty(display_, DefaultRootWindow(display_), Intern(property), 0, 4096, False, XA_WINDOW,
                               &type, &format, &count, &after, &data) == Success && data != nullptr && format == 32) {
            const auto* values = reinterpret_cast<const unsigned long*>(data);
            windows.assign(values, values + count);
        }
        if (data != nullptr) XFree(data);
        return windows;
    }

    Display* display_;
    std::vector<Window> windows_;
};

}  // namespace x11test

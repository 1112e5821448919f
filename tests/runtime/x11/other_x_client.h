// Another X client for tests on a real X server: a connection of its own, as another program
// would have, with plain windows and the EWMH requests pagers and clients send the manager.
// Include it after Qt and the project's headers: X11's macros (None, Bool, Status) must not
// meet them.
#pragma once

#include <algorithm>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace x11test {

class OtherClient {
public:
    OtherClient() : display_(XOpenDisplay(nullptr)) {}
    ~OtherClient() {
        if (display_ == nullptr) return;
        for (Window window : windows_) XDestroyWindow(display_, window);
        XCloseDisplay(display_);
    }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    bool Connected() const { return display_ != nullptr; }
    Display* display() const { return display_; }

    // Maps a plain window of solid colour where the size hints ask for it; it lives as long as
    // the client.
    Window CreateWindow(int x, int y, int width, int height, unsigned long pixel, const char* name = "other client") {
        Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, width, height, 0, 0, pixel);
        XStoreName(display_, window, name);
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

    // Whether the window is mapped and shown, as the manager has placed it.
    bool Viewable(Window window) const {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.map_state == IsViewable;
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
    Display* display_;
    std::vector<Window> windows_;
};

}  // namespace x11test

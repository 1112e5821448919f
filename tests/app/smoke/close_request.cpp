// close_request WINDOW: asks the X client that owns WINDOW (a number, decimal or 0x...) to close it,
// as a window manager does when the user closes it: a WM_DELETE_WINDOW message of WM_PROTOCOLS
// sent to the window itself. Unlike destroying the window, this lets the program ask its own
// questions and end by itself; and it needs no window manager. Exit code 0 once sent, 1 when the
// window does not take the protocol or the X server cannot be reached.

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: close_request WINDOW\n");
        return 1;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || window == 0) {
        std::fprintf(stderr, "close_request: not a window id: %s\n", argv[1]);
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "close_request: cannot open the display\n");
        return 1;
    }
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    // A client that does not list the protocol would not understand the message (a manager kills
    // such a client instead); that is a failure of the program under test, not something to hide.
    Atom* listed = nullptr;
    int count = 0;
    bool takes = false;
    if (XGetWMProtocols(display, window, &listed, &count) != 0 && listed != nullptr) {
        for (int i = 0; i < count; ++i) takes = takes || listed[i] == deleteWindow;
        XFree(listed);
    }
    if (!takes) {
        std::fprintf(stderr, "close_request: window %s does not take WM_DELETE_WINDOW\n", argv[1]);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    // No event mask: the message goes to the client that created the window.
    const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}

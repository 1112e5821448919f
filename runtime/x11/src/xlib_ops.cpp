#include "xlib_ops.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cstddef>

namespace rt::x11 {

namespace {

constexpr long kNetWmStateRemove = 0;
constexpr long kNetWmStateAdd = 1;
constexpr long kSourceApplication = 1;

}  // namespace

XWindowId ActiveWindow(Display* display) {
    Atom property = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XWindowId active = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        if (type == XA_WINDOW && format == 32 && count == 1) {
            // Format-32 data comes as longs whatever the size of long.
            active = static_cast<XWindowId>(reinterpret_cast<const unsigned long*>(data)[0]);
        }
    }
    if (data != nullptr) XFree(data);
    return active;
}

namespace {

// The window's _NET_WM_STATE atoms; none when it has no such property (or no longer exists).
std::vector<unsigned long> States(Display* display, XWindowId window) {
    std::vector<unsigned long> atoms;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), 0, 64, False, XA_ATOM,
                           &type, &format, &count, &after, &data) == Success &&
        data != nullptr && type == XA_ATOM && format == 32) {
        // Format-32 data comes as longs whatever the size of long.
        const auto* held = reinterpret_cast<const unsigned long*>(data);
        atoms.assign(held, held + count);
    }
    if (data != nullptr) XFree(data);
    return atoms;
}

}  // namespace

bool HasState(Display* display, XWindowId window, const char* state) {
    const std::vector<unsigned long> atoms = States(display, window);
    return std::find(atoms.begin(), atoms.end(), XInternAtom(display, state, False)) != atoms.end();
}

void RequestStates(Display* display, XWindowId window, bool add, const char* first, const char* second) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = add ? kNetWmStateAdd : kNetWmStateRemove;
    event.xclient.data.l[1] = static_cast<long>(XInternAtom(display, first, False));
    event.xclient.data.l[2] = second != nullptr ? static_cast<long>(XInternAtom(display, second, False)) : 0;
    event.xclient.data.l[3] = kSourceApplication;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

void AddStatesBeforeMap(Display* display, XWindowId window, const std::vector<const char*>& states) {
    std::vector<unsigned long> atoms = States(display, window);
    for (const char* state : states) {
        const Atom atom = XInternAtom(display, state, False);
        if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) atoms.push_back(atom);
    }
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
    XFlush(display);
}

void RemoveProtocol(Display* display, XWindowId window, const char* protocol) {
    Atom* protocols = nullptr;
    int count = 0;
    if (XGetWMProtocols(display, window, &protocols, &count) == 0 || protocols == nullptr) return;
    const Atom unwanted = XInternAtom(display, protocol, False);
    std::vector<Atom> kept;
    for (int i = 0; i < count; ++i) {
        if (protocols[i] != unwanted) kept.push_back(protocols[i]);
    }
    XFree(protocols);
    if (kept.size() != static_cast<std::size_t>(count)) {
        XSetWMProtocols(display, window, kept.data(), static_cast<int>(kept.size()));
        XFlush(display);
    }
}

void SetShape(Display* display, XWindowId window, const std::vector<Rect>& rectangles) {
    std::vector<XRectangle> xr;
    xr.reserve(rectangles.size());
    for (const Rect& r : rectangles) {
        xr.push_back(XRectangle{static_cast<short>(r.x), static_cast<short>(r.y),
                                static_cast<unsigned short>(r.width),
                                static_cast<unsigned short>(r.height)});
    }
    for (int kind : {ShapeBounding, ShapeInput}) {
        XShapeCombineRectangles(display, window, kind, 0, 0, xr.data(), static_cast<int>(xr.size()),
                                ShapeSet, Unsorted);
    }
    XFlush(display);
}

void ClearShape(Display* display, XWindowId window) {
    for (int kind : {ShapeBounding, ShapeInput}) {
        XShapeCombineMask(display, window, kind, 0, 0, None, ShapeSet);
    }
    XFlush(display);
}

bool HasShapeExtension(Display* display) {
    int eventBase = 0, errorBase = 0;
    return XShapeQueryExtension(display, &eventBase, &errorBase) != 0;
}

}  // namespace rt::x11

#include "xlib_ops.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

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

void RequestAbove(Display* display, XWindowId window, bool above) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = above ? kNetWmStateAdd : kNetWmStateRemove;
    event.xclient.data.l[1] = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_ABOVE", False));
    event.xclient.data.l[2] = 0;
    event.xclient.data.l[3] = kSourceApplication;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

void Raise(Display* display, XWindowId window) {
    XRaiseWindow(display, window);
    XFlush(display);
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

#include "xlib_ops.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>

namespace rt::x11 {

namespace {

constexpr long kNetWmStateRemove = 0;
constexpr long kNetWmStateAdd = 1;
constexpr long kSourceApplication = 1;
constexpr long kSourcePager = 2;

// A format-32 property of the window of that type (XA_ATOM, XA_WINDOW); false when the window has
// no such property (or no longer exists).
bool ReadList(Display* display, XWindowId window, const char* property, Atom wanted, std::vector<unsigned long>& values) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 1 << 16, False, wanted, &type,
                           &format, &count, &after, &data) == Success &&
        data != nullptr && type == wanted && format == 32) {
        // Format-32 data comes as longs whatever the size of long.
        const auto* held = reinterpret_cast<const unsigned long*>(data);
        values.assign(held, held + count);
        found = true;
    }
    if (data != nullptr) XFree(data);
    return found;
}

bool Holds(Display* display, const std::vector<unsigned long>& atoms, const char* atom) {
    return std::find(atoms.begin(), atoms.end(), XInternAtom(display, atom, False)) != atoms.end();
}

// A request about the window to the manager: a client message to the root window, as EWMH has
// clients and pagers ask.
void AskManager(Display* display, XWindowId window, const char* type, std::initializer_list<long> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    std::copy(data.begin(), data.end(), event.xclient.data.l);
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

// The window's _NET_WM_STATE atoms; none when it has no such property.
std::vector<unsigned long> States(Display* display, XWindowId window) {
    std::vector<unsigned long> atoms;
    ReadList(display, window, "_NET_WM_STATE", XA_ATOM, atoms);
    return atoms;
}

}  // namespace

XWindowId Root(Display* display) { return DefaultRootWindow(display); }

unsigned long InternAtom(Display* display, const char* name) { return XInternAtom(display, name, False); }

XWindowId ActiveWindow(Display* display) {
    std::vector<unsigned long> active;
    ReadList(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW", XA_WINDOW, active);
    return active.empty() ? 0 : static_cast<XWindowId>(active[0]);  // xfwm4 adds a second value
}

void Activate(Display* display, XWindowId window) {
    AskManager(display, window, "_NET_ACTIVE_WINDOW", {kSourcePager, CurrentTime, 0 /* no active window of ours */});
}

bool HasState(Display* display, XWindowId window, const char* state) {
    return Holds(display, States(display, window), state);
}

void RequestStates(Display* display, XWindowId window, bool add, const char* first, const char* second) {
    AskManager(display, window, "_NET_WM_STATE",
               {add ? kNetWmStateAdd : kNetWmStateRemove, static_cast<long>(XInternAtom(display, first, False)),
                second != nullptr ? static_cast<long>(XInternAtom(display, second, False)) : 0, kSourceApplication});
}

void AddStatesBeforeMap(Display* display, XWindowId window, const std::vector<const char*>& states) {
    std::vector<unsigned long> atoms = States(display, window);
    for (const char* state : states) {
        if (!Holds(display, atoms, state)) atoms.push_back(XInternAtom(display, state, False));
    }
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
    XFlush(display);
}

namespace {

// The root window's children, bottom to top.
std::vector<XWindowId> ServerStacking(Display* display) {
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<XWindowId> stacking;
    if (XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count) != 0 &&
        children != nullptr) {
        stacking.assign(children, children + count);
    }
    if (children != nullptr) XFree(children);
    return stacking;
}

// The window's ancestor among the root window's children (its frame, or the window itself when
// it is not reparented); 0 when the window no longer exists.
XWindowId TopLevel(Display* display, XWindowId window) {
    const Window root = DefaultRootWindow(display);
    Window current = window;
    while (true) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, current, &rootReturn, &parent, &children, &count) == 0) return 0;
        if (children != nullptr) XFree(children);
        if (parent == root || parent == 0) return current;
        current = parent;
    }
}

// What the stacking check needs of a window: whether it is on the screen, and where.
struct Outline {
    bool shown = false;
    bool overrideRedirect = false;
    Rect rect;
};

// A root window's child as the X server has it, border included.
Outline ServerOutline(Display* display, XWindowId topLevel) {
    XWindowAttributes attributes{};
    if (topLevel == 0 || XGetWindowAttributes(display, topLevel, &attributes) == 0) return {};
    const int border = attributes.border_width;
    return {attributes.map_state == IsViewable, attributes.override_redirect != 0,
            Rect{attributes.x, attributes.y, attributes.width + 2 * border, attributes.height + 2 * border}};
}

// A managed window as it is seen: with the frame the manager reports (_NET_FRAME_EXTENTS), not
// the frame window, which may hold invisible borders to grab for a resize (mutter, metacity).
Outline ClientOutline(Display* display, XWindowId window) {
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = 0;
    if (XGetWindowAttributes(display, window, &attributes) == 0 ||
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child) == 0) {
        return {};
    }
    std::vector<unsigned long> frame;  // left, right, top, bottom
    if (!ReadList(display, window, "_NET_FRAME_EXTENTS", XA_CARDINAL, frame) || frame.size() != 4) frame.assign(4, 0);
    const int left = static_cast<int>(frame[0]), right = static_cast<int>(frame[1]);
    const int top = static_cast<int>(frame[2]), bottom = static_cast<int>(frame[3]);
    return {attributes.map_state == IsViewable, attributes.override_redirect != 0,
            Rect{x - left, y - top, attributes.width + left + right, attributes.height + top + bottom}};
}

bool Overlap(const Rect& a, const Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// Whether the manager lists the atom (a request or state it understands) in _NET_SUPPORTED.
bool Supported(Display* display, const char* atom) {
    std::vector<unsigned long> atoms;
    ReadList(display, DefaultRootWindow(display), "_NET_SUPPORTED", XA_ATOM, atoms);
    return Holds(display, atoms, atom);
}

}  // namespace

bool ManagerRunning(Display* display) {
    std::vector<unsigned long> check, self;
    return ReadList(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, check) &&
           check.size() == 1 && ReadList(display, check[0], "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, self) &&
           self == check;
}

bool CoveredByAnother(Display* display, XWindowId window) {
    const Outline outline = ClientOutline(display, window);
    if (!outline.shown) return false;
    // Each list holds the windows bottom to top; only those above the window count.
    std::vector<unsigned long> clients;
    if (ReadList(display, DefaultRootWindow(display), "_NET_CLIENT_LIST_STACKING", XA_WINDOW, clients)) {
        const auto at = std::find(clients.begin(), clients.end(), window);
        if (at != clients.end()) {
            return std::any_of(at + 1, clients.end(), [&](unsigned long client) {
                const Outline other = ClientOutline(display, client);
                return other.shown && Overlap(other.rect, outline.rect);
            });
        }
    }
    const std::vector<XWindowId> stacking = ServerStacking(display);
    const auto at = std::find(stacking.begin(), stacking.end(), TopLevel(display, window));
    if (at == stacking.end()) return false;
    return std::any_of(at + 1, stacking.end(), [&](XWindowId sibling) {
        const Outline other = ServerOutline(display, sibling);
        return other.shown && !other.overrideRedirect && Overlap(other.rect, outline.rect);
    });
}

void Raise(Display* display, XWindowId window, bool managed) {
    if (managed && Supported(display, "_NET_RESTACK_WINDOW")) {
        AskManager(display, window, "_NET_RESTACK_WINDOW", {kSourcePager, 0 /* no sibling: the top */, Above});
    } else {
        XRaiseWindow(display, window);
        XFlush(display);
    }
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

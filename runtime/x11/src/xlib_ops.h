#pragma once
// The Xlib requests of the window functions, kept apart so that the X11 headers (which define
// macros such as None, Bool and Status) never meet Qt's or the callers' headers.

#include <cstdint>
#include <vector>

struct _XDisplay;

namespace rt::x11 {

using XWindowId = unsigned long;

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// The window named by the root window's _NET_ACTIVE_WINDOW, or 0 when the property is missing.
XWindowId ActiveWindow(_XDisplay* display);

// Whether the window's _NET_WM_STATE holds the state (an atom name such as "_NET_WM_STATE_ABOVE"),
// as the window manager last set it.
bool HasState(_XDisplay* display, XWindowId window, const char* state);

// Asks the window manager to add or remove one or two states of a mapped window (a client message
// to the root window, as EWMH prescribes; second may be nullptr).
void RequestStates(_XDisplay* display, XWindowId window, bool add, const char* first, const char* second);

// Adds states to the _NET_WM_STATE of a window that is not mapped, keeping those it has: the
// manager reads them when the window is mapped.
void AddStatesBeforeMap(_XDisplay* display, XWindowId window, const std::vector<const char*>& states);

// Takes a protocol (such as "WM_TAKE_FOCUS") out of the window's WM_PROTOCOLS.
void RemoveProtocol(_XDisplay* display, XWindowId window, const char* protocol);

// Sets the window's bounding and input shapes to the union of the rectangles (window coordinates).
void SetShape(_XDisplay* display, XWindowId window, const std::vector<Rect>& rectangles);

// Gives the window its plain rectangular shape back.
void ClearShape(_XDisplay* display, XWindowId window);

// True when the server has the SHAPE extension.
bool HasShapeExtension(_XDisplay* display);

}  // namespace rt::x11

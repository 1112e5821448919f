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

// Asks the window manager to add or remove _NET_WM_STATE_ABOVE on the window (a client message
// to the root window, as EWMH prescribes for mapped windows).
void RequestAbove(_XDisplay* display, XWindowId window, bool above);

// Raises the window in its stacking layer (the window manager decides for managed windows).
void Raise(_XDisplay* display, XWindowId window);

// Sets the window's bounding and input shapes to the union of the rectangles (window coordinates).
void SetShape(_XDisplay* display, XWindowId window, const std::vector<Rect>& rectangles);

// Gives the window its plain rectangular shape back.
void ClearShape(_XDisplay* display, XWindowId window);

// True when the server has the SHAPE extension.
bool HasShapeExtension(_XDisplay* display);

}  // namespace rt::x11

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

// The root window of the default screen, and the atom of a name.
XWindowId Root(_XDisplay* display);
unsigned long InternAtom(_XDisplay* display, const char* name);

// The window named by the root window's _NET_ACTIVE_WINDOW, or 0 when the property is missing.
XWindowId ActiveWindow(_XDisplay* display);

// Asks the window manager to make the window the active one, as a pager asks for the user.
void Activate(_XDisplay* display, XWindowId window);

// Whether the window's _NET_WM_STATE holds the state (an atom name such as "_NET_WM_STATE_ABOVE"),
// as the window manager last set it.
bool HasState(_XDisplay* display, XWindowId window, const char* state);

// Asks the window manager to add or remove one or two states of a mapped window (a client message
// to the root window, as EWMH prescribes; second may be nullptr).
void RequestStates(_XDisplay* display, XWindowId window, bool add, const char* first, const char* second);

// Adds states to the _NET_WM_STATE of a window that is not mapped, keeping those it has: the
// manager reads them when the window is mapped.
void AddStatesBeforeMap(_XDisplay* display, XWindowId window, const std::vector<const char*>& states);

// Whether a window manager runs: the root window's _NET_SUPPORTING_WM_CHECK names a window that
// names itself (EWMH), so a manager that has gone away leaves none behind.
bool ManagerRunning(_XDisplay* display);

// Whether a window that is shown lies above the window and covers part of it: in the manager's
// stacking order (_NET_CLIENT_LIST_STACKING) where it keeps one that lists the window, else in the
// X server's own order of the root window's children (override-redirect windows, such as menus
// and tooltips, left out). Windows are compared as they are seen: with the frame the manager
// reports for them.
bool CoveredByAnother(_XDisplay* display, XWindowId window);

// Brings the window to the top of its layer. A manager that understands _NET_RESTACK_WINDOW is
// asked as a pager asks, which none takes for an attempt to activate the window (asked as the
// application, kwin, mutter and metacity refuse it while another program's window is active);
// one that does not (xfwm4), and the bare server, get a plain restack request (XRaiseWindow).
void Raise(_XDisplay* display, XWindowId window, bool managed);

// Takes a protocol (such as "WM_TAKE_FOCUS") out of the window's WM_PROTOCOLS.
void RemoveProtocol(_XDisplay* display, XWindowId window, const char* protocol);

// Sets the window's bounding and input shapes to the union of the rectangles (window coordinates).
void SetShape(_XDisplay* display, XWindowId window, const std::vector<Rect>& rectangles);

// Gives the window its plain rectangular shape back.
void ClearShape(_XDisplay* display, XWindowId window);

// True when the server has the SHAPE extension.
bool HasShapeExtension(_XDisplay* display);

}  // namespace rt::x11

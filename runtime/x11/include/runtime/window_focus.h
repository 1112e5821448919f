#pragma once
// Windows that leave the keyboard focus where the user has it.

namespace rt {

class Window;

// From now on the window never takes the keyboard focus, and tells the window manager so: the
// input hint of its WM_HINTS is off and it does not offer WM_TAKE_FOCUS, so neither its show, a
// raise nor a click on it makes it the active window; the mouse still reaches it. An activation
// that comes all the same goes back to the window that was active just before (on X11 another
// program's too), and a demands-attention state that a manager sets on it is taken off again
// (nothing could ever answer it). Call it before the window is shown. False when there is no
// window or widget.
bool NeverTakeFocus(Window* window);

// From now on the window is kept out of the taskbar and the pager (_NET_WM_STATE_SKIP_TASKBAR and
// _NET_WM_STATE_SKIP_PAGER, set before each show and asked for at once when it is shown already).
// Nothing off X11. False when there is no window or widget.
bool KeepOutOfTaskbar(Window* window);

}  // namespace rt

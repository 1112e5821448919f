#pragma once
// Showing a window without taking the activation from the window that has it.

namespace rt {

class Window;

// When the window is shown from now on, the window that was active stays active: the window
// system is asked not to activate it, and where it does all the same (Qt's offscreen platform,
// window managers that ignore the request) the activation is handed back at once. A click on the
// window, or any activation later than a moment after the show, is left alone. False when there
// is no window or widget.
bool ShowWithoutActivating(Window* window);

}  // namespace rt

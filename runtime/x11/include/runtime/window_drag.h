#pragma once
// Moving a borderless window by dragging it with the mouse.

namespace rt {

class Window;

// From now on a drag with the left mouse button anywhere on the window (its components included,
// unless they use the mouse themselves) moves the window along. Every step goes through the
// window's SetLeft and SetTop, so each move fires the window's position-changed event. The window
// must outlive its widget's events (the runtime's windows own their widgets). False when there is
// no window or widget; enabling it twice has no further effect.
bool EnableWindowDrag(Window* window);

}  // namespace rt

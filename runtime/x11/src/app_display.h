#pragma once
// Qt's own connection to the X server, shared by the window functions of this layer.

struct _XDisplay;

namespace rt::x11 {

// The application's X connection, or nullptr on any other platform or without an application.
_XDisplay* AppDisplay();

}  // namespace rt::x11

#pragma once
// Colour keying of this process's own windows by a window shape.

#include <QtGui/QRgb>
#include <vector>

#include "xlib_ops.h"

class QImage;
class QWidget;

namespace rt::x11 {

// The fewest simple rectangles this builds that cover exactly the pixels whose colour (alpha
// ignored) is not the key: the runs of each row, with neighbouring rows of the same runs merged.
std::vector<Rect> OpaqueRectangles(const QImage& image, QRgb key);

// Cuts the window's shape to its pixels of other colours than the key and keeps it so while the
// window is repainted, resized or shown, until RemoveColourKey or the window's end. Replaces an
// earlier key of the same window.
void ApplyColourKey(QWidget* window, _XDisplay* display, QRgb key);

// Takes the key off and gives the window its rectangular shape back; nothing when it has none.
void RemoveColourKey(QWidget* window);

}  // namespace rt::x11

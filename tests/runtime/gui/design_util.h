#pragma once
// Component design rows for GUI tests and test programs; needs only the runtime, not the test framework.

#include "runtime/window.h"

#include <string>
#include <utility>

namespace rt::test {

// A design row of the given type, name, place and size, with an optional caption and parent.
inline ComponentDesign Design(ComponentType type, std::string name, int left, int top, int width, int height,
                              std::string caption = {}, std::string parent = {})
{
    ComponentDesign d;
    d.type = type;
    d.name = std::move(name);
    d.left = left;
    d.top = top;
    d.width = width;
    d.height = height;
    d.caption = std::move(caption);
    d.parent = std::move(parent);
    return d;
}

}  // namespace rt::test

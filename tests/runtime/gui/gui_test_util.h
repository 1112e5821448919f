#pragma once
// Small helpers shared by the GUI tests.

#include "runtime/text.h"
#include "runtime/window.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace rt::test {

// Runs the event loop until pred holds or ms have passed; answers pred's last value.
inline bool WaitUntil(const std::function<bool()>& pred, int ms = 3000)
{
    return QTest::qWaitFor(pred, ms);
}

// Runs the event loop for ms milliseconds.
inline void Pump(int ms) { QTest::qWait(ms); }

// A window name no other test uses, so that once-per-run events start afresh.
inline std::string UniqueWindowName(const std::string& base)
{
    static int counter = 0;
    return base + std::to_string(++counter);
}

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

inline EventBinding On(std::string component, EventKind event, std::function<void()> handler)
{
    EventBinding b;
    b.component = std::move(component);
    b.event = event;
    b.handler = std::move(handler);
    return b;
}

inline EventBinding OnQueryClose(std::function<bool()> handler)
{
    EventBinding b;
    b.event = EventKind::QueryClose;
    b.queryClose = std::move(handler);
    return b;
}

// Closes every window between tests, so each starts from an empty screen.
class GuiTest : public ::testing::Test {
protected:
    void TearDown() override { DestroyAllWindows(); }
};

}  // namespace rt::test

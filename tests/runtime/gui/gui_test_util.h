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

// Defines and loads a width x height window named after prefix with one timer, "Ticker", firing
// every interval ms and counting into ticks; answers the window's name, or "" when it did not load.
inline std::string LoadTickerWindow(const std::string& prefix, int width, int height, int interval, int& ticks)
{
    const std::string name = UniqueWindowName(prefix);
    WindowDesign w;
    w.name = name;
    w.width = width;
    w.height = height;
    auto timer = DesignComponent(ComponentType::Timer, "Ticker", 0, 0, 10, 10);
    timer.interval = interval;
    w.components.push_back(timer);
    w.events.push_back(On("Ticker", EventKind::TimerTick, [&ticks] { ++ticks; }));
    DefineWindow(w);
    return LoadWindow(name) ? name : std::string();
}

// Closes every window between tests, so each starts from an empty screen.
class GuiTest : public ::testing::Test {
protected:
    void TearDown() override { DestroyAllWindows(); }
};

}  // namespace rt::test

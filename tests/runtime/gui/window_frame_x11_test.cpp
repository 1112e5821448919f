// Windows from design tables on a real X server, under each window manager and without one (run by
// run_with_wm.sh): the design's position and size are those of the whole window, frame included;
// the client area is what the frame leaves of it, yet never less than the components need; a
// borderless window is all client area. The frame is the one the manager reports
// (_NET_FRAME_EXTENTS): some managers put invisible borders for resizing around it, which are not
// part of the window the user sees.
#include "gui_test_util.h"
#include "runtime/program.h"
#include "runtime/text.h"
#include "runtime/window.h"

#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

// X11 last: its macros (None, Bool, Status) must not meet the headers above.
#include "other_x_client.h"

namespace x11test {
std::ostream& operator<<(std::ostream& out, const Rect& r)
{
    return out << r.width << "x" << r.height << " at " << r.x << "," << r.y;
}
}  // namespace x11test

namespace {

using rt::ComponentType;
using rt::DesignComponent;
using rt::test::On;
using rt::test::WaitUntil;
using x11test::FrameExtents;
using x11test::Rect;

class WindowOnX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QLatin1String("xcb")) << "run this test through run_with_wm.sh";
        ASSERT_TRUE(other.Connected());
    }
    void TearDown() override { rt::DestroyAllWindows(); }

    // Loads the window and waits until the manager has framed it and its outer rectangle is the
    // one wanted; answers the client window's id, 0 when it did not load.
    unsigned long LoadFramed(const rt::WindowDesign& design, const Rect& wanted)
    {
        rt::DefineWindow(design);
        if (!rt::LoadWindow(design.name)) return 0;
        const auto client = static_cast<unsigned long>(rt::WindowHandle(design.name));
        // The program learns of the frame from its events, a moment after the X server has it.
        const rt::Window* window = rt::FindWindow(design.name);
        WaitUntil([&] {
            return Outer(client) == wanted &&
                   Rect{window->Left(), window->Top(), window->Width(), window->Height()} == wanted;
        });
        return client;
    }

    Rect Outer(unsigned long client) const { return other.FramedGeometry(client); }

    FrameExtents Frame(unsigned long client) const
    {
        FrameExtents e;
        other.Frame(client, e);
        return e;
    }

    // Whether every component placed on the window's client area lies wholly inside it.
    static void ExpectComponentsInside(const rt::WindowDesign& design)
    {
        const rt::Window* window = rt::FindWindow(design.name);
        ASSERT_NE(window, nullptr);
        const QRect client = window->Widget()->rect();
        for (const auto& d : design.components) {
            const rt::Component* c = window->Find(d.name);
            ASSERT_NE(c, nullptr) << d.name;
            if (c->Widget() == nullptr || c->Widget()->parentWidget() != window->Widget()) continue;
            EXPECT_TRUE(client.contains(c->Widget()->geometry()))
                << d.name << " at " << c->Left() << "," << c->Top() << " " << c->Width() << "x" << c->Height()
                << " is cut by a client area of " << client.width() << "x" << client.height();
        }
    }

    x11test::OtherClient other;
};

rt::WindowDesign Framed(const std::string& name, int left, int top, int width, int height)
{
    rt::WindowDesign w;
    w.name = name;
    w.left = left;
    w.top = top;
    w.width = width;
    w.height = height;
    w.caption = rt::Gbk("番茄窗口");
    return w;
}

TEST_F(WindowOnX11, DesignSizeIsTheWholeWindowAndTheClientAreaWhatTheFrameLeaves)
{
    rt::WindowDesign w = Framed("Roomy", 60, 70, 420, 300);
    w.components.push_back(DesignComponent(ComponentType::Button, "StartButton", 5, 7, 112, 24, rt::Gbk("开始")));
    w.components.push_back(DesignComponent(ComponentType::GroupBox, "NoteGroup", 4, 150, 380, 80, rt::Gbk("备忘")));
    w.components.push_back(DesignComponent(ComponentType::EditBox, "NoteEdit", 8, 16, 360, 56, "", "NoteGroup"));
    auto timer = DesignComponent(ComponentType::Timer, "Ticker", 500, 500, 20, 20);  // invisible: takes no room
    w.components.push_back(timer);
    const Rect designed{60, 70, 420, 300};
    const unsigned long client = LoadFramed(w, designed);
    ASSERT_NE(client, 0u);

    const FrameExtents e = Frame(client);
    if (other.Managed()) {
        EXPECT_GT(e.top, 0) << "the manager gives the window no title bar";
    }
    EXPECT_EQ(Outer(client), designed);
    const Rect c = other.Geometry(client);
    EXPECT_EQ(c.width, 420 - e.left - e.right);
    EXPECT_EQ(c.height, 300 - e.top - e.bottom);

    // The program reads back what it designed, and the client area is the widget's.
    rt::Window* window = rt::FindWindow("Roomy");
    EXPECT_EQ(window->Left(), 60);
    EXPECT_EQ(window->Top(), 70);
    EXPECT_EQ(window->Width(), 420);
    EXPECT_EQ(window->Height(), 300);
    EXPECT_EQ(window->Widget()->size(), QSize(c.width, c.height));
    ExpectComponentsInside(w);
}

TEST_F(WindowOnX11, AFrameNeverCutsAComponent)
{
    // The components fill the design size in one or both directions: the client area keeps their
    // room there and the frame is added outside it, its corner still where designed.
    struct Case {
        const char* name;
        int width, height;  // of the design, and what the components need
        int neededWidth, neededHeight;
    };
    const Case cases[] = {
        {"TightBoth", 300, 200, 300, 200},
        {"TightHeight", 300, 200, 200, 200},
        {"TightWidth", 300, 200, 300, 120},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        rt::WindowDesign w = Framed(k.name, 100, 120, k.width, k.height);
        w.components.push_back(DesignComponent(ComponentType::ShapeBox, "Band", 0, 0, k.neededWidth, 24));
        w.components.push_back(DesignComponent(ComponentType::Button, "CornerButton", k.neededWidth - 60,
                                               k.neededHeight - 24, 60, 24, "OK"));
        rt::DefineWindow(w);
        ASSERT_TRUE(rt::LoadWindow(w.name));
        const auto client = static_cast<unsigned long>(rt::WindowHandle(w.name));
        FrameExtents e;
        ASSERT_TRUE(WaitUntil([&] { return other.Frame(client, e) && (e.top > 0 || !other.Managed()); }));
        const int clientWidth = std::max<int>(k.width - e.left - e.right, k.neededWidth);
        const int clientHeight = std::max<int>(k.height - e.top - e.bottom, k.neededHeight);
        const Rect outer{100, 120, clientWidth + static_cast<int>(e.left + e.right),
                         clientHeight + static_cast<int>(e.top + e.bottom)};
        EXPECT_TRUE(WaitUntil([&] { return Outer(client) == outer; })) << Outer(client) << ", wanted " << outer;
        EXPECT_EQ(other.Geometry(client).width, clientWidth);
        EXPECT_EQ(other.Geometry(client).height, clientHeight);
        // What the program reads is the window as it is, not as designed, once its events have
        // told it about the frame.
        const rt::Window* window = rt::FindWindow(w.name);
        EXPECT_TRUE(WaitUntil([&] {
            return window->Left() == 100 && window->Top() == 120 && window->Width() == outer.width &&
                   window->Height() == outer.height;
        })) << window->Width() << "x" << window->Height() << " at " << window->Left() << "," << window->Top();
        ExpectComponentsInside(w);
        rt::DestroyAllWindows();
    }
}

TEST_F(WindowOnX11, WritingLeftOrTopPlacesTheFrameAndFiresOnceInsideTheWrite)
{
    rt::WindowDesign w = Framed("Moved", 60, 70, 420, 300);
    int moves = 0;
    int seenLeft = -1, seenTop = -1;
    w.events.push_back(On("", rt::EventKind::PositionChanged, [&] {
        ++moves;
        seenLeft = rt::FindWindow("Moved")->Left();
        seenTop = rt::FindWindow("Moved")->Top();
    }));
    const unsigned long client = LoadFramed(w, {60, 70, 420, 300});
    ASSERT_NE(client, 0u);
    ASSERT_EQ(Outer(client), (Rect{60, 70, 420, 300}));
    EXPECT_EQ(moves, 0) << "framing the window is no move of it";

    rt::Window* window = rt::FindWindow("Moved");
    window->SetLeft(200);
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(seenLeft, 200);
    EXPECT_EQ(seenTop, 70);
    window->SetTop(150);
    EXPECT_EQ(moves, 2);
    EXPECT_EQ(seenLeft, 200);
    EXPECT_EQ(seenTop, 150);

    // The manager puts the frame there; its late answers to the two writes may pass through the
    // first place again, but the last word is the place written last.
    EXPECT_TRUE(WaitUntil([&] { return Outer(client) == Rect{200, 150, 420, 300}; })) << Outer(client);
    EXPECT_TRUE(WaitUntil([&] { return seenLeft == 200 && seenTop == 150 && window->Top() == 150; }));
    EXPECT_EQ(window->Left(), 200);
    EXPECT_EQ(window->Width(), 420);
    EXPECT_EQ(window->Height(), 300);
}

TEST_F(WindowOnX11, BorderlessWindowIsAllClientArea)
{
    rt::WindowDesign w = Framed("Bar", 300, 600, 220, 16);
    w.borderless = true;
    w.components.push_back(DesignComponent(ComponentType::ProcessBar, "Progress", 0, 0, 200, 16));
    rt::DefineWindow(w);
    ASSERT_TRUE(rt::LoadWindow(w.name));
    const auto client = static_cast<unsigned long>(rt::WindowHandle(w.name));
    const Rect designed{300, 600, 220, 16};
    EXPECT_TRUE(WaitUntil([&] { return other.Viewable(client) && other.Geometry(client) == designed; }))
        << other.Geometry(client);
    QTest::qWait(200);
    EXPECT_EQ(other.Geometry(client), designed);
    // A manager that reports a frame for it reports none.
    FrameExtents e;
    if (other.Extents(client, e)) {
        EXPECT_EQ(e.left + e.right + e.top + e.bottom, 0);
    }
    const rt::Window* window = rt::FindWindow(w.name);
    EXPECT_EQ(window->Left(), 300);
    EXPECT_EQ(window->Top(), 600);
    EXPECT_EQ(window->Width(), 220);
    EXPECT_EQ(window->Height(), 16);
}

}  // namespace

// The program's main window on a real X server, under each window manager and without one
// (run_with_wm.sh): its designed 884 x 541 at 50,50 is the whole window as the user sees it, frame
// included (the frame the manager reports, without the invisible borders some add around it), and
// the frame cuts none of its components.

#include <QtTest/QTest>
#include <QtWidgets/QWidget>
#include <algorithm>
#include <iostream>

#include "app_fixture.h"
#include "runtime/win32.h"

// X11 last: its macros (None, Bool, Status) must not meet the headers above.
#include "other_x_client.h"

namespace {

class MainWindowOnX11 : public apptest::AppFixture {};

TEST_F(MainWindowOnX11, IsItsDesignSizeOutsideAndCutsNoComponent) {
    ASSERT_TRUE(rt::win32::OnX11Display()) << "run this test through run_with_wm.sh";
    x11test::OtherClient other;
    ASSERT_TRUE(other.Connected());

    StartProgram();
    const auto main = static_cast<unsigned long>(rt::WindowHandle("MainWindow"));
    ASSERT_NE(main, 0u);
    rt::Window* window = rt::FindWindow("MainWindow");
    ASSERT_NE(window, nullptr);
    const QWidget* area = window->Widget();

    // What the components on the client area need (one placed left of the window on purpose stays
    // out of sight); the memo lies inside its group.
    const char* const names[] = {"StartButton", "CategoryCombo", "CategoryLabel", "TickSoundCheck", "AlertSoundCheck",
                                 "ShowBarCheck", "ResetBarButton", "SponsorButton", "NoticeView", "ClockLabel",
                                 "StatusLabel", "StatsBand", "StatsLabel", "DailyChart", "NoteGroup", "NoteEdit"};
    int neededWidth = 0, neededHeight = 0;
    for (const char* name : names) {
        const QWidget* shown = Comp(name).Widget();
        ASSERT_NE(shown, nullptr) << name;
        if (shown->parentWidget() != area) continue;
        neededWidth = std::max(neededWidth, shown->geometry().right() + 1);
        neededHeight = std::max(neededHeight, shown->geometry().bottom() + 1);
    }
    EXPECT_EQ(Comp("NoteEdit").Widget()->parentWidget(), Comp("NoteGroup").Widget());

    // The frame's corner lies where designed and the whole window has the design size, unless the
    // frame is so thick that the components would be cut: then the window grows by what they lack.
    x11test::FrameExtents e;
    x11test::Rect outer, wanted;
    const bool placed = QTest::qWaitFor([&] {
        outer = other.FramedGeometry(main, &e);
        wanted = {50, 50, std::max<int>(884, neededWidth + e.left + e.right),
                  std::max<int>(541, neededHeight + e.top + e.bottom)};
        return outer == wanted && (e.top > 0 || !other.Managed()) && window->Height() == wanted.height &&
               window->Top() == 50;
    });
    const x11test::Rect client = other.Geometry(main);
    std::cout << "window manager: " << (other.Managed() ? other.ManagerName() : "none") << ", client "
              << client.width << "x" << client.height << " at " << client.x << "," << client.y << ", frame "
              << e.left << "," << e.right << "," << e.top << "," << e.bottom << "\n";
    EXPECT_TRUE(placed) << "outer " << outer.width << "x" << outer.height << " at " << outer.x << "," << outer.y
                        << ", wanted " << wanted.width << "x" << wanted.height;
    if (other.Managed()) {
        EXPECT_GT(e.top, 0) << "the manager gives the window no title bar";
    }
    // The content needs less than the design size leaves under the managers of the common desktops.
    EXPECT_EQ(wanted.width, 884);

    // The program reads the window as it is.
    EXPECT_EQ(window->Left(), 50);
    EXPECT_EQ(window->Top(), 50);
    EXPECT_EQ(window->Width(), wanted.width);
    EXPECT_EQ(window->Height(), wanted.height);

    // Every component on the client area lies wholly inside it, and the memo inside its group.
    ASSERT_EQ(area->size(), QSize(client.width, client.height));
    int inside = 0;
    for (const char* name : names) {
        const QWidget* shown = Comp(name).Widget();
        const QRect place = shown->geometry();
        if (place.right() < 0) continue;
        ++inside;
        EXPECT_TRUE(shown->parentWidget()->rect().contains(place))
            << name << " " << place.width() << "x" << place.height() << " at " << place.x() << "," << place.y()
            << " is cut by its parent of " << shown->parentWidget()->width() << "x"
            << shown->parentWidget()->height();
    }
    EXPECT_EQ(inside, 15);
}

}  // namespace

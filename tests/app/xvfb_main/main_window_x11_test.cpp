// The program's main window on a real X server with the openbox window manager (run_with_wm.sh):
// its designed 884 x 541 at 50,50 is the whole window, frame included, and the frame cuts none of
// its components.

#include <QtTest/QTest>
#include <QtWidgets/QWidget>
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
    const x11test::Rect designed{50, 50, 884, 541};
    x11test::FrameExtents e;
    const bool framed = QTest::qWaitFor([&] { return other.FramedGeometry(main, &e) == designed; });
    const x11test::Rect client = other.Geometry(main);
    std::cout << "client " << client.width << "x" << client.height << " at " << client.x << "," << client.y
              << ", frame " << e.left << "," << e.right << "," << e.top << "," << e.bottom << "\n";
    EXPECT_TRUE(framed);
    EXPECT_GT(e.top, 0) << "openbox gives the window a caption";
    // The manager's own frame window lies there too.
    const x11test::Rect frame = other.OutermostGeometry(main);
    EXPECT_EQ(frame, designed) << frame.width << "x" << frame.height << " at " << frame.x << "," << frame.y;

    // The program reads the window as designed.
    rt::Window* window = rt::FindWindow("MainWindow");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Left(), 50);
    EXPECT_EQ(window->Top(), 50);
    EXPECT_EQ(window->Width(), 884);
    EXPECT_EQ(window->Height(), 541);

    // Every component on the client area lies wholly inside it (one placed left of the window on
    // purpose stays out of sight), and the memo inside its group.
    const QWidget* area = window->Widget();
    ASSERT_EQ(area->size(), QSize(client.width, client.height));
    int inside = 0;
    for (const char* name : {"StartButton", "CategoryCombo", "CategoryLabel", "TickSoundCheck", "AlertSoundCheck",
                             "ShowBarCheck", "ResetBarButton", "SponsorButton", "NoticeView", "ClockLabel",
                             "StatusLabel", "StatsBand", "StatsLabel", "DailyChart", "NoteGroup", "NoteEdit"}) {
        const rt::Component& c = Comp(name);
        ASSERT_NE(c.Widget(), nullptr) << name;
        const QRect place = c.Widget()->geometry();
        if (place.right() < 0) continue;
        ++inside;
        EXPECT_TRUE(c.Widget()->parentWidget()->rect().contains(place))
            << name << " " << place.width() << "x" << place.height() << " at " << place.x() << "," << place.y()
            << " is cut by its parent of " << c.Widget()->parentWidget()->width() << "x"
            << c.Widget()->parentWidget()->height();
    }
    EXPECT_EQ(inside, 15);
    EXPECT_EQ(Comp("NoteEdit").Widget()->parentWidget(), Comp("NoteGroup").Widget());
}

}  // namespace

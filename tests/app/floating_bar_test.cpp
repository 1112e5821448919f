// The floating progress bar on the offscreen platform: opening and closing with the tomato and the
// show box, its remembered position, the reset button, the drag, the progress and the one-second
// tick's topmost calls (which the window-function layer reports without doing, off X11).

#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtGui/QWindow>
#include <QtWidgets/QWidget>

#include "app_fixture.h"
#include "floating_bar.h"
#include "globals.h"
#include "runtime/events.h"
#include "runtime/messagebox.h"
#include "runtime/win32.h"

namespace w = rt::win32;

namespace {

constexpr char kBar[] = "FloatingBarWindow";

class FloatingBar : public apptest::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        w::SetCallRecorder([this](const w::CallRecord& call) { calls.push_back(call); });
    }
    void TearDown() override {
        w::SetCallRecorder({});
        w::SetForegroundWindowHook({});
        AppFixture::TearDown();
    }

    // Starts the program with the show box as given and the bar remembered at left, top.
    void StartWith(bool showBar, int left, int top) {
        StartProgram();
        Settle();  // the main window becomes active, as it is when the user clicks in it
        Comp("ShowBarCheck").SetChecked(showBar);
        g_barLeft = left;
        g_barTop = top;
    }
    void StartTomato() {
        Comp("CategoryCombo").SetCurrentIndex(1);
        Comp("StartButton").Click();
        ASSERT_EQ(g_running, 1);
    }
    static rt::Window* Bar() { return rt::FindWindow(kBar); }
    // Lets the windows whose close was asked for go, as the event loop does after a handler.
    static void Settle() { rt::ProcessPendingEvents(); }
    static void TickBar() {
        rt::Component* timer = rt::FindComponent(kBar, "FloatingBarTimer");
        ASSERT_NE(timer, nullptr);
        timer->Tick();
        Settle();
    }
    static QPoint Position(const rt::Window* window) { return {window->Left(), window->Top()}; }
    static QPoint Remembered() { return {g_barLeft, g_barTop}; }

    std::vector<w::CallRecord> calls;
};

TEST_F(FloatingBar, StartWithTheBoxTickedOpensTheBarWhereItWasAndKeysItsBackground) {
    StartWith(true, 300, 200);
    rt::Window* main = rt::FindWindow("MainWindow");
    ASSERT_NE(main, nullptr);
    ASSERT_EQ(QGuiApplication::focusWindow(), main->Widget()->windowHandle());
    StartTomato();
    Settle();

    rt::Window* bar = Bar();
    ASSERT_NE(bar, nullptr);
    // The left comes from the copy: the first write (the top) already stored the design left.
    EXPECT_EQ(Position(bar), QPoint(300, 200));
    EXPECT_EQ(Remembered(), QPoint(300, 200));

    // The main window keeps the focus.
    EXPECT_EQ(QGuiApplication::focusWindow(), main->Widget()->windowHandle());

    // The background is keyed: layered style added to the style read, then the key colour.
    const auto handle = static_cast<std::int64_t>(rt::WindowHandle(kBar));
    std::vector<std::pair<std::string, std::vector<std::int64_t>>> made;
    for (const auto& call : calls) made.emplace_back(call.function, call.arguments);
    const std::vector<std::pair<std::string, std::vector<std::int64_t>>> expected = {
        {"GetWindowLongA", {handle, -20}},
        {"SetWindowLongA", {handle, -20, 0x80000}},
        {"SetLayeredWindowAttributes", {handle, 0xC080FF, 0, 1}},
    };
    EXPECT_EQ(made, expected);
}

TEST_F(FloatingBar, ShowBoxClosesAndReopensTheBarOnlyDuringATomato) {
    StartWith(true, 50, 50);
    // While idle the box changes nothing on screen.
    Comp("ShowBarCheck").Click();
    Comp("ShowBarCheck").Click();
    Settle();
    EXPECT_EQ(Bar(), nullptr);

    StartTomato();
    ASSERT_NE(Bar(), nullptr);
    Bar()->SetLeft(420);
    Bar()->SetTop(333);
    EXPECT_EQ(Remembered(), QPoint(420, 333));

    Comp("ShowBarCheck").Click();  // unticked: gone once the click has been handled
    Settle();
    EXPECT_EQ(Bar(), nullptr);
    Comp("ShowBarCheck").Click();  // ticked again: back at the same place
    ASSERT_NE(Bar(), nullptr);
    EXPECT_EQ(Position(Bar()), QPoint(420, 333));
}

TEST_F(FloatingBar, BarIsGoneAtItsFirstTickAfterTheTomatoEnds) {
    struct Case {
        const char* id;
        std::function<void()> end;
    };
    const std::vector<Case> cases = {
        {"abandoned", [this] {
             Answer(rt::kAnswerYes);
             Comp("StartButton").Click();
         }},
        {"finished", [this] {
             AdvanceSeconds(1500);
             Answer(rt::kAnswerYes);
             rt::FindComponent("MainWindow", "RazezuZivur")->Tick();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        StartWith(true, 100, 100);
        StartTomato();
        c.end();
        ASSERT_EQ(g_running, 0);
        Settle();
        ASSERT_NE(Bar(), nullptr) << "the tomato's end itself leaves the bar to its tick";
        TickBar();
        EXPECT_EQ(Bar(), nullptr);
        EndProcess();
    }
}

TEST_F(FloatingBar, ProgressRunsOverTheWholeSecondsOfTheTomato) {
    StartWith(true, 0, 0);
    StartTomato();
    rt::Component* progress = rt::FindComponent(kBar, "FloatingProgressBar");
    ASSERT_NE(progress, nullptr);
    for (int elapsed : {0, 1, 61, 900, 1499}) {
        SCOPED_TRACE(elapsed);
        SetNow(rt::DateTime(g_start.days + elapsed / 86400.0));
        TickBar();
        EXPECT_EQ(progress->Minimum(), 0);
        EXPECT_EQ(progress->Maximum(), 1500);
        EXPECT_EQ(progress->Position(), elapsed);
    }
}

TEST_F(FloatingBar, TickTrimsAndPutsTheBarAboveTheForegroundWindow) {
    StartWith(true, 0, 0);
    StartTomato();
    const w::HWND bar = rt::WindowHandle(kBar);
    const auto b = static_cast<std::int64_t>(bar);
    struct Case {
        const char* id;
        w::HWND foreground;
        std::vector<std::pair<std::string, std::vector<std::int64_t>>> expected;
    };
    const std::vector<Case> cases = {
        {"another window in front", 0x3a00007,
         {{"SetProcessWorkingSetSize", {-1, -1, -1}},
          {"GetForegroundWindow", {0x3a00007}},
          {"SetWindowPos", {0x3a00007, -2, 0, 0, 0, 0, 3}},
          {"SetWindowPos", {b, -1, 0, 0, 0, 0, 3}}}},
        {"the bar in front: nothing changes", bar,
         {{"SetProcessWorkingSetSize", {-1, -1, -1}}, {"GetForegroundWindow", {b}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        w::SetForegroundWindowHook([&c] { return c.foreground; });
        calls.clear();
        TickBar();
        std::vector<std::pair<std::string, std::vector<std::int64_t>>> made;
        for (const auto& call : calls) made.emplace_back(call.function, call.arguments);
        EXPECT_EQ(made, c.expected);
    }
}

TEST_F(FloatingBar, ResetWithTheBarOpenMovesItHomeAndThatIsSaved) {
    StartWith(true, 300, 200);
    StartTomato();
    Comp("ResetBarButton").Click();
    ASSERT_NE(Bar(), nullptr);
    EXPECT_EQ(Position(Bar()), QPoint(10, 10));
    EXPECT_EQ(Remembered(), QPoint(10, 10));

    Answer(rt::kAnswerNo);  // keep the tomato; the close attempt saves the settings all the same
    EXPECT_FALSE(CloseProgram());
    EXPECT_EQ(InfoValue("tag_top"), "10");
    EXPECT_EQ(InfoValue("tag_left"), "10");
}

TEST_F(FloatingBar, ResetWithTheBoxUntickedDoesNothing) {
    StartWith(true, 300, 200);
    StartTomato();
    Comp("ShowBarCheck").Click();  // unticked: the bar closes
    Settle();
    Comp("ResetBarButton").Click();
    EXPECT_EQ(Remembered(), QPoint(300, 200));
    Comp("ShowBarCheck").Click();
    ASSERT_NE(Bar(), nullptr);
    EXPECT_EQ(Position(Bar()), QPoint(300, 200));

    // Idle with the box unticked: nothing either.
    EndProcess();
    StartWith(false, 300, 200);
    Comp("ResetBarButton").Click();
    EXPECT_EQ(Remembered(), QPoint(300, 200));
}

TEST_F(FloatingBar, ResetWhileIdleWithTheBoxTickedSendsTheNextBarHome) {
    StartWith(true, 300, 200);
    Comp("ResetBarButton").Click();
    EXPECT_EQ(Bar(), nullptr);
    EXPECT_EQ(Remembered(), QPoint(10, 10));
    StartTomato();
    ASSERT_NE(Bar(), nullptr);
    EXPECT_EQ(Position(Bar()), QPoint(10, 10));
}

// A press, moves and a release of the left button on the bar, in screen coordinates.
void DragBar(QWidget* target, QPoint from, std::vector<QPoint> path) {
    auto send = [target](QEvent::Type type, QPoint global) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, target->mapFromGlobal(QPointF(global)), QPointF(global), button, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    };
    send(QEvent::MouseButtonPress, from);
    for (QPoint point : path) send(QEvent::MouseMove, point);
    send(QEvent::MouseButtonRelease, path.empty() ? from : path.back());
}

TEST_F(FloatingBar, DraggedPositionSurvivesACloseAndANewStart) {
    StartWith(true, 100, 100);
    StartTomato();
    ASSERT_NE(Bar(), nullptr);
    // Dragged by the progress bar itself, as the user would hold it.
    QWidget* grip = rt::FindComponent(kBar, "FloatingProgressBar")->Widget();
    DragBar(grip, {110, 105}, {{150, 150}, {250, 180}, {310, 205}});
    EXPECT_EQ(Position(Bar()), QPoint(300, 200));
    EXPECT_EQ(Remembered(), QPoint(300, 200));

    Answer(rt::kAnswerYes);  // abandon, then close while idle: the program ends and has saved
    Comp("StartButton").Click();
    CloseProgram();
    EndProcess();
    StartProgram();
    EXPECT_TRUE(Comp("ShowBarCheck").Checked());
    EXPECT_EQ(Remembered(), QPoint(300, 200));
    StartTomato();
    ASSERT_NE(Bar(), nullptr);
    EXPECT_EQ(Position(Bar()), QPoint(300, 200));
}

}  // namespace

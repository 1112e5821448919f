// Windows from design tables: placement, texts, events and the window's life.
#include "gui_test_util.h"
#include "runtime/qtext.h"
#include "runtime/window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace rt {
namespace {

using test::GuiTest;
using test::On;
using test::OnQueryClose;
using test::WaitUntil;

// A small main window: the memo is designed before the group box that holds it.
WindowDesign SampleWindow(const std::string& name)
{
    WindowDesign w;
    w.name = name;
    w.left = 50;
    w.top = 60;
    w.width = 400;
    w.height = 300;
    w.caption = Gbk("番茄窗口");
    w.components.push_back(DesignComponent(ComponentType::Button, "StartButton", 5, 7, 112, 24, Gbk("开始番茄钟(&S)")));
    w.components.push_back(DesignComponent(ComponentType::CheckBox, "TickCheck", 216, 12, 60, 16, Gbk("滴答声")));
    auto combo = DesignComponent(ComponentType::ComboBox, "CategoryCombo", 125, 9, 83, 20);
    combo.items = {Gbk("选择分类"), Gbk("工作"), Gbk("阅读")};
    w.components.push_back(combo);
    auto clock = DesignComponent(ComponentType::Label, "ClockLabel", 284, 5, 110, 29, "0:00:00");
    clock.font = {Gbk("Segoe UI Light"), 24, 300};
    w.components.push_back(clock);
    w.components.push_back(DesignComponent(ComponentType::Label, "CategoryLabel", -112, 48, 96, 20, Gbk("选择分类(&C)")));
    w.components.push_back(DesignComponent(ComponentType::EditBox, "NoteEdit", 8, 16, 300, 50, "", "NoteGroup"));
    w.components.push_back(DesignComponent(ComponentType::GroupBox, "NoteGroup", 4, 200, 380, 80, Gbk("当前任务备忘(&N)")));
    w.components.push_back(DesignComponent(ComponentType::ShapeBox, "Band", 5, 37, 380, 24));
    auto bar = DesignComponent(ComponentType::ProcessBar, "Bar", 5, 70, 200, 16);
    bar.maximum = 100;
    w.components.push_back(bar);
    auto timer = DesignComponent(ComponentType::Timer, "Ticker", 300, 70, 20, 20);
    timer.interval = 0;
    w.components.push_back(timer);
    return w;
}

TEST_F(GuiTest, WindowFromDesignTablePlacesItsComponents)
{
    const std::string name = test::UniqueWindowName("Placed");
    DefineWindow(SampleWindow(name));
    ASSERT_TRUE(LoadWindow(name));
    Window* window = FindWindow(name);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Widget()->windowTitle(), QString::fromUtf8("番茄窗口"));
    EXPECT_EQ(window->Caption(), Gbk("番茄窗口"));
    EXPECT_EQ(window->Left(), 50);
    EXPECT_EQ(window->Top(), 60);
    EXPECT_EQ(window->Width(), 400);
    EXPECT_EQ(window->Height(), 300);
    EXPECT_TRUE(window->Widget()->isVisible());

    struct Placement {
        const char* name;
        int left, top, width, height;
        const char* shown;  // the text on screen, UTF-8
    };
    const Placement placements[] = {
        {"StartButton", 5, 7, 112, 24, "开始番茄钟(&S)"},
        {"TickCheck", 216, 12, 60, 16, "滴答声"},
        {"CategoryCombo", 125, 9, 83, 20, "选择分类"},
        {"ClockLabel", 284, 5, 110, 29, "0:00:00"},
        {"CategoryLabel", -112, 48, 96, 20, "选择分类(C)"},  // a label drops the mnemonic mark
        {"NoteEdit", 8, 16, 300, 50, ""},
        {"NoteGroup", 4, 200, 380, 80, "当前任务备忘(&N)"},
        {"Band", 5, 37, 380, 24, nullptr},
        {"Bar", 5, 70, 200, 16, nullptr},
    };
    for (const auto& p : placements) {
        SCOPED_TRACE(p.name);
        Component* c = FindComponent(name, p.name);
        ASSERT_NE(c, nullptr);
        ASSERT_NE(c->Widget(), nullptr);
        EXPECT_EQ(c->Widget()->geometry(), QRect(p.left, p.top, p.width, p.height));
        EXPECT_EQ(c->Left(), p.left);
        EXPECT_EQ(c->Top(), p.top);
        if (p.shown == nullptr) {
            continue;
        }
        const QString expected = QString::fromUtf8(p.shown);
        QWidget* w = c->Widget();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(button->text(), expected);
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), expected);
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            EXPECT_EQ(combo->currentText(), expected);
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(group->title(), expected);
        } else if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
            EXPECT_EQ(edit->toPlainText(), expected);
        }
    }

    // The memo lies inside its group box, positioned relative to it.
    Component* group = FindComponent(name, "NoteGroup");
    Component* note = FindComponent(name, "NoteEdit");
    EXPECT_EQ(note->Widget()->parentWidget(), group->Widget());
    EXPECT_EQ(group->Widget()->parentWidget(), window->Widget());
    EXPECT_EQ(note->Widget()->mapTo(window->Widget(), QPoint(0, 0)), QPoint(12, 216));

    // The timer has no widget; unknown names find nothing.
    Component* timer = FindComponent(name, "Ticker");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->Widget(), nullptr);
    EXPECT_EQ(FindComponent(name, "NoSuchComponent"), nullptr);
    EXPECT_EQ(FindComponent("NoSuchWindow", "StartButton"), nullptr);
    EXPECT_EQ(WindowHandle("NoSuchWindow"), 0u);
    EXPECT_NE(WindowHandle(name), 0u);

    // Design font: pixel height and weight as designed; the missing family falls back to an
    // installed one.
    const QFont font = FindComponent(name, "ClockLabel")->Widget()->font();
    EXPECT_EQ(font.pixelSize(), 24);
    EXPECT_EQ(font.weight(), QFont::Light);
    const QFontInfo info(font);
    EXPECT_NE(info.family(), QStringLiteral("Segoe UI Light"));
    EXPECT_FALSE(info.family().isEmpty());
}

TEST_F(GuiTest, ComponentPropertiesRoundTrip)
{
    const std::string name = test::UniqueWindowName("Props");
    DefineWindow(SampleWindow(name));
    ASSERT_TRUE(LoadWindow(name));

    Component* combo = FindComponent(name, "CategoryCombo");
    EXPECT_EQ(combo->CurrentIndex(), 0);
    EXPECT_EQ(combo->ItemCount(), 3);
    EXPECT_EQ(ComboItemText(*combo, 1), Gbk("工作"));
    EXPECT_EQ(ComboItemText(*combo, 2), Gbk("阅读"));
    EXPECT_EQ(ComboItemText(*combo, 3), "");
    EXPECT_EQ(ComboItemText(*combo, -1), "");
    combo->SetCurrentIndex(2);
    EXPECT_EQ(combo->CurrentIndex(), 2);
    combo->SetEnabled(false);
    EXPECT_FALSE(combo->Enabled());

    // Text colour as a Windows colour value 0x00BBGGRR: 0x0000FF is red.
    Component* clock = FindComponent(name, "ClockLabel");
    clock->SetTextColour(0x0000FF);
    EXPECT_EQ(clock->TextColour(), 0x0000FFu);
    EXPECT_EQ(clock->Widget()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    clock->SetTextColour(0x808080);
    EXPECT_EQ(clock->Widget()->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    clock->SetCaption("0:25:00");
    EXPECT_EQ(clock->Caption(), "0:25:00");
    // A label never takes its text for markup.
    clock->SetCaption("<b>x</b>");
    EXPECT_EQ(static_cast<QLabel*>(clock->Widget())->textFormat(), Qt::PlainText);

    // The memo keeps the system's CR LF line breaks and GBK text.
    Component* note = FindComponent(name, "NoteEdit");
    note->SetContent(Gbk("第一行\r\n第二行"));
    EXPECT_EQ(static_cast<QPlainTextEdit*>(note->Widget())->toPlainText(), QString::fromUtf8("第一行\n第二行"));
    EXPECT_EQ(note->Content(), Gbk("第一行\r\n第二行"));

    // A progress bar clamps a position outside its range.
    Component* bar = FindComponent(name, "Bar");
    bar->SetMaximum(1500);
    bar->SetPosition(600);
    EXPECT_EQ(bar->Position(), 600);
    bar->SetPosition(2000);
    EXPECT_EQ(bar->Position(), 1500);
    EXPECT_EQ(static_cast<QProgressBar*>(bar->Widget())->value(), 1500);

    Window* window = FindWindow(name);
    window->SetTag("300");
    EXPECT_EQ(window->Tag(), "300");
    window->SetCaption(Gbk("Tavik tomato 塔维番茄 v1.2.2"));
    EXPECT_EQ(window->Widget()->windowTitle(), QString::fromUtf8("Tavik tomato 塔维番茄 v1.2.2"));
}

TEST_F(GuiTest, ProgressBarLooksTheSameOnAWindowOfAnyBackground)
{
    // The floating bar's design: a bar on a borderless window whose background is a colour key.
    constexpr Colour kKey = 0xC080FF;
    auto grabbed = [](std::int64_t background) {
        WindowDesign w;
        w.name = test::UniqueWindowName("BarOn");
        w.width = 220;
        w.height = 16;
        w.borderless = true;
        w.background = background;
        auto bar = DesignComponent(ComponentType::ProcessBar, "Bar", 0, 0, 200, 16);
        bar.maximum = 1500;
        w.components.push_back(bar);
        DefineWindow(w);
        EXPECT_TRUE(LoadWindow(w.name));
        FindComponent(w.name, "Bar")->SetPosition(750);  // half: fill, groove and frame all show
        return FindWindow(w.name)->Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QImage keyed = grabbed(kKey);
    const QImage ordinary = grabbed(-1);
    ASSERT_EQ(keyed.size(), QSize(220, 16));
    ASSERT_EQ(ordinary.size(), QSize(220, 16));

    // Not one pixel of the bar takes anything from the key colour, not even at its rounded
    // corners, and the window shows the key all around it.
    const QRgb key = qRgb(0xFF, 0x80, 0xC0);
    int differing = 0, keyInBar = 0, marginNotKey = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 220; ++x) {
            const QRgb pixel = keyed.pixel(x, y);
            if (x < 200) {
                differing += pixel != ordinary.pixel(x, y);
                keyInBar += pixel == key;
            } else {
                marginNotKey += pixel != key;
            }
        }
    }
    EXPECT_EQ(differing, 0) << "pixels of the bar that its window's background changed";
    EXPECT_EQ(keyInBar, 0) << "pixels of the bar that the key would cut out";
    EXPECT_EQ(marginNotKey, 0);
}

TEST_F(GuiTest, ClickReachesItsHandlerOnlyFromTheUser)
{
    const std::string name = test::UniqueWindowName("Clicks");
    WindowDesign w = SampleWindow(name);
    int buttonClicks = 0;
    int checkClicks = 0;
    bool checkedInHandler = false;
    w.events.push_back(On("StartButton", EventKind::Clicked, [&] { ++buttonClicks; }));
    w.events.push_back(On("TickCheck", EventKind::Clicked, [&] {
        ++checkClicks;
        checkedInHandler = FindComponent(name, "TickCheck")->Checked();
    }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    Component* button = FindComponent(name, "StartButton");
    Component* check = FindComponent(name, "TickCheck");

    QTest::mouseClick(button->Widget(), Qt::LeftButton);
    EXPECT_EQ(buttonClicks, 1);
    button->Click();
    EXPECT_EQ(buttonClicks, 2);

    // A disabled button ignores the user.
    button->SetEnabled(false);
    QTest::mouseClick(button->Widget(), Qt::LeftButton);
    button->Click();
    EXPECT_EQ(buttonClicks, 2);

    // A check box has toggled when its handler runs; setting the state fires nothing.
    QTest::mouseClick(check->Widget(), Qt::LeftButton);
    EXPECT_EQ(checkClicks, 1);
    EXPECT_TRUE(checkedInHandler);
    check->SetChecked(false);
    check->SetChecked(true);
    EXPECT_EQ(checkClicks, 1);
    EXPECT_TRUE(check->Checked());
    check->Click();
    EXPECT_EQ(checkClicks, 2);
    EXPECT_FALSE(checkedInHandler);
}

TEST_F(GuiTest, TimerTicksAtItsIntervalAndStops)
{
    const std::string name = test::UniqueWindowName("Ticks");
    WindowDesign w = SampleWindow(name);
    int ticks = 0;
    w.events.push_back(On("Ticker", EventKind::TimerTick, [&] { ++ticks; }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    Component* timer = FindComponent(name, "Ticker");
    test::Pump(150);
    EXPECT_EQ(ticks, 0);  // interval 0: not running
    timer->SetInterval(50);
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 3; }, 2000));
    timer->SetInterval(0);
    const int stoppedAt = ticks;
    test::Pump(200);
    EXPECT_EQ(ticks, stoppedAt);
}

TEST_F(GuiTest, CreatedFiresDuringTheLoadBeforeTheWindowShows)
{
    const std::string name = test::UniqueWindowName("Created");
    WindowDesign w = SampleWindow(name);
    int created = 0;
    bool visibleInHandler = true;
    bool componentsInHandler = false;
    w.events.push_back(On("", EventKind::Created, [&] {
        ++created;
        Window* window = FindWindow(name);
        visibleInHandler = window != nullptr && window->Widget()->isVisible();
        componentsInHandler = FindComponent(name, "NoteEdit") != nullptr;
        window->SetCaption(Gbk("已创建"));
    }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    EXPECT_EQ(created, 1);
    EXPECT_FALSE(visibleInHandler);
    EXPECT_TRUE(componentsInHandler);
    EXPECT_EQ(FindWindow(name)->Caption(), Gbk("已创建"));
    // Loading an open window does nothing.
    ASSERT_TRUE(LoadWindow(name));
    EXPECT_EQ(created, 1);
    EXPECT_FALSE(LoadWindow("NoSuchDesign"));
}

TEST_F(GuiTest, FirstActivationFiresOncePerRun)
{
    const std::string name = test::UniqueWindowName("Start");
    WindowDesign w = SampleWindow(name);
    w.startWindow = true;
    int activations = 0;
    w.events.push_back(On("", EventKind::FirstActivation, [&] { ++activations; }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    EXPECT_EQ(activations, 0);  // it comes from the event loop, after the load
    ASSERT_TRUE(WaitUntil([&] { return activations == 1; }));

    // Another window takes the activation and gives it back; the window is closed and loaded anew.
    const std::string other = test::UniqueWindowName("Other");
    DefineWindow(SampleWindow(other));
    ASSERT_TRUE(LoadWindow(other));
    SetFocusTo(FindWindow(other));
    test::Pump(100);
    SetFocusTo(FindWindow(name));
    test::Pump(100);
    ASSERT_TRUE(FindWindow(name)->RequestClose());
    ASSERT_TRUE(LoadWindow(name));
    test::Pump(500);
    EXPECT_EQ(activations, 1);
}

TEST_F(GuiTest, RefusedCloseKeepsTheWindow)
{
    const std::string name = test::UniqueWindowName("Refuse");
    WindowDesign w = SampleWindow(name);
    int asked = 0;
    bool allow = false;
    w.events.push_back(OnQueryClose([&] {
        ++asked;
        return allow;
    }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    QWidget* widget = FindWindow(name)->Widget();

    // The window manager's close goes through the handler as well.
    widget->close();
    EXPECT_EQ(asked, 1);
    ASSERT_NE(FindWindow(name), nullptr);
    EXPECT_TRUE(widget->isVisible());
    EXPECT_FALSE(FindWindow(name)->RequestClose());
    EXPECT_EQ(asked, 2);
    test::Pump(50);
    ASSERT_NE(FindWindow(name), nullptr);
    EXPECT_TRUE(widget->isVisible());

    allow = true;
    widget->close();
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(FindWindow(name), nullptr);
}

TEST_F(GuiTest, PositionChangedFiresInsideTheWriteOfLeftOrTop)
{
    const std::string name = test::UniqueWindowName("Bar");
    WindowDesign w;
    w.name = name;
    w.left = 50;
    w.top = 50;
    w.width = 220;
    w.height = 16;
    w.borderless = true;
    w.background = 0xC080FF;
    int barTop = -1;
    int barLeft = -1;
    int moves = 0;
    w.events.push_back(On("", EventKind::PositionChanged, [&] {
        ++moves;
        barTop = FindWindow(name)->Top();
        barLeft = FindWindow(name)->Left();
    }));
    // As the floating bar does: restore the position at creation, top first, then left.
    w.events.push_back(On("", EventKind::Created, [&] {
        Window* window = FindWindow(name);
        window->SetTop(200);
        EXPECT_EQ(barTop, 200);
        EXPECT_EQ(barLeft, 50);
        window->SetLeft(300);
        EXPECT_EQ(barLeft, 300);
    }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    EXPECT_EQ(moves, 2);
    Window* window = FindWindow(name);
    EXPECT_EQ(window->Widget()->palette().color(QPalette::Window), QColor(0xFF, 0x80, 0xC0));
    test::Pump(100);  // showing the window reports no further move
    EXPECT_EQ(moves, 2);

    window->SetTop(10);
    EXPECT_EQ(moves, 3);
    EXPECT_EQ(barTop, 10);
    window->SetLeft(10);
    EXPECT_EQ(moves, 4);
    EXPECT_EQ(barLeft, 10);

    // A move by other means (the user dragging the window) is reported too.
    window->Widget()->move(120, 130);
    EXPECT_TRUE(WaitUntil([&] { return barLeft == 120 && barTop == 130; }));
}

TEST_F(GuiTest, CloseWindowUnitClosesAfterTheCurrentEventWithoutQueryClose)
{
    const std::string name = test::UniqueWindowName("Unit");
    WindowDesign w = SampleWindow(name);
    auto& timer = w.components.back();
    timer.interval = 30;
    int asked = 0;
    int ticks = 0;
    bool openAfterCall = false;
    w.events.push_back(OnQueryClose([&] {
        ++asked;
        return false;
    }));
    w.events.push_back(On("Ticker", EventKind::TimerTick, [&] {
        ++ticks;
        CloseWindowUnit(name);
        openAfterCall = FindWindow(name) != nullptr && FindComponent(name, "StartButton") != nullptr;
    }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    ASSERT_TRUE(WaitUntil([&] { return FindWindow(name) == nullptr; }));
    EXPECT_TRUE(openAfterCall);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(asked, 0);
    test::Pump(100);
    EXPECT_EQ(ticks, 1);  // its timer went with it

    // Loaded again, it is created anew.
    ASSERT_TRUE(LoadWindow(name));
    EXPECT_NE(FindWindow(name), nullptr);
    CloseWindowUnit("NoSuchWindow");
}

TEST_F(GuiTest, GotFocusAndListSelectedReachTheirHandlers)
{
    const std::string name = test::UniqueWindowName("Focus");
    WindowDesign w = SampleWindow(name);
    w.startWindow = true;
    int focus = 0;
    int selected = 0;
    w.events.push_back(On("StartButton", EventKind::GotFocus, [&] { ++focus; }));
    w.events.push_back(On("CategoryCombo", EventKind::ListSelected, [&] { ++selected; }));
    DefineWindow(w);
    ASSERT_TRUE(LoadWindow(name));
    ASSERT_TRUE(WaitUntil([&] { return FindWindow(name)->Widget()->isActiveWindow(); }));
    SetFocusTo(FindComponent(name, "StartButton"));
    EXPECT_TRUE(WaitUntil([&] { return focus == 1; }));

    Component* combo = FindComponent(name, "CategoryCombo");
    combo->SetCurrentIndex(1);
    EXPECT_EQ(selected, 0);  // only the user's choice counts
    QTest::keyClick(combo->Widget(), Qt::Key_Down);  // the user picks the next item
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(combo->CurrentIndex(), 2);
}

}  // namespace
}  // namespace rt

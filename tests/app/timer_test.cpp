// The tomato timer through the main window: start, countdown, natural end, abandon, tick sound.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "globals.h"
#include "runtime/datetime.h"
#include "runtime/messagebox.h"
#include "runtime/window.h"
#include "timer.h"

namespace apptest {
namespace {

constexpr rt::Colour kGrey = 0x808080;
constexpr rt::Colour kRed = 0x0000FF;

const std::string kTickPlay = "play 142380 loop";
const std::string kAlertPlay = "play 354160 once";
const std::string kCompletionQuestion = "box 番茄时钟结束！|您是否正常完成了这个番茄鈡？|0x24";
const std::string kCompletedBox = "box 恭喜|您的人生又多了1个完美的番茄钟！|0x40";
const std::string kAbandonQuestion = "box 番茄还没成熟|是不是想要个烂番茄？|0x24";
const std::string kAbandonedBox = "box 恭喜|你成功获得1个烂番茄！|0x40";
const std::string kGoOnBox = "box 番茄钟仍在继续|请继续保持忙碌状态！|0x40";

class TimerTest : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        StartProgram();
        ClearRecords();
    }

    // Chooses a category (1 is 工作) and sets the sound check boxes as the user would have.
    void Prepare(int category = 1, bool tick = false, bool alert = true) {
        Comp("CategoryCombo").SetCurrentIndex(category);
        Comp("TickSoundCheck").SetChecked(tick);
        Comp("AlertSoundCheck").SetChecked(alert);
        Comp("ShowBarCheck").SetChecked(false);
    }

    void ClickStart() { Comp("StartButton").Click(); }
    void Tick() { Comp("RazezuZivur").Tick(); }
    // Moves the pinned clock to `seconds` after the tomato's start and lets one tick run.
    void TickAt(std::int64_t seconds) {
        SetNow(g_start);
        AdvanceSeconds(seconds);
        Tick();
    }

    std::string Clock() { return Comp("ClockLabel").Caption(); }
    rt::Colour ClockColour() { return Comp("ClockLabel").TextColour(); }

    void ExpectIdleWindow() {
        EXPECT_EQ(g_running, 0);
        EXPECT_EQ(U8(Clock()), "0:00:00");
        EXPECT_EQ(ClockColour(), kGrey);
        EXPECT_TRUE(Comp("CategoryCombo").Enabled());
        EXPECT_EQ(U8(Comp("StartButton").Caption()), "开始番茄钟(&S)");
    }
};

TEST_F(TimerTest, CreatedWindowIsIdle) {
    ExpectIdleWindow();
    EXPECT_EQ(g_tomatoMinutes, 25);
}

TEST_F(TimerTest, StartWithoutCategoryIsRefused) {
    Prepare(0, /*tick=*/true);
    ClickStart();
    EXPECT_EQ(timeline, (std::vector<std::string>{"box 提示|请选择分类。|0x40"}));
    ExpectIdleWindow();
    Tick();
    EXPECT_EQ(U8(Clock()), "0:00:00");
    EXPECT_TRUE(TomatoRows().empty());
}

TEST_F(TimerTest, StartShowsTheFullTomatoInRed) {
    Prepare(2, /*tick=*/true);
    const rt::DateTime startedAt = Now();
    ClickStart();
    EXPECT_EQ(g_running, 1);
    EXPECT_EQ(g_start, startedAt);
    EXPECT_EQ(U8(Clock()), "0:25:00");
    EXPECT_EQ(ClockColour(), kRed);
    EXPECT_FALSE(Comp("CategoryCombo").Enabled());
    EXPECT_EQ(U8(Comp("StartButton").Caption()), "停止番茄钟(&P)");
    EXPECT_EQ(timeline, (std::vector<std::string>{kTickPlay}));
    EXPECT_EQ(rt::FindWindow("FloatingBarWindow"), nullptr);
}

TEST_F(TimerTest, StartWithBarCheckedOpensTheBar) {
    Prepare();
    Comp("ShowBarCheck").SetChecked(true);
    ClickStart();
    EXPECT_NE(rt::FindWindow("FloatingBarWindow"), nullptr);
    EXPECT_EQ(g_running, 1);
}

// The countdown at several times of day, so that the rounding of day fractions is exercised.
struct CountdownCase {
    const char* id;
    int hour, minute, second;
};

void PrintTo(const CountdownCase& c, std::ostream* os) { *os << c.id; }

class CountdownTest : public TimerTest, public ::testing::WithParamInterface<CountdownCase> {};

TEST_P(CountdownTest, CountsDownAndEndsAtTwentyFiveMinutes) {
    const CountdownCase& c = GetParam();
    SetNow(2026, 3, 9, c.hour, c.minute, c.second);
    Prepare();
    ClickStart();

    struct Step {
        std::int64_t after;
        const char* clock;
    };
    const Step steps[] = {{0, "0:25:00"},   {1, "0:24:59"},    {-60, "0:26:00"}, {600, "0:15:00"},
                          {1441, "0:00:59"}, {1499, "0:00:01"}};
    for (const Step& s : steps) {
        TickAt(s.after);
        EXPECT_EQ(U8(Clock()), s.clock) << "+" << s.after << " s";
        EXPECT_EQ(ClockColour(), kRed) << "+" << s.after << " s";
        EXPECT_EQ(g_running, 1) << "+" << s.after << " s";
    }
    EXPECT_TRUE(timeline.empty());

    Answer(rt::kAnswerYes);
    TickAt(1500);
    EXPECT_EQ(timeline, (std::vector<std::string>{kAlertPlay, kCompletionQuestion, kCompletedBox, "stop"}));
    ExpectIdleWindow();
}

INSTANTIATE_TEST_SUITE_P(TimesOfDay, CountdownTest,
                         ::testing::Values(CountdownCase{"morning", 10, 0, 0}, CountdownCase{"midnight", 0, 0, 0},
                                           CountdownCase{"afternoon", 13, 47, 13},
                                           CountdownCase{"late", 23, 34, 59}, CountdownCase{"odd", 7, 7, 7}),
                         [](const auto& info) { return std::string(info.param.id); });

TEST_F(TimerTest, NaturalEndAnsweredYesRecordsAGoodTomato) {
    Prepare(1, /*tick=*/true);
    ClickStart();
    ClearRecords();

    // While the question is open the window is idle already, and a tick neither ends the tomato
    // again nor counts down.
    Answer(rt::kAnswerYes, [&] {
        EXPECT_EQ(g_running, 0);
        EXPECT_EQ(U8(Clock()), "0:00:00");
        EXPECT_EQ(ClockColour(), kGrey);
        EXPECT_TRUE(TomatoRows().empty());
        AdvanceSeconds(1);
        Tick();
        EXPECT_EQ(U8(Clock()), "0:00:00");
    });
    // The congratulation comes after the recording, while the alert still plays.
    Answer(rt::kAnswerOk, [&] {
        EXPECT_EQ(TomatoRows().size(), 1u);
        EXPECT_EQ(timeline.back(), kCompletedBox);
    });
    TickAt(1500);

    // The tick loop plays on under the alert; both stop after the answer has been handled.
    EXPECT_EQ(timeline, (std::vector<std::string>{kAlertPlay, kCompletionQuestion, kCompletedBox, "stop"}));
    const auto rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, 1);
    EXPECT_EQ(U8(rows[0].classname.value_or("")), "工作");
    EXPECT_EQ(InfoValue("goodtomato"), "1");
    ExpectIdleWindow();
}

TEST_F(TimerTest, NaturalEndAnsweredNoRecordsABadTomatoSilently) {
    Prepare(3);
    ClickStart();
    ClearRecords();
    Answer(rt::kAnswerNo);
    TickAt(1500);
    EXPECT_EQ(timeline, (std::vector<std::string>{kAlertPlay, kCompletionQuestion, "stop"}));
    const auto rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, 2);
    EXPECT_EQ(U8(rows[0].classname.value_or("")), "学习");
    EXPECT_EQ(InfoValue("badtomato"), "1");
    ExpectIdleWindow();
}

TEST_F(TimerTest, NaturalEndWithAlertUncheckedIsSilent) {
    Prepare(1, /*tick=*/false, /*alert=*/false);
    ClickStart();
    ClearRecords();
    Answer(rt::kAnswerYes);
    TickAt(1500);
    EXPECT_EQ(timeline, (std::vector<std::string>{kCompletionQuestion, kCompletedBox, "stop"}));
    EXPECT_EQ(TomatoRows().size(), 1u);
}

TEST_F(TimerTest, LateFirstTickStillEndsOnce) {
    Prepare();
    ClickStart();
    ClearRecords();
    Answer(rt::kAnswerYes);
    TickAt(4000);  // the machine slept through the end
    TickAt(4001);
    EXPECT_EQ(TomatoRows().size(), 1u);
    EXPECT_EQ(timeline, (std::vector<std::string>{kAlertPlay, kCompletionQuestion, kCompletedBox, "stop"}));
}

TEST_F(TimerTest, AbandonYesRecordsABadTomatoThenTells) {
    Prepare(4, /*tick=*/true);
    ClickStart();
    TickAt(300);
    ClearRecords();

    Answer(rt::kAnswerYes);
    // The message comes after the recording and the reset of the window.
    Answer(rt::kAnswerOk, [&] {
        ExpectIdleWindow();
        EXPECT_EQ(TomatoRows().size(), 1u);
    });
    ClickStart();

    EXPECT_EQ(timeline, (std::vector<std::string>{kAbandonQuestion, "stop", kAbandonedBox}));
    const auto rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, 2);
    EXPECT_EQ(U8(rows[0].classname.value_or("")), "兼职");
    ExpectIdleWindow();
}

TEST_F(TimerTest, AbandonNoLetsTheTomatoRunOn) {
    Prepare(1, /*tick=*/true);
    ClickStart();
    TickAt(300);
    ClearRecords();

    // Ticks during the abandon question keep counting down.
    Answer(rt::kAnswerNo, [&] {
        TickAt(301);
        EXPECT_EQ(U8(Clock()), "0:19:59");
    });
    ClickStart();

    EXPECT_EQ(timeline, (std::vector<std::string>{kAbandonQuestion, kGoOnBox}));
    EXPECT_EQ(g_running, 1);
    EXPECT_FALSE(Comp("CategoryCombo").Enabled());
    EXPECT_EQ(U8(Comp("StartButton").Caption()), "停止番茄钟(&P)");
    EXPECT_TRUE(TomatoRows().empty());
    TickAt(302);
    EXPECT_EQ(U8(Clock()), "0:19:58");
}

// The 25 minutes run out while the abandon question is open: the natural end happens inside the
// question, and the abandon answer given afterwards has nothing left to act on.
struct LateAbandonCase {
    const char* id;
    int abandonAnswer;
    int completionAnswer;
    int expectedState;
};

void PrintTo(const LateAbandonCase& c, std::ostream* os) { *os << c.id; }

class AbandonAcrossEndTest : public TimerTest, public ::testing::WithParamInterface<LateAbandonCase> {};

TEST_P(AbandonAcrossEndTest, RecordsOnlyTheNaturalEnd) {
    const LateAbandonCase& c = GetParam();
    Prepare(1, /*tick=*/true);
    ClickStart();
    TickAt(1490);
    ClearRecords();

    Answer(c.abandonAnswer, [&] { TickAt(1500); });
    Answer(c.completionAnswer);
    ClickStart();

    std::vector<std::string> expected{kAbandonQuestion, kAlertPlay, kCompletionQuestion};
    if (c.completionAnswer == rt::kAnswerYes) expected.push_back(kCompletedBox);
    expected.push_back("stop");
    EXPECT_EQ(timeline, expected);
    const auto rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, c.expectedState);
    EXPECT_EQ(InfoValue("goodtomato"), c.expectedState == 1 ? "1" : "0");
    EXPECT_EQ(InfoValue("badtomato"), c.expectedState == 2 ? "1" : "0");
    ExpectIdleWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AbandonAcrossEndTest,
    ::testing::Values(LateAbandonCase{"YesAfterCompleted", rt::kAnswerYes, rt::kAnswerYes, 1},
                      LateAbandonCase{"YesAfterNotCompleted", rt::kAnswerYes, rt::kAnswerNo, 2},
                      LateAbandonCase{"NoAfterCompleted", rt::kAnswerNo, rt::kAnswerYes, 1}),
    [](const auto& info) { return std::string(info.param.id); });

TEST_F(TimerTest, TickSoundFollowsItsCheckBox) {
    Prepare(1, /*tick=*/false);
    // While idle, ticking the box starts nothing.
    Comp("TickSoundCheck").Click();
    EXPECT_EQ(timeline, (std::vector<std::string>{"stop"}));
    Comp("TickSoundCheck").Click();
    ClickStart();
    ClearRecords();

    Comp("TickSoundCheck").Click();  // on during a tomato
    EXPECT_EQ(timeline, (std::vector<std::string>{kTickPlay}));
    Comp("TickSoundCheck").Click();  // off again
    EXPECT_EQ(timeline, (std::vector<std::string>{kTickPlay, "stop"}));
    EXPECT_EQ(g_running, 1);
}

// What a RIFF WAVE file says about itself, walked chunk by chunk.
struct WaveInfo {
    bool valid = false;
    int format = 0, channels = 0, rate = 0, bits = 0;
    std::size_t dataBytes = 0;
};

std::uint32_t Le32(const std::string& s, std::size_t at) {
    return static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8 |
           static_cast<std::uint8_t>(s[at + 2]) << 16 | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}

WaveInfo ReadWave(const std::string& wave) {
    WaveInfo info;
    if (wave.size() < 12 || wave.compare(0, 4, "RIFF") != 0 || wave.compare(8, 4, "WAVE") != 0) return info;
    if (Le32(wave, 4) != wave.size() - 8) return info;
    bool fmt = false;
    for (std::size_t at = 12; at + 8 <= wave.size();) {
        const std::string tag = wave.substr(at, 4);
        const std::size_t size = Le32(wave, at + 4);
        if (at + 8 + size > wave.size()) return info;
        if (tag == "fmt " && size >= 16) {
            info.format = static_cast<std::uint8_t>(wave[at + 8]) | static_cast<std::uint8_t>(wave[at + 9]) << 8;
            info.channels = static_cast<std::uint8_t>(wave[at + 10]);
            info.rate = static_cast<int>(Le32(wave, at + 12));
            info.bits = static_cast<std::uint8_t>(wave[at + 22]);
            fmt = true;
        } else if (tag == "data") {
            info.dataBytes = size;
            info.valid = fmt && at + 8 + size == wave.size();
            return info;
        }
        at += 8 + size + (size & 1);
    }
    return info;
}

TEST_F(TimerTest, SoundsAreTheEmbeddedWaves) {
    const std::string& tick = app::TickSound();
    const std::string& alert = app::AlertSound();
    EXPECT_EQ(tick.size(), kTickWaveBytes);
    EXPECT_EQ(alert.size(), kAlertWaveBytes);
    const WaveInfo t = ReadWave(tick);
    EXPECT_TRUE(t.valid);
    EXPECT_EQ(t.format, 1);
    EXPECT_EQ(t.channels, 1);
    EXPECT_EQ(t.rate, 22050);
    EXPECT_EQ(t.bits, 16);
    EXPECT_EQ(t.dataBytes, 142336u);
    const WaveInfo a = ReadWave(alert);
    EXPECT_TRUE(a.valid);
    EXPECT_EQ(a.format, 1);
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.rate, 22050);
    EXPECT_EQ(a.bits, 16);
    EXPECT_EQ(a.dataBytes, 351236u);
}

}  // namespace
}  // namespace apptest

// The program's frame: the two windows as designed, the close handler, the end of the session, the
// sponsor button and the first activation without the update library (this test program has none
// beside it).

#include <gtest/gtest.h>

#include <QFont>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "globals.h"
#include "program.h"
#include "recorddb/sqlite_db.h"
#include "runtime/messagebox.h"
#include "runtime/window.h"
#include "session_end.h"

namespace apptest {
namespace {

using rt::ComponentType;

struct DesignCase {
    const char* name;
    ComponentType type;
    int left, top, width, height;
    const char* caption;  // UTF-8; nullptr: not checked (no caption by design)
};

// Every component of MainWindow at its design place; NoteEdit relative to NoteGroup.
const DesignCase kMainComponents[] = {
    {"StartButton", ComponentType::Button, 5, 7, 112, 24, "开始番茄钟(&S)"},
    {"CategoryCombo", ComponentType::ComboBox, 125, 9, 83, 20, nullptr},
    {"CategoryLabel", ComponentType::Label, -112, 48, 96, 20, "选择分类(&C)"},
    {"TickSoundCheck", ComponentType::CheckBox, 216, 12, 60, 16, "滴答声"},
    {"AlertSoundCheck", ComponentType::CheckBox, 280, 12, 96, 16, "声音提示"},
    {"ShowBarCheck", ComponentType::CheckBox, 355, 12, 93, 16, "显示进度条"},
    {"ResetBarButton", ComponentType::Button, 447, 10, 84, 19, "进度条归位"},
    {"SponsorButton", ComponentType::Button, 539, 10, 84, 19, "捐助..."},
    {"RazezuZivur", ComponentType::Timer, 636, 8, 40, 32, nullptr},
    {"NoticeView", ComponentType::HtmlViewer, 656, 4, 20, 20, nullptr},
    {"ClockLabel", ComponentType::Label, 684, 5, 189, 29, nullptr},
    {"StatusLabel", ComponentType::Label, 688, 42, 185, 18, nullptr},
    {"StatsBand", ComponentType::ShapeBox, 5, 37, 867, 24, nullptr},
    {"StatsLabel", ComponentType::Label, 5, 42, 671, 18, nullptr},
    {"DailyChart", ComponentType::BarChart, 5, 65, 867, 328, nullptr},
    {"NoteGroup", ComponentType::GroupBox, 4, 408, 867, 96, "当前任务备忘(&N)"},
    {"NoteEdit", ComponentType::EditBox, 8, 16, 848, 72, nullptr},
};

class ProgramTest : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        StartProgram();
        ClearRecords();
    }

    void StartTomato(int category = 1) {
        Comp("CategoryCombo").SetCurrentIndex(category);
        Comp("TickSoundCheck").SetChecked(true);
        Comp("ShowBarCheck").SetChecked(false);
        Comp("StartButton").Click();
        ASSERT_EQ(g_running, 1);
        ClearRecords();
    }

    void TickAt(std::int64_t secondsAfterStart) {
        SetNow(g_start);
        AdvanceSeconds(secondsAfterStart);
        Comp("RazezuZivur").Tick();
    }

    // The user's settings as the close should store them: memo, boxes, bar position.
    void ChangeSettings() {
        Comp("NoteEdit").SetContent(G("写完报告; 'draft'"));
        Comp("AlertSoundCheck").SetChecked(false);
        g_barTop = 300;
        g_barLeft = -12;
    }

    void ExpectSettingsSaved() {
        EXPECT_EQ(U8(InfoValue("note").value_or("?")), "写完报告; 'draft'");
        EXPECT_EQ(InfoValue("alertwave"), "0");
        EXPECT_EQ(InfoValue("clickListToStart"), "1");
        EXPECT_EQ(InfoValue("tag_top"), "300");
        EXPECT_EQ(InfoValue("tag_left"), "-12");
    }
};

TEST_F(ProgramTest, MainWindowIsBuiltAsDesigned) {
    rt::Window* main = rt::FindWindow("MainWindow");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(U8(main->Caption()), "Tavik tomato 塔维番茄 v1.2.2");
    EXPECT_EQ(main->Width(), 884);
    EXPECT_EQ(main->Height(), 541);

    for (const DesignCase& d : kMainComponents) {
        SCOPED_TRACE(d.name);
        rt::Component* c = rt::FindComponent("MainWindow", d.name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->Type(), d.type);
        EXPECT_EQ(c->Left(), d.left);
        EXPECT_EQ(c->Top(), d.top);
        EXPECT_EQ(c->Width(), d.width);
        EXPECT_EQ(c->Height(), d.height);
        if (d.caption != nullptr) {
            EXPECT_EQ(U8(c->Caption()), d.caption);
        }
    }

    const rt::Component& combo = Comp("CategoryCombo");
    const std::vector<std::string> items{"选择分类", "工作", "阅读", "学习", "兼职", "创作"};
    ASSERT_EQ(combo.ItemCount(), static_cast<int>(items.size()));
    for (int i = 0; i < combo.ItemCount(); ++i) EXPECT_EQ(U8(combo.ItemText(i)), items[i]);
    EXPECT_EQ(combo.CurrentIndex(), 0);

    EXPECT_EQ(Comp("RazezuZivur").Interval(), 500);
    EXPECT_TRUE(Comp("RazezuZivur").TimerEnabled());
    EXPECT_EQ(Comp("DailyChart").Columns(), 30);
    EXPECT_EQ(Comp("NoticeView").Address(), app::WebViewAddress());

    const QFont clock = Comp("ClockLabel").Widget()->font();
    EXPECT_EQ(clock.pixelSize(), 24);
    EXPECT_EQ(clock.weight(), QFont::Light);
    const QFont stats = Comp("StatsLabel").Widget()->font();
    EXPECT_EQ(stats.pixelSize(), 12);
    EXPECT_EQ(stats.weight(), QFont::Normal);
}

TEST_F(ProgramTest, FloatingBarWindowIsBuiltAsDesigned) {
    ASSERT_TRUE(rt::LoadWindow("FloatingBarWindow"));
    rt::Window* bar = rt::FindWindow("FloatingBarWindow");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->Width(), 220);
    EXPECT_EQ(bar->Height(), 16);
    rt::Component* progress = rt::FindComponent("FloatingBarWindow", "FloatingProgressBar");
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->Type(), ComponentType::ProcessBar);
    EXPECT_EQ(progress->Left(), 0);
    EXPECT_EQ(progress->Top(), 0);
    EXPECT_EQ(progress->Width(), 200);
    EXPECT_EQ(progress->Height(), 16);
    EXPECT_EQ(progress->Minimum(), 0);
    EXPECT_EQ(progress->Maximum(), 100);
    rt::Component* timer = rt::FindComponent("FloatingBarWindow", "FloatingBarTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->Type(), ComponentType::Timer);
    EXPECT_EQ(timer->Interval(), 1000);
}

TEST_F(ProgramTest, FixedAddresses) {
    EXPECT_STREQ(app::kProgramVersion, "1.2.2");
    app::SetWebViewAddressForTest({});
    EXPECT_EQ(app::WebViewAddress(), "http://" TOMATO_WEB_HOST "/soft/vizaruzuvov/i.php?1.2.2");
    EXPECT_EQ(app::UpdateAddress(), "http://" TOMATO_UPDATE_HOST "/update/vizaruzuvov.php");
    EXPECT_EQ(app::SponsorCommandLine(), "xdg-open http://" TOMATO_WEB_HOST "/vantrel/sponsor");
    app::SetUpdateAddressForTest("http://127.0.0.1:8080/u");
    EXPECT_EQ(app::UpdateAddress(), "http://127.0.0.1:8080/u");
    app::SetUpdateAddressForTest({});
    EXPECT_EQ(app::UpdateAddress(), "http://" TOMATO_UPDATE_HOST "/update/vizaruzuvov.php");
}

TEST_F(ProgramTest, SponsorButtonStartsTheOpenerWithTheAddress) {
    Comp("SponsorButton").Click();
    EXPECT_EQ(timeline, (std::vector<std::string>{"run xdg-open http://" TOMATO_WEB_HOST "/vantrel/sponsor"}));
}

TEST_F(ProgramTest, CloseWhileIdleSavesAndEnds) {
    ChangeSettings();
    Comp("TickSoundCheck").SetChecked(true);
    EXPECT_FALSE(CloseProgram());
    EXPECT_EQ(timeline, (std::vector<std::string>{"exit 0"}));
    EXPECT_FALSE(g_db->IsOpen());
    ExpectSettingsSaved();
    EXPECT_TRUE(TomatoRows().empty());
}

TEST_F(ProgramTest, CloseWhileRunningAnsweredNoRunsOn) {
    StartTomato();
    TickAt(60);
    ChangeSettings();
    Answer(rt::kAnswerNo);
    EXPECT_FALSE(CloseProgram());

    // Only the question: no end, no sound stopped, nothing recorded.
    EXPECT_EQ(timeline,
              (std::vector<std::string>{"box 关闭确认|番茄钟已开始，是否强制关闭并累计一个烂番茄？|0x24"}));
    EXPECT_TRUE(g_db->IsOpen());
    ExpectSettingsSaved();
    EXPECT_TRUE(TomatoRows().empty());
    EXPECT_EQ(g_running, 1);
    TickAt(120);
    EXPECT_EQ(U8(Comp("ClockLabel").Caption()), "0:23:00");
    EXPECT_FALSE(Comp("CategoryCombo").Enabled());
}

TEST_F(ProgramTest, CloseWhileRunningAnsweredYesRecordsABadTomatoAndEnds) {
    StartTomato(5);
    TickAt(60);
    ChangeSettings();
    Answer(rt::kAnswerYes);
    EXPECT_FALSE(CloseProgram());

    // No sound is stopped and the window is not reset: the process ends right away.
    EXPECT_EQ(timeline, (std::vector<std::string>{"box 关闭确认|番茄钟已开始，是否强制关闭并累计一个烂番茄？|0x24",
                                                  "exit 0"}));
    EXPECT_FALSE(g_db->IsOpen());
    ExpectSettingsSaved();
    const auto rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, 2);
    EXPECT_EQ(U8(rows[0].classname.value_or("")), "创作");
    EXPECT_EQ(InfoValue("badtomato"), "1");
    EXPECT_EQ(InfoValue("integral"), "-5");
}

// The tomato runs out while the close question is open: it ends and is recorded inside the
// question, so the Yes that follows closes without recording it a second time.
TEST_F(ProgramTest, CloseQuestionOpenAcrossTheNaturalEndRecordsOnce) {
    StartTomato();
    Answer(rt::kAnswerYes, [&] { TickAt(1500); });
    Answer(rt::kAnswerYes);  // completed
    EXPECT_FALSE(CloseProgram());

    EXPECT_EQ(timeline, (std::vector<std::string>{"box 关闭确认|番茄钟已开始，是否强制关闭并累计一个烂番茄？|0x24",
                                                  "play 354160 once",
                                                  "box 番茄时钟结束！|您是否正常完成了这个番茄鈡？|0x24",
                                                  "box 恭喜|您的人生又多了1个完美的番茄钟！|0x40", "stop", "exit 0"}));
    const auto rows = TomatoRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, 1);
    EXPECT_EQ(InfoValue("badtomato"), "0");
}

// The end of the session (the signals' path to it is the runtime's): what a close while idle saves,
// without a question; once the database is closed, a further end finds nothing to save.
TEST_F(ProgramTest, SessionEndSavesTheSettingsAndEndsWithZeroWithoutAsking) {
    ChangeSettings();
    Comp("TickSoundCheck").SetChecked(true);
    OnSessionEnd();
    EXPECT_EQ(timeline, (std::vector<std::string>{"exit 0"}));
    EXPECT_FALSE(g_db->IsOpen());
    ExpectSettingsSaved();

    Comp("NoteEdit").SetContent(G("晚了"));
    OnSessionEnd();
    EXPECT_EQ(timeline, (std::vector<std::string>{"exit 0", "exit 0"})) << "no box for a closed database";
    ExpectSettingsSaved();
}

// Nobody is there to say how the tomato went: the end records nothing for a running tomato, for one
// whose close question is open, or for one whose completion question is open.
TEST_F(ProgramTest, SessionEndRecordsNoTomato) {
    struct Case {
        const char* name;
        std::function<void(const std::function<void()>& end)> reach;
        std::vector<std::string> boxes;  // shown before the end
    };
    const Case cases[] = {
        {"running", [&](const auto& end) { end(); }, {}},
        {"close question open",
         [&](const auto& end) {
             Answer(rt::kAnswerNo, end);
             CloseProgram();
         },
         {"box 关闭确认|番茄钟已开始，是否强制关闭并累计一个烂番茄？|0x24"}},
        {"completion question open",
         [&](const auto& end) {
             Answer(rt::kAnswerYes, end);
             TickAt(1500);
         },
         {"box 番茄时钟结束！|您是否正常完成了这个番茄鈡？|0x24"}},  // the alert is switched off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartTomato();
        TickAt(60);
        ChangeSettings();
        std::vector<std::string> atEnd;
        std::size_t rowsAtEnd = 99;
        std::optional<std::string> badAtEnd;
        // Under the end seam the handler that waited goes on afterwards; the real process ends here.
        c.reach([&] {
            OnSessionEnd();
            atEnd = timeline;
            rowsAtEnd = TomatoRows().size();
            badAtEnd = InfoValue("badtomato");
            ExpectSettingsSaved();
        });
        std::vector<std::string> expected = c.boxes;
        expected.push_back("exit 0");
        EXPECT_EQ(atEnd, expected);
        EXPECT_EQ(rowsAtEnd, 0u);
        EXPECT_EQ(badAtEnd, "0");
        EndProcess();
        StartProgram();
        ClearRecords();
    }
}

// Until the settings have been loaded the window shows its design values; an end then (here inside
// the error box of a row that cannot be added at start) saves none of them over the stored ones.
TEST_F(ProgramTest, SessionEndBeforeTheSettingsAreLoadedSavesNothing) {
    EndProcess();
    ExecSql("update info set value='1' where subject='showPBar'");
    ExecSql("update info set value='300' where subject='tag_top'");
    ExecSql("delete from info where subject='note'");
    ExecSql("create trigger no_new_rows before insert on info begin select raise(abort, 'read only'); end");
    const std::vector<InfoRow> stored = InfoRows();
    std::vector<std::string> atEnd;
    Answer(rt::kAnswerOk, [&] {
        OnSessionEnd();
        atEnd = timeline;
    });
    StartProgram();
    EXPECT_EQ(atEnd, (std::vector<std::string>{"box 发生意外|数据库操作失败|0x10", "exit 0"}));
    EXPECT_EQ(InfoValue("showPBar"), "1");
    EXPECT_EQ(InfoValue("tag_top"), "300");
    EXPECT_EQ(InfoRows(), stored);
}

TEST_F(ProgramTest, FirstActivationWithoutTheLibraryEndsWithMinusOne) {
    ChangeSettings();
    OnMainWindowFirstActivated();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(U8(boxes[0].message), "无法找到指定DLL库文件“update.so”中的输出命令“检测新版本”");
    EXPECT_EQ(boxes[0].flags & 0xF0, rt::kMbIconError);
    EXPECT_EQ(exitCodes, (std::vector<int>{-1}));
    EXPECT_EQ(timeline.back(), "exit -1");
    // This way out saves no settings.
    EXPECT_EQ(InfoValue("alertwave"), "1");
    EXPECT_EQ(InfoValue("tag_top"), "0");
}

}  // namespace
}  // namespace apptest

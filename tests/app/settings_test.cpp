// The six settings: the values of a first start, and each kind of value carried through a close
// and a new start.

#include "app_fixture.h"
#include "globals.h"
#include "settings.h"

namespace apptest {
namespace {

class SettingsTest : public AppFixture {
protected:
    // Every info row but the six settings, to see that saving touches nothing else.
    std::vector<InfoRow> OtherRows() const {
        static const std::vector<std::string> settings{"alertwave", "clickListToStart", "showPBar",
                                                       "tag_top",   "tag_left",         "note"};
        std::vector<InfoRow> rows;
        for (const InfoRow& row : InfoRows()) {
            if (std::find(settings.begin(), settings.end(), row.subject) == settings.end()) rows.push_back(row);
        }
        return rows;
    }
};

TEST_F(SettingsTest, FirstStartShowsTheDefaults) {
    StartProgram();
    EXPECT_TRUE(Comp("AlertSoundCheck").Checked());
    EXPECT_FALSE(Comp("TickSoundCheck").Checked());
    EXPECT_FALSE(Comp("ShowBarCheck").Checked());
    EXPECT_EQ(g_barTop, 0);
    EXPECT_EQ(g_barLeft, 0);
    EXPECT_EQ(Comp("NoteEdit").Content(), "");
}

TEST_F(SettingsTest, AFirstRunEndedWithoutACloseLeavesTheZerosItStored) {
    StartProgram();
    EndProcess();
    StartProgram();
    EXPECT_EQ(Comp("NoteEdit").Content(), "0");
    EXPECT_EQ(g_barTop, 0);
    EXPECT_EQ(g_barLeft, 0);
    EXPECT_FALSE(Comp("ShowBarCheck").Checked());
    EXPECT_TRUE(Comp("AlertSoundCheck").Checked());
}

struct RoundTripCase {
    const char* name;
    std::string memoUtf8;
    std::int32_t top, left;
    bool alert, tick, showBar;
    friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }
};

std::string LongMemo() {
    std::string memo;
    for (int i = 0; memo.size() < 3000; ++i) memo += "第" + std::to_string(i) + "行：写完报告 it's done; ";
    return memo;
}

class SettingsRoundTripTest : public SettingsTest, public testing::WithParamInterface<RoundTripCase> {};

TEST_P(SettingsRoundTripTest, ValuesSurviveACloseAndANewStart) {
    const RoundTripCase& c = GetParam();
    StartProgram();
    const std::vector<InfoRow> others = OtherRows();
    const std::string memo = G(c.memoUtf8);
    Comp("NoteEdit").SetContent(memo);
    Comp("AlertSoundCheck").SetChecked(c.alert);
    Comp("TickSoundCheck").SetChecked(c.tick);
    Comp("ShowBarCheck").SetChecked(c.showBar);
    g_barTop = c.top;
    g_barLeft = c.left;

    EXPECT_FALSE(CloseProgram());
    EXPECT_EQ(exitCodes, std::vector<int>{0}) << "closing while idle ends the program";
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EndProcess();

    EXPECT_EQ(InfoValue("note"), memo) << "stored byte for byte";
    EXPECT_EQ(InfoValue("tag_top"), std::to_string(c.top));
    EXPECT_EQ(OtherRows(), others) << "no other row changes";
    EXPECT_EQ(Sql("SELECT count(*) FROM sqlite_master"), (std::vector<SqlRow>{{"2"}}));

    StartProgram();
    EXPECT_EQ(Comp("NoteEdit").Content(), memo);
    EXPECT_EQ(g_barTop, c.top);
    EXPECT_EQ(g_barLeft, c.left);
    EXPECT_EQ(Comp("AlertSoundCheck").Checked(), c.alert);
    EXPECT_EQ(Comp("TickSoundCheck").Checked(), c.tick);
    EXPECT_EQ(Comp("ShowBarCheck").Checked(), c.showBar);
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
}

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsRoundTripTest,
    testing::Values(
        RoundTripCase{"SqlLookingMemo", "it's Bob's memo'; DROP TABLE info; -- ' OR '1'='1; \"x\"", 10, 20, false,
                      true, true},
        RoundTripCase{"ClosingStatementInMemo", "' where subject='alertwave", 0, 0, true, false, false},
        RoundTripCase{"EmptyMemo", "", 0, 0, true, true, false},
        RoundTripCase{"NegativeBarPosition", "右上角", -12, -340, false, false, true},
        RoundTripCase{"MemoLongerThan255Bytes", LongMemo(), 2147483647, -2147483647 - 1, true, false, true}),
    [](const testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, StoredValuesThatDoNotFitRestoreAsUncheckedOrZero) {
    StartProgram();
    EndProcess();
    ExecSql("UPDATE info SET value=' 1' WHERE subject='alertwave'");
    ExecSql("UPDATE info SET value='yes' WHERE subject='clickListToStart'");
    ExecSql("UPDATE info SET value='' WHERE subject='showPBar'");
    ExecSql("UPDATE info SET value='abc' WHERE subject='tag_top'");
    ExecSql("UPDATE info SET value='  -7px' WHERE subject='tag_left'");

    StartProgram();

    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_FALSE(Comp("AlertSoundCheck").Checked());
    EXPECT_FALSE(Comp("TickSoundCheck").Checked());
    EXPECT_FALSE(Comp("ShowBarCheck").Checked());
    EXPECT_EQ(g_barTop, 0);
    EXPECT_EQ(g_barLeft, -7);
}

TEST_F(SettingsTest, EveryFailedStatementShowsItsBoxAndTheOthersAreStillTried) {
    StartProgram();
    ExecSql("CREATE TRIGGER refuse BEFORE UPDATE ON info WHEN old.subject IN ('showPBar', 'note') "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    Comp("NoteEdit").SetContent(G("新备忘"));
    g_barTop = 5;
    Comp("ShowBarCheck").SetChecked(true);

    SaveSettings();

    EXPECT_EQ(BoxMessages(), (std::vector<std::string>{"保存配置失败", "保存配置失败"}));
    for (const ShownBox& box : boxes) {
        EXPECT_EQ(U8(box.caption), "发生意外");
        EXPECT_EQ(box.flags, 0x10);
    }
    EXPECT_EQ(InfoValue("showPBar"), "0");
    EXPECT_EQ(InfoValue("note"), "0");
    EXPECT_EQ(InfoValue("tag_top"), "5") << "the setting after the failed one is saved";
}

TEST_F(SettingsTest, SavingNeverAddsAMissingRow) {
    StartProgram();
    ExecSql("DELETE FROM info WHERE subject='tag_left'");
    const std::size_t rows = InfoRows().size();
    g_barLeft = 33;
    SaveSettings();
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(InfoRows().size(), rows);
}

}  // namespace
}  // namespace apptest

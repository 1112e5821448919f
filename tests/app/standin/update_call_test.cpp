// The first activation with a stand-in update library beside the test program: the export is
// bound by its name, called with the version and the update address, and the program runs on.
// The test program and the stand-in lie in a folder named in Chinese with a blank, as users keep
// the program, so the binding and the database below are found through that name.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app_fixture.h"
#include "globals.h"
#include "program.h"
#include "recorddb/sqlite_db.h"
#include "runtime/messagebox.h"
#include "runtime/program.h"
#include "runtime/text.h"

namespace apptest {
namespace {

class UpdateCallTest : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        StartProgram();
        ClearRecords();
    }
    void TearDown() override {
        app::SetUpdateAddressForTest({});
        AppFixture::TearDown();
    }

    // The stand-in as the program loaded it; null when it has not been loaded.
    void* StandIn() const {
        const std::string path = OnDisk(rt::ProgramDirectory() + "/update.so");
        return dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    }
};

TEST_F(UpdateCallTest, StandInIsCalledAndTheProgramRunsOn) {
    app::SetUpdateAddressForTest("http://127.0.0.1:9/update/vizaruzuvov.php");
    OnMainWindowFirstActivated();

    EXPECT_TRUE(timeline.empty()) << "first: " << (timeline.empty() ? "" : timeline.front());
    void* lib = StandIn();
    ASSERT_NE(lib, nullptr) << "the program did not load the stand-in beside it";
    auto calls = reinterpret_cast<int (*)()>(dlsym(lib, "StandInCallCount"));
    auto version = reinterpret_cast<const char* (*)()>(dlsym(lib, "StandInLastVersion"));
    auto address = reinterpret_cast<const char* (*)()>(dlsym(lib, "StandInLastAddress"));
    ASSERT_TRUE(calls && version && address);
    EXPECT_EQ(calls(), 1);
    EXPECT_STREQ(version(), "1.2.2");
    EXPECT_STREQ(address(), "http://127.0.0.1:9/update/vizaruzuvov.php");
    dlclose(lib);  // the reference taken by RTLD_NOLOAD

    // The program goes on as before: ticks, and an ordinary close.
    Comp("RazezuZivur").Tick();
    EXPECT_TRUE(g_db->IsOpen());
    EXPECT_FALSE(CloseProgram());
    EXPECT_EQ(exitCodes, (std::vector<int>{0}));
}

// The program as it runs from such a folder, finding the folder itself: the file appears there
// under its own name, and what it keeps survives a close and a new start.
class ChineseFolderTest : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        UseRealProgramDirectory();
        rt::DeleteFileCommand(DbPath());  // left by an interrupted earlier run
    }
    void TearDown() override {
        AppFixture::TearDown();
        rt::DeleteFileCommand(DbPath());
    }
};

TEST_F(ChineseFolderTest, FileTomatoAndSettingsLiveInTheFolder) {
    const std::string folder = OnDisk(rt::ProgramDirectory());
    ASSERT_NE(folder.find("番茄 钟"), std::string::npos) << folder;

    StartProgram();
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    EXPECT_EQ(g_dbPath, rt::ProgramDirectory() + "/db.razezuzivu");
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/db.razezuzivu"));
    EXPECT_EQ(InfoRows().size(), 10u);

    Comp("CategoryCombo").SetCurrentIndex(1);
    Comp("StartButton").Click();
    AdvanceSeconds(25 * 60);
    Answer(rt::kAnswerYes);  // the tomato was completed
    Comp("RazezuZivur").Tick();
    Comp("NoteEdit").SetContent(G("写完周报"));
    Comp("TickSoundCheck").SetChecked(true);
    EXPECT_FALSE(CloseProgram());
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EndProcess();
    ClearRecords();

    StartProgram();
    EXPECT_TRUE(boxes.empty()) << testing::PrintToString(BoxMessages());
    ASSERT_EQ(TomatoRows().size(), 1u);
    EXPECT_EQ(TomatoRows()[0].state, 1);
    EXPECT_EQ(TomatoRows()[0].classname, G("工作"));
    EXPECT_EQ(InfoValue("goodtomato"), "1");
    EXPECT_EQ(Comp("NoteEdit").Content(), G("写完周报"));
    EXPECT_TRUE(Comp("TickSoundCheck").Checked());
    EXPECT_EQ(InfoRows().size(), 11u) << "the ten rows and the category's count";
}

}  // namespace
}  // namespace apptest

// The first activation with a stand-in update library beside the test program: the export is
// bound by its name, called with the version and the update address, and the program runs on.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "app_fixture.h"
#include "globals.h"
#include "program.h"
#include "recorddb/sqlite_db.h"
#include "runtime/program.h"

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
        const std::string path = rt::ProgramDirectory() + "/update.so";
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

}  // namespace
}  // namespace apptest

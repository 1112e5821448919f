// The library's start-up before the tests, as loading does; it registers the end routine, which runs
// when the process ends.
#include <gtest/gtest.h>

#include "check.h"

namespace {

class LibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(update::ProgramInit()); }
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

}  // namespace

// The library's start-up before the tests and its end after them, as loading and unloading do.
#include <gtest/gtest.h>

#include "check.h"

namespace {

class LibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(update::ProgramInit()); }
    void TearDown() override { update::FreeUpdateGlobals(); }
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

}  // namespace

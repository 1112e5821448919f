#include "md5hex.h"

#include <gtest/gtest.h>

#include "runtime/crypto.h"

namespace {

using rt::crypto::AcquireFault;

class Md5HexTest : public ::testing::Test {
protected:
    void TearDown() override { rt::crypto::SetAcquireFault(AcquireFault::None); }
};

TEST_F(Md5HexTest, OptionsPickDigitsAndCase) {
    struct Case {
        const char* input;
        bool middle16;
        bool lowerCase;
        const char* digest;
    };
    const Case cases[] = {
        {"", false, false, "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", false, false, "900150983CD24FB0D6963F7D28E17F72"},
        {"abc", false, true, "900150983cd24fb0d6963f7d28e17f72"},
        {"abc", true, false, "3CD24FB0D6963F7D"},
        {"abc", true, true, "3cd24fb0d6963f7d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input) + (c.middle16 ? " middle16" : "") + (c.lowerCase ? " lower" : ""));
        const rt::ByteSet data = rt::ToByteSet(c.input);
        EXPECT_EQ(update::Md5Hex(data, c.middle16, c.lowerCase), c.digest);
        EXPECT_EQ(data, rt::ToByteSet(c.input));
    }
    // Binary input, NUL bytes included, is hashed whole.
    EXPECT_EQ(update::Md5Hex(rt::ByteSet{0, 0}, false, true), "c4103f122d27677c9db144cae1394a66");
}

TEST_F(Md5HexTest, AcquireFailures) {
    rt::crypto::SetAcquireFault(AcquireFault::VerifyContext);  // the second attempt succeeds
    EXPECT_EQ(update::Md5Hex(rt::ToByteSet("abc")), "900150983CD24FB0D6963F7D28E17F72");
    rt::crypto::SetAcquireFault(AcquireFault::Every);
    EXPECT_EQ(update::Md5Hex(rt::ToByteSet("abc")), "");
    EXPECT_EQ(update::Md5Hex(rt::ToByteSet("abc"), true, true), "");
}

TEST_F(Md5HexTest, HashHexTakesAnyAlgorithmWithItsDigestLength) {
    EXPECT_EQ(update::HashHex(rt::ToByteSet("abc"), rt::crypto::kCalgSha1, 20),
              "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(update::HashHex(rt::ToByteSet("abc"), rt::crypto::kCalgSha1, 16), "");  // too short for it
    EXPECT_EQ(update::HashHex(rt::ToByteSet("abc"), 0x1234, 16), "");
}

}  // namespace

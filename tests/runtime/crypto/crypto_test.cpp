#include "runtime/crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace rt::crypto;

std::string Hex(const unsigned char* p, std::uint32_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint32_t i = 0; i < n; ++i) {
        out.push_back(kDigits[p[i] >> 4]);
        out.push_back(kDigits[p[i] & 0xF]);
    }
    return out;
}

// The digest of text by the algorithm, through the whole acquire / create / hash / read path.
std::string Digest(std::uint32_t algorithm, const std::string& text) {
    auto context = Context::Acquire(kProvRsaFull, kCryptVerifyContext);
    if (!context) return "no context";
    auto hash = context->CreateHash(algorithm);
    if (!hash) return "no hash";
    if (!hash->HashData(text.data(), text.size())) return "no data";
    unsigned char value[64] = {};
    std::uint32_t length = sizeof value;
    if (!hash->GetParam(kHpHashVal, value, length)) return "no value";
    return Hex(value, length);
}

struct Vector {
    std::uint32_t algorithm;
    std::string input;
    std::string digest;
};

TEST(CryptoTest, DigestsMatchKnownValues) {
    const Vector cases[] = {
        {kCalgMd5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {kCalgMd5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {kCalgSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {kCalgSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {kCalgSha384, "",
         "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
        {kCalgSha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Vector& v : cases) {
        SCOPED_TRACE(std::to_string(v.algorithm) + " of \"" + v.input + "\"");
        EXPECT_EQ(Digest(v.algorithm, v.input), v.digest);
    }
}

TEST(CryptoTest, UnknownAlgorithmOrProviderOrFlagsFail) {
    EXPECT_EQ(Digest(0x6610, "abc"), "no hash");  // a cipher's identifier, not a digest
    EXPECT_EQ(Context::Acquire(24, 0), nullptr);
    EXPECT_EQ(Context::Acquire(kProvRsaFull, 0x8), nullptr);
    EXPECT_NE(Context::Acquire(kProvRsaFull, 0), nullptr);
}

TEST(CryptoTest, ValueNeedsRoomAndFixesTheHash) {
    auto context = Context::Acquire(kProvRsaFull, 0);
    ASSERT_NE(context, nullptr);
    auto hash = context->CreateHash(kCalgMd5);
    ASSERT_NE(hash, nullptr);
    ASSERT_TRUE(hash->HashData("a", 1));
    ASSERT_TRUE(hash->HashData("bc", 2));  // several calls add up

    unsigned char small[15] = {};
    std::uint32_t length = sizeof small;
    EXPECT_FALSE(hash->GetParam(kHpHashVal, small, length));
    EXPECT_EQ(length, 16u);
    EXPECT_FALSE(hash->GetParam(4 /* HP_HASHSIZE */, small, length));

    unsigned char value[16] = {};
    length = sizeof value;
    ASSERT_TRUE(hash->GetParam(kHpHashVal, value, length));
    EXPECT_EQ(Hex(value, length), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_FALSE(hash->HashData("more", 4));
    length = sizeof value;
    ASSERT_TRUE(hash->GetParam(kHpHashVal, value, length));  // read again: the same value
    EXPECT_EQ(Hex(value, length), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(CryptoTest, FaultSeamRefusesAcquire) {
    SetAcquireFault(AcquireFault::VerifyContext);
    EXPECT_EQ(Context::Acquire(kProvRsaFull, kCryptVerifyContext), nullptr);
    EXPECT_NE(Context::Acquire(kProvRsaFull, 0), nullptr);
    SetAcquireFault(AcquireFault::Every);
    EXPECT_EQ(Context::Acquire(kProvRsaFull, kCryptVerifyContext), nullptr);
    EXPECT_EQ(Context::Acquire(kProvRsaFull, 0), nullptr);
    SetAcquireFault(AcquireFault::None);
    EXPECT_NE(Context::Acquire(kProvRsaFull, kCryptVerifyContext), nullptr);
}

}  // namespace

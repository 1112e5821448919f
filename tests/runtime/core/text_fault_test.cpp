// Conversions when iconv fails in a way it does not describe (EILSEQ, EINVAL and E2BIG are the
// ones it does). The test program is linked with --wrap=iconv, so the runtime's calls reach
// FaultyIconv below, which converts the first bytes for real and then fails.
#include <iconv.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <string>

#include "runtime/text.h"

namespace {

// How many input bytes the wrapped iconv converts before it fails; none while unarmed.
std::optional<std::size_t> g_failAfter;

class FailAfter {
public:
    explicit FailAfter(std::size_t bytes) { g_failAfter = bytes; }
    ~FailAfter() { g_failAfter.reset(); }
    FailAfter(const FailAfter&) = delete;
    FailAfter& operator=(const FailAfter&) = delete;
};

}  // namespace

extern "C" std::size_t __real_iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft);

extern "C" std::size_t __wrap_iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
    if (!g_failAfter || in == nullptr || *in == nullptr) return __real_iconv(cd, in, inLeft, out, outLeft);
    std::size_t allowed = std::min(*g_failAfter, *inLeft);
    const std::size_t rest = *inLeft - allowed;
    const std::size_t r = __real_iconv(cd, in, &allowed, out, outLeft);
    *inLeft = allowed + rest;
    *g_failAfter -= std::min(*g_failAfter, *inLeft - rest);
    if (r == static_cast<std::size_t>(-1) || rest == 0) return r;
    errno = EBADF;  // no error iconv names for a conversion under way
    return static_cast<std::size_t>(-1);
}

namespace {

const std::string kGbkText = "\xC4\xE3\xBA\xC3\xCA\xC0\xBD\xE7";  // 你好世界

TEST(ConversionFault, TextsKeepWhatWasConvertedBeforeTheFault) {
    {
        const FailAfter fault(4);
        EXPECT_EQ(rt::Utf8FromGbk(kGbkText), "你好");
    }
    {
        const FailAfter fault(6);
        EXPECT_EQ(rt::Gbk("你好世界"), "\xC4\xE3\xBA\xC3");
    }
    {
        const FailAfter fault(0);
        EXPECT_EQ(rt::Utf8FromGbk(kGbkText), "");
        EXPECT_EQ(rt::GbkFromSystemName("/home/用户"), "");
    }
    // Unarmed, the same texts convert whole.
    EXPECT_EQ(rt::Utf8FromGbk(kGbkText), "你好世界");
}

TEST(ConversionFault, ANameIsNeverCutShort) {
    // A part of a path names another file: the whole name or none.
    const FailAfter fault(4);
    EXPECT_EQ(rt::SystemName(kGbkText + "/db.razezuzivu"), std::nullopt);
}

}  // namespace

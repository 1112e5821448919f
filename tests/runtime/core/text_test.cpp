#include "runtime/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using rt::Gbk;

// GBK characters whose trail byte is also an ASCII byte: the traps for byte-wise searching.
const std::string kTrail40 = "\x81\x40";  // 丂, trail byte "@"
const std::string kTrailA = "\x81\x61";   // 乤, trail byte "a"
const std::string kTrailUpperA = "\x81\x41";  // 丄, trail byte "A"
const std::string kEmoji = "\x94\x39\xFC\x36";  // a GB18030 four-byte character (GBK lacks it)

TEST(GbkConversion, ConvertsBothWaysAndKeepsCharactersGbkLacks) {
    EXPECT_EQ(Gbk("你好"), "\xC4\xE3\xBA\xC3");
    EXPECT_EQ(Gbk("丂"), kTrail40);
    EXPECT_EQ(Gbk("A，b"), "A\xA3\xAC" "b");
    EXPECT_EQ(Gbk("😀"), kEmoji);
    EXPECT_EQ(rt::Utf8FromGbk("\xC4\xE3\xBA\xC3"), "你好");
    EXPECT_EQ(rt::Utf8FromGbk(kEmoji), "😀");
    const std::string mixed = "番茄总数：120个，坏番茄率：20%。😀";
    EXPECT_EQ(rt::Utf8FromGbk(Gbk(mixed)), mixed);
    EXPECT_EQ(Gbk(""), "");
    EXPECT_EQ(rt::Utf8FromGbk(""), "");
}

TEST(GbkConversion, ReplacesInvalidBytesInsteadOfStopping) {
    // A lead byte without its trail at the end, and bytes that begin no character at all.
    EXPECT_EQ(rt::Utf8FromGbk("ab\x81"), "ab\xEF\xBF\xBD");
    EXPECT_EQ(rt::Utf8FromGbk(std::string(40, '\xFF') + "z"),
              [] {
                  std::string s;
                  for (int i = 0; i < 40; ++i) s += "\xEF\xBF\xBD";
                  return s + "z";
              }());
    EXPECT_EQ(Gbk("a\xC3(b"), "a?(b");  // invalid UTF-8
}

TEST(SystemNames, GbkNamesReachTheSystemAsUtf8OrNotAtAll) {
    struct Case {
        const char* what;
        std::string gbk;
        std::optional<std::string> system;
    };
    const Case cases[] = {
        {"ascii", "/tmp/db.razezuzivu", "/tmp/db.razezuzivu"},
        {"chinese with a blank", Gbk("/home/用户/下载/番茄 钟/db.razezuzivu"), "/home/用户/下载/番茄 钟/db.razezuzivu"},
        {"four-byte character", "/a/" + kEmoji, "/a/😀"},
        {"empty", "", ""},
        {"lead byte without trail", "/a/\x81", std::nullopt},
        {"byte no GBK text holds", "/a/\xFF/b", std::nullopt},
        {"NUL inside", std::string("/a\0/b", 5), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rt::SystemName(c.gbk), c.system);
    }
}

TEST(SystemNames, NamesFromTheSystemRoundTripUnlessTheyAreNotUtf8) {
    const std::string chinese = "/home/用户/下载/番茄 钟";
    EXPECT_EQ(rt::GbkFromSystemName(chinese), Gbk(chinese));
    EXPECT_EQ(rt::SystemName(rt::GbkFromSystemName(chinese)), chinese);
    // A Latin-1 folder name is not UTF-8: its GBK text can never be turned into another name
    // ("caf?" or "caf\uFFFD" would be a different folder).
    const std::string latin1 = "/srv/caf\xE9 x/\xC0\xAF";
    EXPECT_EQ(rt::GbkFromSystemName(latin1), "/srv/caf\xFF x/\xFF\xFF");
    EXPECT_EQ(rt::SystemName(rt::GbkFromSystemName(latin1)), std::nullopt);
    EXPECT_EQ(rt::SystemName(rt::GbkFromSystemName(latin1) + "/db.razezuzivu"), std::nullopt);
}

TEST(TextParts, LeftRightMidCutAtByteCounts) {
    struct Case {
        std::string got, want;
    };
    const std::string t = "abc" + kTrail40;  // 5 bytes
    const Case cases[] = {
        {rt::TextLeft(t, 0), ""},          {rt::TextLeft(t, -3), ""},
        {rt::TextLeft(t, 4), "abc\x81"},   {rt::TextLeft(t, 99), t},
        {rt::TextRight(t, 0), ""},         {rt::TextRight(t, 2), kTrail40},
        {rt::TextRight(t, 99), t},         {rt::TextLeft("00", 2 - 1), "0"},
        {rt::TextMid(t, 1), t},            {rt::TextMid(t, 2, 2), "bc"},
        {rt::TextMid(t, 4, 99), kTrail40}, {rt::TextMid(t, 5, 1), "\x40"},
        {rt::TextMid(t, 6, 1), ""},        {rt::TextMid(t, 0, 2), ""},
        {rt::TextMid(t, 2, 0), ""},        {rt::TextMid("", 1, 1), ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
    EXPECT_EQ(rt::TextLength(t), 5);
    EXPECT_EQ(rt::TextLength(""), 0);
}

struct FindCase {
    const char* id;
    std::string text, sought;
    int start;
    bool ignoreCase;
    int want;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.id; }

class FindTextTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTextTest, Finds) {
    const FindCase& c = GetParam();
    EXPECT_EQ(rt::FindText(c.text, c.sought, c.start, c.ignoreCase), c.want) << c.id;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindTextTest,
    ::testing::Values(
        FindCase{"first", "abcabc", "c", 1, false, 3}, FindCase{"from start", "abcabc", "c", 4, false, 6},
        FindCase{"start at match", "abcabc", "c", 3, false, 3}, FindCase{"start 0", "abcabc", "bc", 0, false, 2},
        FindCase{"start negative", "abcabc", "a", -5, false, 1}, FindCase{"start past end", "abc", "c", 4, false, -1},
        FindCase{"missing", "abc", "d", 1, false, -1}, FindCase{"empty sought", "abc", "", 1, false, -1},
        FindCase{"empty text", "", "a", 1, false, -1}, FindCase{"longer sought", "ab", "abc", 1, false, -1},
        FindCase{"trail byte is @", kTrail40 + "@", "@", 1, false, 3},
        FindCase{"only a trail @", "x" + kTrail40, "@", 1, false, -1},
        FindCase{"start inside a character", kTrail40 + "@", "@", 2, false, 3},
        FindCase{"double-byte sought", "a" + kTrail40, kTrail40, 1, false, 2},
        FindCase{"four-byte character", kEmoji, "9", 1, false, -1},
        FindCase{"across the pairs of a four-byte character", kEmoji, "\x39\xFC", 1, false, -1},
        FindCase{"case differs", "Set-Cookie: a=1", "set-cookie: ", 1, false, -1},
        FindCase{"ignore case", "x\r\nSET-COOKIE: a=1", "set-cookie: ", 1, true, 4},
        FindCase{"ignore case keeps trail bytes", kTrailA, "A", 1, true, -1},
        FindCase{"ignore case double-byte", "x" + kTrailA, kTrailA, 1, true, 2},
        FindCase{"ignore case no false double-byte", kTrailUpperA, kTrailA, 1, true, -1}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(SplitText, SplitsOnlyAtCharacterBoundaries) {
    using V = std::vector<std::string>;
    struct Case {
        std::string text, sep;
        V want;
    };
    const Case cases[] = {
        {"a&&b&&c", "&&", {"a", "b", "c"}},
        {"a&&&&b", "&&", {"a", "", "b"}},       // adjacent separators
        {"a&&b&&", "&&", {"a", "b"}},           // trailing separator: no empty last part
        {"", "&&", {}},                         // empty text: no parts
        {"&&", "&&", {""}},
        {"&&x", "&&", {"", "x"}},
        {"a&&&b", "&&", {"a", "&b"}},           // the third ampersand begins the next part
        {"abc", "&&", {"abc"}},
        {kTrail40 + "@b", "@", {kTrail40, "b"}},  // the trail byte 0x40 is no separator
        {"x" + kTrail40, "@", {"x" + kTrail40}},
        {"a\xC4\xE3&&b", "&&", {"a\xC4\xE3", "b"}},
        {"abc", "", {"abc"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(rt::SplitText(cases[i].text, cases[i].sep), cases[i].want) << "case " << i;
    }
}

TEST(CaseAndSpaces, TouchOnlySingleByteCharacters) {
    EXPECT_EQ(rt::ToUpper("get" + kTrailA + "x1"), "GET" + kTrailA + "X1");
    EXPECT_EQ(rt::ToLower("Box.LOCAL" + kTrailUpperA), "box.local" + kTrailUpperA);
    EXPECT_EQ(rt::ToUpper(""), "");
    // A lone lead byte at the end is left as it is.
    EXPECT_EQ(rt::ToLower("A\xB0"), "a\xB0");

    EXPECT_EQ(rt::RemoveAllSpaces(" a \xA1\xA1 b "), "ab");
    EXPECT_EQ(rt::RemoveAllSpaces("   \xA1\xA1"), "");
    // 啊 (0xB0 0xA1) then a full-width space: the bytes A1 A1 across the boundary are no space.
    EXPECT_EQ(rt::RemoveAllSpaces("\xB0\xA1\xA1\xA1\xA1"), "\xB0\xA1\xA1");
    EXPECT_EQ(rt::RemoveAllSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
    EXPECT_EQ(rt::RemoveAllSpaces("\tx\t"), "\tx\t");
}

TEST(ReplaceTextPart, DeletesAndInserts) {
    struct Case {
        std::string text;
        int start, del;
        std::string insert, want;
    };
    const Case cases[] = {
        {"abcdef", 3, 2, "XY", "abXYef"}, {"abcdef", 1, 0, ">", ">abcdef"}, {"abcdef", 7, 0, "<", "abcdef<"},
        {"abcdef", 4, 99, "", "abc"},     {"abcdef", 0, 1, "", "bcdef"},    {"abcdef", 99, 3, "!", "abcdef!"},
        {"abcdef", 2, -1, "-", "a-bcdef"}, {"", 1, 5, "x", "x"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(rt::ReplaceTextPart(c.text, c.start, c.del, c.insert), c.want) << "case " << i;
    }
    EXPECT_EQ(rt::BlankText(3), "   ");
    EXPECT_EQ(rt::BlankText(0), "");
    EXPECT_EQ(rt::BlankText(-2), "");
    EXPECT_EQ(rt::BlankText(1024).size(), 1024u);
}

}  // namespace

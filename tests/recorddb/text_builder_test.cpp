#include "recorddb/text_builder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class TextBuilderTest : public ::testing::Test {
protected:
    // Every test starts and must end with the whole pool free, or block numbers mean nothing.
    void SetUp() override { ASSERT_EQ(TextBuilder::PoolBlocksInUse(), 0); }
    void TearDown() override { EXPECT_EQ(TextBuilder::PoolBlocksInUse(), 0); }
};

struct SizeCase {
    int characters;
    int capacity;
    int poolBlock;
};

TEST_F(TextBuilderTest, BlockSizeFollowsPoolAndHeapRules) {
    const SizeCase cases[] = {
        {0, 0, -1},         // nothing held at all
        {1, 256, 0},        // short: a pool block
        {255, 256, 0},      // 256 bytes with the NUL: still fits a pool block
        {256, 385, -1},     // 257 bytes: heap, 128 to spare
        {1000, 1129, -1},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.characters);
        const std::string text(static_cast<std::size_t>(c.characters), 'x');
        TextBuilder b(text);
        EXPECT_EQ(b.Capacity(), c.capacity);
        EXPECT_EQ(b.PoolBlock(), c.poolBlock);
        EXPECT_EQ(b.Length(), c.characters == 0 ? 0 : c.characters + 1);
        EXPECT_EQ(b.View(), text);
        EXPECT_EQ(TextBuilder::PoolBlocksInUse(), c.poolBlock >= 0 ? 1 : 0);
    }
}

TEST_F(TextBuilderTest, FullPoolFallsBackToHeapAndLowestFreeBlockIsReused) {
    std::vector<std::unique_ptr<TextBuilder>> held;
    for (int i = 0; i < TextBuilder::kPoolBlocks; ++i) {
        held.push_back(std::make_unique<TextBuilder>("t" + std::to_string(i)));
        EXPECT_EQ(held.back()->PoolBlock(), i);
    }
    EXPECT_EQ(TextBuilder::PoolBlocksInUse(), 32);

    TextBuilder overflow("short");
    EXPECT_EQ(overflow.PoolBlock(), -1);
    EXPECT_EQ(overflow.Capacity(), 6 + 128);

    held[7]->Release();
    held[3]->Release();
    EXPECT_EQ(TextBuilder::PoolBlocksInUse(), 30);
    TextBuilder first("a");
    TextBuilder second("b");
    EXPECT_EQ(first.PoolBlock(), 3);
    EXPECT_EQ(second.PoolBlock(), 7);
    EXPECT_EQ(held[4]->View(), "t4");  // neighbours untouched
    held.clear();
}

TEST_F(TextBuilderTest, OutgrowingAPoolBlockMovesToHeapAndFreesTheBlock) {
    TextBuilder b("abc");
    ASSERT_EQ(b.PoolBlock(), 0);
    const std::string tail(300, 'y');
    ASSERT_TRUE(b.Append(tail));
    EXPECT_EQ(b.PoolBlock(), -1);
    EXPECT_EQ(b.Capacity(), 304 + 128);
    EXPECT_EQ(b.View(), "abc" + tail);
    EXPECT_EQ(TextBuilder::PoolBlocksInUse(), 0);
}

TEST_F(TextBuilderTest, HeapTextGrowsIntoItsSpareBytesBeforeReallocating) {
    TextBuilder b(std::string(300, 'a'));
    ASSERT_EQ(b.Capacity(), 429);
    ASSERT_TRUE(b.Append(std::string(100, 'b')));  // 401 bytes fit the 429
    EXPECT_EQ(b.Capacity(), 429);
    ASSERT_TRUE(b.Append(std::string(50, 'c')));  // 451 bytes do not
    EXPECT_EQ(b.Capacity(), 451 + 128);
    EXPECT_EQ(b.TextLength(), 450);
    EXPECT_EQ(b.Length(), 451);
}

TEST_F(TextBuilderTest, AppendJoinsTextsAndCopesWithItsOwnText) {
    TextBuilder b;
    ASSERT_TRUE(b.Append("ab"));
    EXPECT_EQ(b.View(), "ab");
    ASSERT_TRUE(b.Append(""));
    EXPECT_EQ(b.View(), "ab");
    ASSERT_TRUE(b.AppendFormat("%d,", 12));
    EXPECT_EQ(b.View(), "ab12,");
    ASSERT_TRUE(b.Append(b.View()));
    EXPECT_EQ(b.View(), "ab12,ab12,");
    EXPECT_EQ(b.Length(), 11);
}

TEST_F(TextBuilderTest, FormatKeepsTheBuilderOnEmptyFormatAndEmptiesOnEmptyResult) {
    TextBuilder fresh;
    const char* shared = fresh.Text();
    ASSERT_NE(shared, nullptr);
    EXPECT_STREQ(shared, "");

    TextBuilder b("keep");
    ASSERT_TRUE(b.Format("%s", ""));
    EXPECT_EQ(b.Length(), 0);
    EXPECT_EQ(b.Text(), shared);

    ASSERT_TRUE(b.Set("keep"));
    const std::string emptyFormat;  // not a literal, which the compiler would warn about
    EXPECT_TRUE(b.Format(emptyFormat.c_str()));
    EXPECT_TRUE(b.AppendFormat(emptyFormat.c_str()));
    EXPECT_EQ(b.View(), "keep");

    ASSERT_TRUE(b.Format("SELECT %s FROM %s", "a", "t"));
    EXPECT_EQ(b.View(), "SELECT a FROM t");
}

TEST_F(TextBuilderTest, PiecesOverTheFormatLimitAreRefusedWithoutChange) {
    TextBuilder b("before");
    const std::string fits(1023, 'f');
    const std::string over(1024, 'o');
    EXPECT_FALSE(b.Format("%s", over.c_str()));
    EXPECT_EQ(b.View(), "before");
    EXPECT_FALSE(b.AppendFormat("%s", over.c_str()));
    EXPECT_EQ(b.View(), "before");
    EXPECT_FALSE(b.Format("%s!", fits.c_str()));
    EXPECT_EQ(b.View(), "before");

    ASSERT_TRUE(b.Format("%s", fits.c_str()));
    EXPECT_EQ(b.TextLength(), 1023);
    // Each piece has its own limit; the text as a whole may grow past it.
    ASSERT_TRUE(b.AppendFormat("%s", fits.c_str()));
    EXPECT_EQ(b.TextLength(), 2046);
}

TEST_F(TextBuilderTest, UpperAsciiFoldsLettersAndStepsOverDoubleByteCharacters) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"abc", "ABC"},
        {"a_b9Z", "A_B9Z"},
        {"\xB0\x61x", "\xB0\x61X"},          // trail byte 0x61 stays
        {"\xD6\xD0\xCE\xC4id", "\xD6\xD0\xCE\xC4ID"},
        {"q\x81", "Q\x81"},                   // a lead byte without a trail byte at the end
        {"", ""},
    };
    for (const Case& c : cases) {
        TextBuilder b(c.in);
        EXPECT_EQ(b.UpperAscii(), static_cast<int>(c.in.size()));
        EXPECT_EQ(b.View(), c.out);
    }
}

}  // namespace

#include "runtime/memfile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "runtime/byteset.h"

namespace {

using rt::ByteSet;

// One memory file per test, closed at its end.
class MemoryFileTest : public ::testing::Test {
protected:
    void SetUp() override { file_ = rt::OpenMemoryFile(); }
    void TearDown() override { rt::CloseFile(file_); }

    // The whole content, read from the start (the position ends at the end).
    std::string Content() {
        rt::SeekToStart(file_);
        return rt::ToTextBytes(rt::ReadByteSet(file_, rt::FileLength(file_)));
    }
    void Fill(const std::string& bytes) {
        rt::SeekToStart(file_);
        rt::DeleteFileData(file_, rt::FileLength(file_));
        ASSERT_TRUE(rt::WriteText(file_, bytes));
        rt::SeekToStart(file_);
    }

    int file_ = 0;
};

TEST_F(MemoryFileTest, ValuesRoundTripTextsAndBinaryData) {
    const std::string gbkText = "\xC4\xE3\xBA\xC3\x81\x40";
    const ByteSet binary = {0x00, 0xFF, 0x1A, '\n', 0x00, 0x80};
    const ByteSet big(70000, 0xA5);
    ASSERT_GT(file_, 0);
    ASSERT_TRUE(rt::WriteValues(file_, std::string_view("TAG"), std::string_view(""), std::string_view(gbkText)));
    ASSERT_TRUE(rt::WriteValues(file_, binary, ByteSet{}, big));

    rt::SeekToStart(file_);
    std::string tag = "x", empty = "x", text;
    ByteSet gotBinary, gotEmpty{1}, gotBig;
    EXPECT_TRUE(rt::ReadValues(file_, tag, empty, text, gotBinary, gotEmpty, gotBig));
    EXPECT_EQ(tag, "TAG");
    EXPECT_EQ(empty, "");
    EXPECT_EQ(text, gbkText);
    EXPECT_EQ(gotBinary, binary);
    EXPECT_EQ(gotEmpty, ByteSet{});
    EXPECT_EQ(gotBig, big);
    EXPECT_TRUE(rt::AtEndOfFile(file_));

    // Past the last value: false, and the variables are left empty.
    std::string more = "stale";
    ByteSet moreData{1, 2};
    EXPECT_FALSE(rt::ReadValues(file_, more, moreData));
    EXPECT_EQ(more, "");
    EXPECT_TRUE(moreData.empty());
}

TEST_F(MemoryFileTest, ValuesHaveTheirByteLayout) {
    ASSERT_TRUE(rt::WriteValues(file_, std::string_view("ab")));
    ASSERT_TRUE(rt::WriteValues(file_, ByteSet{7, 8, 9}));
    EXPECT_EQ(Content(), std::string("ab\0\x03\0\0\0\x07\x08\x09", 10));
    EXPECT_EQ(rt::FileLength(file_), 10);
}

TEST_F(MemoryFileTest, AnEmptyFileYieldsEmptyValues) {
    // The caller of the worker reads tag, headers and body back from a file the worker emptied.
    std::string tag = "t", headers = "h";
    ByteSet body{1};
    EXPECT_FALSE(rt::ReadValues(file_, tag, headers, body));
    EXPECT_EQ(tag, "");
    EXPECT_EQ(headers, "");
    EXPECT_TRUE(body.empty());
}

TEST_F(MemoryFileTest, CorruptValuesAreNotTakenAsData) {
    // A count beyond the data: nothing is read, and the reader is at the end.
    ASSERT_TRUE(rt::WriteByteSets(file_, ByteSet{0xFF, 0xFF, 0xFF, 0x7F, 1, 2}));
    rt::SeekToStart(file_);
    ByteSet data{9};
    EXPECT_FALSE(rt::ReadValues(file_, data));
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(rt::AtEndOfFile(file_));

    // Fewer than four count bytes.
    Fill(std::string("\x02\x00", 2));
    EXPECT_FALSE(rt::ReadValues(file_, data));
    EXPECT_TRUE(rt::AtEndOfFile(file_));

    // A text without its NUL runs to the end of the data.
    Fill("abc");
    std::string text;
    EXPECT_TRUE(rt::ReadValues(file_, text));
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(rt::AtEndOfFile(file_));
}

TEST_F(MemoryFileTest, RequestIsReplacedByReplyInTheSameFile) {
    ASSERT_TRUE(rt::WriteValues(file_, std::string_view("REQ"), std::string_view("http://host/a"),
                                std::string_view("")));
    rt::SeekToStart(file_);
    std::string tag;
    ASSERT_TRUE(rt::ReadValues(file_, tag));
    ASSERT_EQ(tag, "REQ");
    rt::SeekToStart(file_);
    ASSERT_TRUE(rt::DeleteFileData(file_, rt::FileLength(file_)));
    EXPECT_EQ(rt::FileLength(file_), 0);
    EXPECT_TRUE(rt::AtEndOfFile(file_));

    rt::SeekToStart(file_);
    ASSERT_TRUE(rt::WriteValues(file_, std::string_view("REQ_OK"), std::string_view("HTTP/1.1 200 OK\r\n\r\n"),
                                rt::ToByteSet("body")));
    rt::SeekToStart(file_);
    std::string replyTag, headers;
    ByteSet body;
    EXPECT_TRUE(rt::ReadValues(file_, replyTag, headers, body));
    EXPECT_EQ(replyTag, "REQ_OK");
    EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\n\r\n");
    EXPECT_EQ(rt::ToTextBytes(body), "body");
}

TEST_F(MemoryFileTest, WritesOverwriteAtThePositionAndDeletesCutThere) {
    ASSERT_TRUE(rt::WriteText(file_, "abcdef"));
    rt::SeekToStart(file_);
    ASSERT_TRUE(rt::WriteText(file_, "XY"));
    EXPECT_EQ(Content(), "XYcdef");

    rt::SeekToStart(file_);
    EXPECT_EQ(rt::ToTextBytes(rt::ReadByteSet(file_, 2)), "XY");
    EXPECT_EQ(rt::FilePosition(file_), 2);
    EXPECT_TRUE(rt::DeleteFileData(file_, 2));
    EXPECT_EQ(rt::FilePosition(file_), 2);
    EXPECT_EQ(Content(), "XYef");

    rt::SeekToStart(file_);
    rt::ReadByteSet(file_, 3);
    EXPECT_TRUE(rt::DeleteFileData(file_, 100));  // cut at the end of the data
    EXPECT_FALSE(rt::DeleteFileData(file_, -1));
    EXPECT_EQ(Content(), "XYe");

    rt::SeekToStart(file_);
    EXPECT_TRUE(rt::ReadByteSet(file_, 0).empty());
    EXPECT_TRUE(rt::ReadByteSet(file_, -4).empty());
    EXPECT_EQ(rt::ToTextBytes(rt::ReadByteSet(file_, 99)), "XYe");
    EXPECT_TRUE(rt::ReadByteSet(file_, 1).empty());
}

TEST_F(MemoryFileTest, ReadLineSplitsAtLfAndDropsTheCrBeforeIt) {
    struct Case {
        std::string content;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\r\nb\nc", {"a", "b", "c"}},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n", {"HTTP/1.1 200 OK", "Set-Cookie: a=1", ""}},
        {"a\r\r\n", {"a\r"}},  // only the one CR right before the LF goes
        {"x\ry\r", {"x\ry\r"}},
        {"\n\n", {"", ""}},
        {"\xC4\xE3\n\x81\x40", {"\xC4\xE3", "\x81\x40"}},
    };
    for (const Case& c : cases) {
        Fill(c.content);
        std::vector<std::string> got;
        for (int guard = 0; !rt::AtEndOfFile(file_) && guard < 100; ++guard) got.push_back(rt::ReadLine(file_));
        EXPECT_EQ(got, c.lines) << c.content;
    }
}

TEST_F(MemoryFileTest, ReadLineStopsInFrontOfNulAndEofByte) {
    for (char stop : {'\0', '\x1A'}) {
        Fill(std::string("ab") + stop + "cd\r\n");
        EXPECT_EQ(rt::ReadLine(file_), "ab");
        EXPECT_FALSE(rt::AtEndOfFile(file_));
        EXPECT_EQ(rt::FilePosition(file_), 2);
        // Again: nothing is passed, so a caller sees it did not move...
        EXPECT_EQ(rt::ReadLine(file_), "");
        EXPECT_EQ(rt::FilePosition(file_), 2);
        // ...and can take the stop byte itself to go on.
        EXPECT_EQ(rt::ReadByteSet(file_, 1), ByteSet{static_cast<unsigned char>(stop)});
        EXPECT_EQ(rt::ReadLine(file_), "cd");
        EXPECT_TRUE(rt::AtEndOfFile(file_));
    }
}

TEST(MemoryFiles, UnknownNumbersFailQuietly) {
    const int file = rt::OpenMemoryFile();
    ASSERT_TRUE(rt::WriteText(file, "abc"));
    rt::CloseFile(file);
    const int next = rt::OpenMemoryFile();
    EXPECT_NE(next, file);  // a stale number never reaches a new file
    EXPECT_EQ(rt::FileLength(next), 0);
    rt::CloseFile(next);

    for (int unknown : {file, 0, -1}) {
        std::string text = "x";
        ByteSet data{1};
        EXPECT_FALSE(rt::WriteValues(unknown, std::string_view("a")));
        EXPECT_FALSE(rt::WriteText(unknown, "a"));
        EXPECT_FALSE(rt::WriteByteSets(unknown, ByteSet{1}));
        EXPECT_FALSE(rt::ReadValues(unknown, text, data));
        EXPECT_EQ(text, "");
        EXPECT_TRUE(data.empty());
        EXPECT_EQ(rt::ReadLine(unknown), "");
        EXPECT_TRUE(rt::AtEndOfFile(unknown));  // so a reading loop ends
        EXPECT_EQ(rt::FileLength(unknown), 0);
        EXPECT_FALSE(rt::DeleteFileData(unknown, 1));
        EXPECT_TRUE(rt::ReadByteSet(unknown, 1).empty());
        rt::SeekToStart(unknown);
        rt::CloseFile(unknown);
    }
}

TEST(MemoryFiles, TheTableServesSeveralThreads) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 500; ++i) {
                const int file = rt::OpenMemoryFile();
                const std::string text = std::to_string(t) + ":" + std::to_string(i);
                rt::WriteValues(file, std::string_view(text), rt::ToByteSet(text));
                rt::SeekToStart(file);
                std::string got;
                ByteSet gotData;
                if (!rt::ReadValues(file, got, gotData) || got != text || rt::ToTextBytes(gotData) != text) {
                    ++failures;
                }
                rt::CloseFile(file);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(ByteSets, ZeroLeftAndConversions) {
    EXPECT_EQ(rt::ZeroByteSet(3), (ByteSet{0, 0, 0}));
    EXPECT_TRUE(rt::ZeroByteSet(0).empty());
    EXPECT_TRUE(rt::ZeroByteSet(-5).empty());
    const ByteSet data = {1, 2, 3};
    EXPECT_EQ(rt::ByteSetLeft(data, 2), (ByteSet{1, 2}));
    EXPECT_EQ(rt::ByteSetLeft(data, 9), data);
    EXPECT_TRUE(rt::ByteSetLeft(data, 0).empty());
    EXPECT_TRUE(rt::ByteSetLeft(data, -1).empty());
    const std::string withNul("a\0\xFF", 3);
    EXPECT_EQ(rt::ToByteSet(withNul), (ByteSet{'a', 0, 0xFF}));
    EXPECT_EQ(rt::ToTextBytes(rt::ToByteSet(withNul)), withNul);
}

}  // namespace

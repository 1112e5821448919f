#include "recorddb/field_ref.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "recorddb/text_builder.h"

namespace {

TEST(CompareFieldNamesTest, FoldsAsciiLettersOnly) {
    struct Case {
        std::string first;
        std::string second;
        int result;
    };
    const Case cases[] = {
        {"ClassName", "classname", 0},
        {"a_b", "A_B", 0},
        {"abc", "abd", -1},
        {"b", "A", 1},
        {"_", "a", 1},  // the a is compared as A (0x41 < 0x5F)
        {"", "", 0},
        {"", "a", -1},
        {"ab", "a", 1},
        {"\xB0\x61", "\xB0\x41", 1},  // a trail byte is never folded
        {"\xB0\x61x", "\xB0\x61X", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + " / " + c.second);
        EXPECT_EQ(CompareFieldNames(c.first, c.second), c.result);
    }
    const std::string same = "x";
    EXPECT_EQ(CompareFieldNames(same, same), 0);
    EXPECT_EQ(TextBuilder::PoolBlocksInUse(), 0);  // both copies released
}

TEST(ResolveFieldRefTest, NamesNumbersAndInvalidArguments) {
    struct Case {
        const char* what;
        FieldArg field;
        std::string name;
        std::int32_t number;
        bool valid;
    };
    const Case cases[] = {
        {"name", "value", "value", -1, true},
        {"empty text", "", "", -1, false},
        {"no text", static_cast<const char*>(nullptr), "", -1, false},
        {"int", 2, "", 2, true},
        {"byte", static_cast<std::uint8_t>(3), "", 3, true},
        {"short", static_cast<std::int16_t>(4), "", 4, true},
        {"real", 2.9, "", 2, true},
        {"float", 2.9f, "", 2, true},
        {"small negative real", -0.5, "", 0, false},
        {"zero", 0, "", 0, false},
        {"negative", -3, "", -3, false},
        {"int64 low bits", (std::int64_t{1} << 32) + 3, "", 3, true},
        {"int64 low bits zero", std::int64_t{1} << 32, "", 0, false},
        {"large real low bits", 1e10, "", 1410065408, true},
        {"bool", true, "", -1, false},
        {"date-time", rt::DateTime(2.0), "", -1, false},
        {"bytes", rt::ByteSet{2}, "", -1, false},
        {"nothing", nullptr, "", -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FieldRef ref = ResolveFieldRef(c.field);
        EXPECT_EQ(ref.name, c.name);
        EXPECT_EQ(ref.number, c.number);
        EXPECT_EQ(ref.IsValid(), c.valid);
    }
}

TEST(ReadColumnValueTest, ReadsEachKindAndNullAsEmpty) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT NULL, '', 'x''y', 42, '45658.5'", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);

    ColumnValue v;
    v.text = "stale";
    ASSERT_TRUE(ReadColumnValue(st, 0, ColumnKind::Text, v));
    EXPECT_EQ(v.text, "");
    v.integer = 9;
    ASSERT_TRUE(ReadColumnValue(st, 0, ColumnKind::Int32, v));
    EXPECT_EQ(v.integer, 0);
    ASSERT_TRUE(ReadColumnValue(st, 0, ColumnKind::DateTime, v));
    EXPECT_EQ(v.dateTime.days, 0.0);
    ASSERT_TRUE(ReadColumnValue(st, 1, ColumnKind::Text, v));
    EXPECT_EQ(v.text, "");
    ASSERT_TRUE(ReadColumnValue(st, 2, ColumnKind::Text, v));
    EXPECT_EQ(v.text, "x'y");
    ASSERT_TRUE(ReadColumnValue(st, 3, ColumnKind::Int32, v));
    EXPECT_EQ(v.integer, 42);
    ASSERT_TRUE(ReadColumnValue(st, 4, ColumnKind::DateTime, v));
    EXPECT_DOUBLE_EQ(v.dateTime.days, 45658.5);

    EXPECT_FALSE(ReadColumnValue(nullptr, 0, ColumnKind::Text, v));
    EXPECT_FALSE(ReadColumnValue(st, -1, ColumnKind::Text, v));
    EXPECT_FALSE(ReadColumnValue(st, 0, static_cast<ColumnKind>(7), v));

    sqlite3_finalize(st);
    sqlite3_close(db);
}

}  // namespace

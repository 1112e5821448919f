#include "recorddb/field_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(FieldArgTest, KeepsTheKindTheCallerGave) {
    using K = FieldArg::Kind;
    EXPECT_EQ(FieldArg().kind(), K::Nothing);
    EXPECT_EQ(FieldArg(nullptr).kind(), K::Nothing);
    EXPECT_EQ(FieldArg(std::monostate{}).kind(), K::Nothing);
    EXPECT_EQ(FieldArg(static_cast<const char*>(nullptr)).kind(), K::NoText);
    EXPECT_EQ(FieldArg("").kind(), K::Text);
    EXPECT_EQ(FieldArg(std::string("s")).kind(), K::Text);
    EXPECT_EQ(FieldArg(true).kind(), K::Bool);
    EXPECT_EQ(FieldArg(static_cast<std::int8_t>(-1)).kind(), K::Int8);
    EXPECT_EQ(FieldArg(static_cast<std::uint8_t>(200)).kind(), K::Int8);
    EXPECT_EQ(FieldArg(static_cast<std::int16_t>(7)).kind(), K::Int16);
    EXPECT_EQ(FieldArg(7).kind(), K::Int32);
    EXPECT_EQ(FieldArg(7u).kind(), K::Int64);  // kept whole
    EXPECT_EQ(FieldArg(std::int64_t{7}).kind(), K::Int64);
    EXPECT_EQ(FieldArg(7LL).kind(), K::Int64);
    EXPECT_EQ(FieldArg(1.5f).kind(), K::Float);
    EXPECT_EQ(FieldArg(1.5).kind(), K::Double);
    EXPECT_EQ(FieldArg(rt::DateTime(45658.5)).kind(), K::DateTime);
    EXPECT_EQ(FieldArg(rt::ByteSet{1, 2}).kind(), K::Bytes);
    EXPECT_EQ(FieldArg(static_cast<std::uint8_t>(200)).integer(), 200);
    EXPECT_EQ(FieldArg(4000000000u).integer(), 4000000000LL);
}

TEST(FieldValueTest, StoresEachValueByTheWriteTable) {
    struct Case {
        const char* name;
        FieldArg given;
        FieldValue::Kind kind;
    };
    const Case cases[] = {
        {"true", true, FieldValue::Int32},
        {"false", false, FieldValue::Int32},
        {"byte", static_cast<std::uint8_t>(255), FieldValue::Int32},
        {"short", static_cast<std::int16_t>(-300), FieldValue::Int32},
        {"int", -5, FieldValue::Int32},
        {"int64", std::int64_t{1} << 40, FieldValue::Int64},
        {"float", 0.25f, FieldValue::Double},
        {"double", 2.5, FieldValue::Double},
        {"datetime", rt::DateTime(45658.5), FieldValue::Double},
        {"text", "it's", FieldValue::Text},
        {"empty text", "", FieldValue::Text},
        {"bytes", rt::ByteSet{0, 1, 255}, FieldValue::Bytes},
        {"empty bytes", rt::ByteSet{}, FieldValue::Bytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto v = FieldValue::From(c.given);
        ASSERT_TRUE(v.has_value());
        EXPECT_EQ(v->kind(), c.kind);
    }
    EXPECT_EQ(FieldValue::From(true)->int32(), 1);
    EXPECT_EQ(FieldValue::From(false)->int32(), 0);
    EXPECT_EQ(FieldValue::From(static_cast<std::uint8_t>(255))->int32(), 255);
    EXPECT_EQ(FieldValue::From(std::int64_t{1} << 40)->int64(), std::int64_t{1} << 40);
    EXPECT_DOUBLE_EQ(FieldValue::From(0.25f)->real(), 0.25);
    EXPECT_DOUBLE_EQ(FieldValue::From(rt::DateTime(45658.5))->real(), 45658.5);
    EXPECT_EQ(FieldValue::From("it's")->text(), "it's");
    EXPECT_EQ(FieldValue::From(rt::ByteSet{0, 1, 255})->bytes(), (rt::ByteSet{0, 1, 255}));
}

TEST(FieldValueTest, RefusesNothingAndATextThatIsNoData) {
    EXPECT_FALSE(FieldValue::From(FieldArg()).has_value());
    EXPECT_FALSE(FieldValue::From(nullptr).has_value());
    EXPECT_FALSE(FieldValue::From(static_cast<const char*>(nullptr)).has_value());
}

TEST(FieldValueTest, IsBuiltImplicitlyAndHoldsOneCopyAtATime) {
    FieldValue v = "abc";
    EXPECT_EQ(v.kind(), FieldValue::Text);
    v = 42;
    EXPECT_EQ(v.kind(), FieldValue::Int32);
    EXPECT_EQ(v.int32(), 42);
    EXPECT_EQ(v.text(), "");  // the text went with the kind
    v = nullptr;
    EXPECT_EQ(v.kind(), FieldValue::Unset);
}

}  // namespace

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "runtime/text.h"

namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();

TEST(ToText, Integers) {
    EXPECT_EQ(rt::ToText(0), "0");
    EXPECT_EQ(rt::ToText(7), "7");
    EXPECT_EQ(rt::ToText(-25), "-25");
    EXPECT_EQ(rt::ToText(kIntMin), "-2147483648");
    EXPECT_EQ(rt::ToText(std::int64_t{183605}), "183605");
    EXPECT_EQ(rt::ToText(kI64Min), "-9223372036854775808");
}

TEST(ToText, RealsWithAtMost13SignificantDigits) {
    struct Case {
        double value;
        const char* want;
    };
    const Case cases[] = {
        {2.5, "2.5"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.3"},  // 0.30000000000000004 rounds away at 13 digits
        {-3.0, "-3"},
        {45658.5, "45658.5"},
        {1234567890123.0, "1234567890123"},
        {1.0 / 3.0, "0.3333333333333"},
        {2.0 / 3.0, "0.6666666666667"},
        {100.0, "100"},
        {0.0001, "0.0001"},
        {1.5e-7, "1.5E-7"},
        {1e20, "1E+20"},
        {12345678901234.0, "1.234567890123E+13"},
        {-2.5e-100, "-2.5E-100"},
        {-0.0, "0"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<double>::infinity(), "-Inf"},
    };
    for (const Case& c : cases) EXPECT_EQ(rt::ToText(c.value), c.want) << c.want;
}

TEST(ToInteger, FoldsFullWidthAndReadsTheLeadingNumber) {
    struct Case {
        std::string text;
        int want;
    };
    const Case cases[] = {
        {"  -12abc", -12},
        {"\xA3\xB1\xA3\xB2\xA3\xB3", 123},            // １２３
        {"\xA3\xAD\xA3\xB4\xA3\xB5", -45},            // －４５
        {"\xA1\xA1\xA3\xB7", 7},                      // full-width space, ７
        {"12\xA3\xB3" "4", 1234},                     // mixed widths
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"- 5", 0},
        {"+7", 7},
        {"\t\r\n 42", 42},
        {"007", 7},
        {"2147483647", kIntMax},
        {"99999999999", kIntMax},
        {"-2147483648", kIntMin},
        {"-99999999999999999999", kIntMin},
        {"\xC4\xE3" "5", 0},                          // a Chinese character first
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(rt::ToInteger(cases[i].text), cases[i].want) << "case " << i;
    }
}

TEST(ToNumber, ReadsTheDecimalNumberAtTheStart) {
    struct Case {
        const char* text;
        double want;
    };
    const Case cases[] = {
        {"8080abc/", 8080},  {" -1.5e3x", -1500}, {"+3.", 3},   {".5", 0.5},      {"1e", 1},
        {"1e+", 1},          {"2E2", 200},        {"", 0},      {"abc", 0},       {"-", 0},
        {".", 0},            {"0x10", 0},         {"inf", 0},   {"nan", 0},       {"  12 34", 12},
        {"1e999", std::numeric_limits<double>::infinity()},
    };
    for (const Case& c : cases) EXPECT_EQ(rt::ToNumber(c.text), c.want) << c.text;
}

TEST(ToNumber, IgnoresTheProgramLocale) {
    // A GUI toolkit sets the process locale from the environment; a decimal comma must not leak in.
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
        << "the locale de_DE.UTF-8 is missing: scripts/install-deps.sh generates it";
    const char decimalPoint = *std::localeconv()->decimal_point;
    const double got = rt::ToNumber("1.5");
    const double gotExponent = rt::ToNumber("2,5e1");
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_EQ(decimalPoint, ',');  // the locale in force did have a decimal comma
    EXPECT_EQ(got, 1.5);
    EXPECT_EQ(gotExponent, 2);
}

TEST(IntegerArithmetic, TruncatesTowardZero) {
    struct Case {
        std::int64_t a, d, quotient, remainder;
    };
    const Case cases[] = {
        {7, 2, 3, 1},     {-7, 2, -3, -1},      {7, -2, -3, 1},           {-7, -2, 3, -1},
        {1499, 3600, 0, 1499}, {183605, 3600, 51, 5}, {5, 0, 0, 0},      {0, 3, 0, 0},
        {kI64Min, -1, kI64Max, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rt::IntegerDivide(c.a, c.d), c.quotient) << c.a << "/" << c.d;
        EXPECT_EQ(rt::Remainder(c.a, c.d), c.remainder) << c.a << "%" << c.d;
    }
}

TEST(FloorToInt, MovesUpWithin1e12OfTheNextWholeNumber) {
    // The rate of bad tomatoes exactly as the statistics line computes it.
    auto rate = [](double good, double bad) { return bad / (good + bad) * 100.0; };
    ASSERT_LT(rate(71, 29), 29.0);  // the real lies just below 29
    struct Case {
        double x;
        std::int64_t want;
    };
    const Case cases[] = {
        {28.999999999999996, 29},
        {rate(71, 29), 29},
        {rate(2, 1), 33},
        {rate(0, 4), 100},
        {28.9999, 28},
        {29.0 - 2e-12, 28},  // outside the tolerance
        {29.0, 29},
        {0.0, 0},
        {0.9999999999999, 1},
        {-2.5, -3},
        {-1e-13, -1},
        {-2.9999999999999996, -3},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {1e300, kI64Max},
        {-1e300, kI64Min},
    };
    for (const Case& c : cases) EXPECT_EQ(rt::FloorToInt(c.x), c.want) << c.x;
}

}  // namespace

#include "app/strings.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace tarvik {
namespace {

TEST(Strings, DoubleToStringUsesSixSignificantDigits) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"},       {1e-05, "1e-05"}, {123456.0, "123456"}, {1234567.0, "1.23457e+06"},
        {0.0075, "0.0075"}, {100.0, "100"},   {0.0, "0"},           {-2.5, "-2.5"},
    };
    for (const auto& c : cases) EXPECT_EQ(doubleToString(c.value), c.text) << c.value;
}

TEST(Strings, IntToString) {
    EXPECT_EQ(intToString(0), "0");
    EXPECT_EQ(intToString(-5), "-5");
    EXPECT_EQ(intToString(INT_MAX), "2147483647");
    EXPECT_EQ(intToString(INT_MIN), "-2147483648");
}

TEST(Strings, StringToIntReadsLikeStrtol) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"  42abc", 42},
        {"abc", 0},
        {"", 0},
        {"-17", -17},
        {"+8", 8},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(stringToInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(Strings, StringToDoubleReadsTheLeadingNumber) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"2.5xyz", 2.5}, {"x2.5", 0.0}, {"", 0.0}, {"   ", 0.0}, {" -1e3 rest", -1000.0},
    };
    for (const auto& c : cases) EXPECT_EQ(stringToDouble(c.text), c.value) << '"' << c.text << '"';
}

TEST(Strings, CompareCStrings) {
    EXPECT_EQ(compareCStrings(nullptr, nullptr), 0);
    EXPECT_EQ(compareCStrings(nullptr, "a"), 1);
    EXPECT_EQ(compareCStrings("a", nullptr), 1);
    EXPECT_EQ(compareCStrings("abc", "abc"), 0);
    EXPECT_LT(compareCStrings("abc", "abd"), 0);
    EXPECT_GT(compareCStrings("b", "a"), 0);
}

TEST(Strings, CopyCStringAndBoolToString) {
    std::unique_ptr<char[]> copy(copyCString("sil"));
    EXPECT_STREQ(copy.get(), "sil");
    std::unique_ptr<char[]> empty(copyCString(""));
    EXPECT_STREQ(empty.get(), "");
    EXPECT_EQ(boolToString(true), "true");
    EXPECT_EQ(boolToString(false), "false");
}

}  // namespace
}  // namespace tarvik

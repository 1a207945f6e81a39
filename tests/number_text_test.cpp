#include "app/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>

TEST(TextToInt, ReadsLeadingIntegersAndMarksNonZeroTextsThatGiveZero) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"6670", 6670}, {"  7", 7},     {"7abc", 7},          {"-5", -5},           {"+12", 12},
        {"0", 0},       {"00", -1},     {"-0", -1},           {"abc", -1},          {"", -1},
        {" 0", -1},     {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"2147483648", -1},
        {"99999999999999999999", -1},   {"12 34", 12},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textToInt(c.text), c.expected) << "text \"" << c.text << "\"";
    }
}

TEST(TextToReal, ReadsWithPointWhateverTheLocaleAndMarksNonZeroTexts) {
    // A locale with a decimal comma must not change the reading.
    std::setlocale(LC_ALL, "ru_RU.UTF-8");
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"0.4", 0.4}, {"5", 5.0},    {"0", 0.0},    {"0.", 0.0},   {"0.000", 0.0}, {"", 0.0},
        {"abc", -1.0}, {"00", -1.0}, {"-0", -1.0},  {" 0", -1.0},  {"0,5", -1.0},  {"1e2", 100.0},
        {"-0.1", -0.1}, {" 0.9x", 0.9}, {"1e999", -1.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(textToReal(c.text), c.expected) << "text \"" << c.text << "\"";
    }
    std::setlocale(LC_ALL, "C");
}

TEST(LeadingInt, BehavesLikeAtoiButClampsOverflow) {
    EXPECT_EQ(leadingInt("  42x"), 42);
    EXPECT_EQ(leadingInt("-17"), -17);
    EXPECT_EQ(leadingInt("abc"), 0);
    EXPECT_EQ(leadingInt(""), 0);
    EXPECT_EQ(leadingInt("99999999999999"), INT_MAX);
    EXPECT_EQ(leadingInt("-99999999999999"), INT_MIN);
    EXPECT_EQ(leadingInt("+5"), 5);
    EXPECT_EQ(leadingInt("- 5"), 0);
    EXPECT_EQ(leadingInt("\t\n 8"), 8);
    EXPECT_EQ(leadingInt(std::string("\xA0") + "7"), 0);  // no space, whatever a code page says
    EXPECT_EQ(leadingInt("2147483647"), INT_MAX);
    EXPECT_EQ(leadingInt("2147483648"), INT_MAX);
    EXPECT_EQ(leadingInt("-2147483648"), INT_MIN);
    EXPECT_EQ(leadingInt("-2147483649"), INT_MIN);
}

#include "app/coordinates.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    std::optional<Position> expected;  // east-west, altitude, north-south
};

TEST(ParseCoordinates, WorkedValuesAndGrammar) {
    const Case cases[] = {
        {"142N 71E", Position{-71000, 0, 142000}},
        {"50S 10W 1a", Position{10000, 1000, -50000}},
        {"0S 0W", Position{0, 0, 0}},
        {"142n 71e", Position{-71000, 0, 142000}},
        {"142N71E", Position{-1000, 0, 142000}},  // the character after N is skipped
        {"50S 10W 1A", Position{10000, 0, -50000}},  // only a small "a" marks the altitude
        {"1.5N 2.25W 0.5a", Position{2250, 500, 1500}},
        {"1.005N 1E", Position{-1000, 0, 1004}},  // the product lies just below 1005
        {"-3N 4W -2a", Position{4000, -2000, -3000}},
        {"+3N  4W", Position{4000, 0, 3000}},  // sign allowed; the separator may be any character
        {"3N 4W xa", Position{4000, 0, 3000}},  // an altitude without a number is 0
        {"2147483N 2147483W", Position{2147483000, 0, 2147483000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseCoordinates(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseCoordinates, MalformedAndHostileTexts) {
    const char* malformed[] = {
        "",
        "71E 142N",              // east-west letter first
        "N5 5E",                 // a letter at position 0 counts as not found
        "5N",                    // no east-west letter
        "5N5E",                  // east-west letter right after the separator
        "xN 5E",                 // no digit
        "5N E",                  // empty east-west number
        " N 5E",                 // white space only
        "+N 5E",                 // sign without digit
        "99999999999N 5E",       // too large for 32 bits
        "2147484N 0W",           // fits 32 bits, its thousands do not
        "-2147484N 0W",
        "5N 5W 99999999a",       // altitude beyond 32 bits in units
        "1e300N 5W",             // integer-led, but the real value overflows
        // Integer-led numbers that do not read as real numbers (an exponent
        // without digits): once undefined behaviour, found by fuzzing.
        "1N 2ee",
        "142N 71E 1e",
        "1eN 2W",
        "3N 2E 1e5a",  // the last "e" is the east-west letter: "2E 1" is its number
    };
    for (const char* text : malformed) {
        EXPECT_EQ(parseCoordinates(text), std::nullopt) << '"' << text << '"';
    }
}

}  // namespace

TEST(CoordinatesText, WritesTheFormThatIsRead) {
    struct Out {
        std::int64_t northSouth, eastWest, altitude;
        const char* text;
    };
    const Out cases[] = {
        {0, 0, 0, "0N 0W"},
        {60000, 60000, 0, "60N 60W"},
        {-50000, 10000, 1000, "50S 10W 1a"},
        {142000, -71000, 0, "142N 71E"},
        {1500, -2250, -500, "1.5N 2.25E -0.5a"},
        {7, -120, 0, "0.007N 0.12E"},
        {-4294967294, 4294967294, 0, "4294967.294S 4294967.294W"},  // a difference of extremes
    };
    for (const Out& c : cases) {
        EXPECT_EQ(coordinatesText(c.northSouth, c.eastWest, c.altitude), c.text);
    }
    for (const char* text : {"60N 60W", "50S 10W 1a", "1.5N 2.25E -0.5a", "0.12S 3E"}) {
        const auto position = parseCoordinates(text);
        ASSERT_TRUE(position) << text;
        EXPECT_EQ(coordinatesText(*position), text);
    }
}

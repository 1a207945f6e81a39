#include "text/cp1251.h"

#include <gtest/gtest.h>

TEST(Cp1251, RussianTextRoundTripsThroughUtf8) {
    const std::string utf8 = "Съешь же ещё этих мягких французских булок, ЁЖ! №5 «—» €";
    const std::string bytes = utf8ToCp1251(utf8);
    EXPECT_EQ(bytes.size(), 56u);  // one byte per character
    EXPECT_EQ(cp1251ToUtf8(bytes), utf8);
    EXPECT_EQ(utf8ToCp1251("Аа Яя Ёё"), "\xC0\xE0 \xDF\xFF \xA8\xB8");
}

TEST(Cp1251, EveryByteConvertsToValidUtf8AndBack) {
    for (int byte = 1; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        const std::string back = utf8ToCp1251(cp1251ToUtf8(one));
        if (byte == 0x98) {
            EXPECT_EQ(cp1251ToUtf8(one), "\xEF\xBF\xBD");  // U+FFFD
            EXPECT_EQ(back, "?");
        } else {
            EXPECT_EQ(back, one) << "byte " << byte;
        }
    }
}

TEST(Cp1251, MalformedOrUnmappableUtf8BecomesQuestionMarks) {
    EXPECT_EQ(utf8ToCp1251("a\xFF" "b"), "a?b");
    EXPECT_EQ(utf8ToCp1251("\xD0"), "?");              // truncated sequence
    EXPECT_EQ(utf8ToCp1251("\xC0\xAF"), "??");         // overlong '/'
    EXPECT_EQ(utf8ToCp1251("\xED\xA0\x80"), "???");    // surrogate
    EXPECT_EQ(utf8ToCp1251("日本"), "??");              // not in the code page
    EXPECT_EQ(utf8ToCp1251("😀"), "?");
}

TEST(Cp1251, LowerCaseCoversLatinAndCyrillicOnly) {
    const std::string upper = utf8ToCp1251("ABCXYZ АБВЮЯ ЁЇЎІЄЂ 1![");
    const std::string lower = utf8ToCp1251("abcxyz абвюя ёїўієђ 1![");
    for (std::size_t i = 0; i < upper.size(); ++i) {
        EXPECT_EQ(cp1251ToLower(upper[i]), lower[i]) << "at " << i;
        EXPECT_EQ(cp1251ToLower(lower[i]), lower[i]) << "at " << i;
    }
}

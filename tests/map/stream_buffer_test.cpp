#include "server/map/stream_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string takeAll(StreamBuffer& buffer, std::size_t chunk) {
    std::string out;
    char bytes[64];
    std::size_t n;
    while ((n = buffer.take(bytes, chunk < sizeof bytes ? chunk : sizeof bytes)) > 0) {
        out.append(bytes, n);
    }
    return out;
}

}  // namespace

TEST(StreamBuffer, BytesComeOutInOrderInAnyChunks) {
    StreamBuffer buffer(1000);
    std::string expected;
    // Interleaved appends and partial takes exercise the storage's reuse.
    std::string got;
    for (int i = 0; i < 500; ++i) {
        std::string piece = std::to_string(i) + ",";
        ASSERT_TRUE(buffer.append(piece));
        expected += piece;
        char bytes[3];
        got.append(bytes, buffer.take(bytes, sizeof bytes));
    }
    got += takeAll(buffer, 7);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_FALSE(buffer.overflowed());
}

TEST(StreamBuffer, PassingTheBoundOverflowsForGood) {
    struct Case {
        std::size_t bound;
        std::size_t first, second;  // appended one after the other, nothing taken
        bool overflows;
    };
    const Case cases[] = {
        {10, 4, 6, false},  // exactly the bound
        {10, 4, 7, true},   // one byte over
        {10, 11, 0, true},  // one piece over the bound alone
        {10, 0, 10, false},
    };
    for (const Case& c : cases) {
        StreamBuffer buffer(c.bound);
        bool ok = buffer.append(std::string(c.first, 'a'));
        ok = buffer.append(std::string(c.second, 'b')) && ok;
        EXPECT_EQ(!ok, c.overflows) << c.bound << " " << c.first << " " << c.second;
        EXPECT_EQ(buffer.overflowed(), c.overflows);
        if (c.overflows) {
            // Emptied at once, and nothing is taken in any more.
            EXPECT_EQ(buffer.size(), 0u);
            EXPECT_FALSE(buffer.append("x"));
            EXPECT_EQ(takeAll(buffer, 64), "");
        } else {
            EXPECT_EQ(buffer.size(), c.first + c.second);
        }
    }
}

TEST(StreamBuffer, TakingMakesRoomUnderTheBound) {
    StreamBuffer buffer(8);
    ASSERT_TRUE(buffer.append("12345678"));
    char bytes[5];
    ASSERT_EQ(buffer.take(bytes, 5), 5u);
    EXPECT_TRUE(buffer.append("abcde"));
    EXPECT_FALSE(buffer.append("z"));  // 9 waiting: over
    EXPECT_TRUE(buffer.overflowed());
}

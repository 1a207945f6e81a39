// A client's waiting output: frames packed into chunks, sent in order, their
// memory counted while held and given back once sent.

#include "server/output_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string unsent(const OutputQueue& queue) {
    net::Piece pieces[64];
    std::string bytes;
    const int filled = queue.gather(pieces, 64);
    for (int i = 0; i < filled; ++i) {
        bytes.append(pieces[i].data, pieces[i].size);
    }
    return bytes;
}

TEST(OutputQueue, PacksFramesInOrderAndCountsExactlyWhatItHolds) {
    OutputQueue queue;
    std::string expected;
    std::size_t counted = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string frame = "frame " + std::to_string(i) + ";";
        const std::size_t cost = queue.costOf(frame.size());
        const std::size_t added = queue.push(frame);
        EXPECT_EQ(added, cost) << i;
        counted += added;
        expected += frame;
    }
    EXPECT_EQ(queue.heldBytes(), counted);
    EXPECT_EQ(unsent(queue), expected);
    // Thousands of small frames take a few chunks, not an allocation each.
    net::Piece pieces[64];
    EXPECT_LE(static_cast<std::size_t>(queue.gather(pieces, 64)),
              expected.size() / OutputQueue::CHUNK_BYTES + 2);

    // Sent a little at a time: what is left is the rest, in order.
    queue.consume(7);
    EXPECT_EQ(unsent(queue), expected.substr(7));
    queue.consume(expected.size());
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.heldBytes(), 0u);
}

TEST(OutputQueue, AFrameLargerThanAChunkTravelsWholeInChunksOfOneSize) {
    OutputQueue queue;
    std::string expected;
    for (const std::size_t size : {std::size_t{5}, OutputQueue::CHUNK_BYTES * 2 + 3,
                                   OutputQueue::CHUNK_BYTES - 1, OutputQueue::CHUNK_BYTES * 3}) {
        const std::string frame(size, static_cast<char>('a' + expected.size() % 26));
        const std::size_t cost = queue.costOf(frame.size());
        EXPECT_EQ(queue.push(frame), cost) << size;
        expected += frame;
    }
    EXPECT_EQ(unsent(queue), expected);
    net::Piece pieces[64];
    const int filled = queue.gather(pieces, 64);
    for (int i = 0; i < filled; ++i) {
        EXPECT_LE(pieces[i].size, OutputQueue::CHUNK_BYTES) << i;
    }
    queue.clear();
    EXPECT_EQ(queue.heldBytes(), 0u);
    EXPECT_EQ(unsent(queue), "");
}

}  // namespace

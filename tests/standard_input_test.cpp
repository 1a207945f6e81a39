// Standard input forwarded into a socket, the way the avatar client polls it
// on Windows beside its connection.

#include "platform/standard_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/process.h"

namespace {

TEST(StandardInput, ForwardsEverythingReadThenTheEnd) {
    auto pieces = std::make_shared<std::vector<std::string>>(
        std::vector<std::string>{"first li", "ne\nsecond", std::string(10000, 'x'), "\n"});
    auto next = std::make_shared<std::size_t>(0);
    const int fd = forwardInput([pieces, next](char* buffer, std::size_t size) -> long {
        if (*next == pieces->size()) {
            return 0;
        }
        std::string& piece = (*pieces)[*next];
        const std::size_t taken = std::min(size, piece.size());
        piece.copy(buffer, taken);
        piece.erase(0, taken);
        *next += piece.empty() ? 1 : 0;
        return static_cast<long>(taken);
    });
    ASSERT_GE(fd, 0);
    std::string got;
    char buffer[512];
    long n;
    while ((n = readInput(fd, buffer, sizeof buffer)) > 0) {
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(got, "first line\nsecond" + std::string(10000, 'x') + "\n");
    net::close(fd);
}

TEST(StandardInput, AFailedReadEndsTheInputToo) {
    const int fd = forwardInput([](char*, std::size_t) -> long { return -1; });
    ASSERT_GE(fd, 0);
    char byte;
    EXPECT_EQ(readInput(fd, &byte, 1), 0);
    net::close(fd);
}

TEST(StandardInput, ForwardingStopsOnceNobodyReads) {
    // The source is released when the forwarding thread ends.
    auto alive = std::make_shared<std::atomic<bool>>(true);
    struct Endless {
        std::shared_ptr<std::atomic<bool>> alive;
        ~Endless() {
            if (alive) {
                *alive = false;
            }
        }
    };
    auto endless = std::make_shared<Endless>();
    endless->alive = alive;
    const int fd = forwardInput([endless](char* buffer, std::size_t size) -> long {
        std::fill(buffer, buffer + size, 'y');
        return static_cast<long>(size);
    });
    endless.reset();
    ASSERT_GE(fd, 0);
    net::close(fd);
    while (alive->load()) {
        sleepMs(1);
    }
}

}  // namespace

// The poller behind the world server and the avatar fleet: epoll on Linux,
// WSAPoll on Windows, the same behaviour from both.

#include "platform/poller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/net.h"

namespace {

// Long enough never to be reached when something is ready; the suite's own
// time limit ends a test that waits in vain.
constexpr int PATIENCE_MS = 20000;

struct Pair {
    int watched = -1;  // the end watched
    int sender = -1;   // the end that sends
    Pair() {
        int ends[2];
        EXPECT_TRUE(net::socketPair(ends));
        watched = ends[0];
        sender = ends[1];
        net::setNonBlocking(watched);
    }
    ~Pair() {
        net::close(watched);
        net::close(sender);
    }
};

const Poller::Event* find(const std::vector<Poller::Event>& ready, int fd) {
    auto found = std::find_if(ready.begin(), ready.end(),
                              [fd](const Poller::Event& e) { return e.fd == fd; });
    return found == ready.end() ? nullptr : &*found;
}

// Waits until `fd` is among the ready ones and returns its event.
Poller::Event waitFor(Poller& poller, int fd) {
    std::vector<Poller::Event> ready;
    for (;;) {
        EXPECT_TRUE(poller.wait(PATIENCE_MS, ready)) << poller.error();
        if (const Poller::Event* event = find(ready, fd)) {
            return *event;
        }
        if (ready.empty()) {
            ADD_FAILURE() << "socket " << fd << " never became ready";
            return {};
        }
    }
}

TEST(Poller, ReportsWhatEachSocketIsWatchedFor) {
    Poller poller;
    ASSERT_TRUE(poller.ok()) << poller.error();
    Pair a;
    ASSERT_TRUE(poller.add(a.watched, Poller::READ));
    EXPECT_FALSE(poller.add(a.watched, Poller::READ));  // watched already
    std::vector<Poller::Event> ready;
    ASSERT_TRUE(poller.wait(0, ready));
    EXPECT_TRUE(ready.empty());

    // Room to write is reported only once asked for.
    ASSERT_TRUE(poller.modify(a.watched, Poller::READ | Poller::WRITE));
    Poller::Event event = waitFor(poller, a.watched);
    EXPECT_TRUE(event.writable);
    EXPECT_FALSE(event.readable);
    ASSERT_TRUE(poller.modify(a.watched, Poller::READ));
    ASSERT_TRUE(poller.wait(0, ready));
    EXPECT_TRUE(ready.empty());

    ASSERT_EQ(net::send(a.sender, "x", 1), 1);
    event = waitFor(poller, a.watched);
    EXPECT_TRUE(event.readable);
    EXPECT_FALSE(event.writable);
    // Level-triggered: unread input is reported again.
    EXPECT_TRUE(waitFor(poller, a.watched).readable);

    // Removed, it is not reported though its input waits.
    poller.remove(a.watched);
    ASSERT_TRUE(poller.wait(0, ready));
    EXPECT_TRUE(ready.empty());
    EXPECT_FALSE(poller.modify(a.watched, Poller::READ));
}

TEST(Poller, KeepsTrackOfTheOthersWhenOneIsRemoved) {
    Poller poller;
    Pair first, middle, last;
    for (int fd : {first.watched, middle.watched, last.watched}) {
        ASSERT_TRUE(poller.add(fd, Poller::READ));
    }
    poller.remove(first.watched);
    ASSERT_EQ(net::send(first.sender, "1", 1), 1);
    ASSERT_EQ(net::send(last.sender, "3", 1), 1);
    EXPECT_TRUE(waitFor(poller, last.watched).readable);
    ASSERT_EQ(net::send(middle.sender, "2", 1), 1);
    std::vector<Poller::Event> ready;
    while (find(ready, middle.watched) == nullptr) {
        ASSERT_TRUE(poller.wait(PATIENCE_MS, ready));
        ASSERT_FALSE(ready.empty());
        EXPECT_EQ(find(ready, first.watched), nullptr);
    }
    EXPECT_NE(find(ready, last.watched), nullptr);  // still unread
    // A removed socket can be watched again.
    ASSERT_TRUE(poller.add(first.watched, Poller::READ));
    EXPECT_TRUE(waitFor(poller, first.watched).readable);
}

TEST(Poller, TheEndOfTheStreamIsReadable) {
    Poller poller;
    Pair a;
    ASSERT_TRUE(poller.add(a.watched, Poller::READ));
    net::close(a.sender);
    a.sender = -1;
    EXPECT_TRUE(waitFor(poller, a.watched).readable);
    char byte;
    EXPECT_EQ(net::receive(a.watched, &byte, 1), 0);
}

TEST(Poller, WaitsWithNothingWatched) {
    Poller poller;
    std::vector<Poller::Event> ready(1);
    EXPECT_TRUE(poller.wait(1, ready));
    EXPECT_TRUE(ready.empty());
}

}  // namespace

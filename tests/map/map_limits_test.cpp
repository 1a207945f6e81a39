// The map holds up against clients that would take it from every viewer:
// many connections from one address, requests sent in part, a world whose
// first events pass the stream bound, and a process out of descriptors; and
// its log stays short meanwhile.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "map/map_client.h"
#include "server/map/map_server.h"

namespace {

class MapLimitsTest : public MapServerFixture {};

constexpr std::uint32_t loopback(std::uint32_t last) {
    return 0x7f000000u | last;
}

const std::string STREAM_REQUEST = "GET /events HTTP/1.1\r\nHost: a\r\n\r\n";

int closedOf(std::vector<std::unique_ptr<RawClient>>& clients) {
    int closed = 0;
    for (auto& client : clients) {
        client->read();
        closed += client->closed() ? 1 : 0;
    }
    return closed;
}

}  // namespace

TEST_F(MapLimitsTest, OneAddressOrAFewCannotTakeEveryPlace) {
    start({.perAddress = 3, .total = 6, .idleTimeoutS = 60, .heartbeatMs = 3600 * 1000});
    CapturedLog log;
    // Thirty idle connections from one address: three are let in, the rest
    // closed at once.
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (int i = 0; i < 30; ++i) {
        crowd.push_back(std::make_unique<RawClient>(server_->port(), 0, loopback(5)));
    }
    ASSERT_TRUE(runUntil(*server_, [&] { return closedOf(crowd) == 27; }));
    runUntil(
        *server_, [] { return false; }, 200);
    EXPECT_EQ(closedOf(crowd), 27);
    // A viewer elsewhere loads the page and opens its stream meanwhile.
    EXPECT_TRUE(loadsPage(loopback(2)));
    auto viewer = std::make_unique<RawClient>(server_->port(), 0, loopback(2));
    viewer->send(STREAM_REQUEST);
    ASSERT_TRUE(streamIsReady(*viewer));
    // Two more addresses take the last places: 3 + 1 + 2 of 6.
    RawClient six(server_->port(), 0, loopback(6));
    RawClient seven(server_->port(), 0, loopback(7));
    runUntil(
        *server_, [] { return false; }, 200);
    EXPECT_FALSE(loadsPage(loopback(8)));
    // The viewer closes its page: its place is free at once, not at the next
    // heartbeat (an hour away), though its stream was idle.
    viewer.reset();
    EXPECT_TRUE(runUntil(
        *server_, [&] { return loadsPage(loopback(8)); }, 3000));
    EXPECT_FALSE(six.closed() || seven.closed());
    // 28 refusals: one line as it came, the rest counted for the period's end.
    EXPECT_EQ(log.lines(), 1) << log.text();
    EXPECT_NE(log.text().find("map connection from 127.0.0.5:"), std::string::npos);
}

TEST_F(MapLimitsTest, HalfSentRequestsAndUnreadStreamsCloseSoonAndIdleStreamsStay) {
    // The heartbeat comes far less often than the timeout: an idle stream
    // waits out of the library's loop, where it does not time out.
    start({.idleTimeoutS = 1, .heartbeatMs = 2500});
    server_->observer().arrived({2, 7, false, "Ann", "welcome", 1, 2, 3});
    RawClient half(server_->port());
    half.send("GET / HTTP/1.1\r\nHost: a");
    RawClient page(server_->port());
    RawClient stuck(server_->port(), 4096);
    page.send(STREAM_REQUEST);
    stuck.send(STREAM_REQUEST);
    ASSERT_TRUE(streamIsReady(page));
    ASSERT_TRUE(runUntil(*server_, [&] { return server_->map().streamCount() == 2; }));
    CapturedLog log;
    // Enough to fill the stuck page's socket, far less than the stream bound.
    for (int i = 0; i < 400; ++i) {
        server_->observer().said(2, std::string(400, 'w'));
        runUntil(
            *server_, [&] { return !page.read(); }, 1);
    }
    EXPECT_TRUE(runUntil(
        *server_, [&] { return !half.read(); }, 5000));
    EXPECT_TRUE(runUntil(
        *server_, [&] { return server_->map().streamCount() == 1; }, 5000));
    runUntil(
        *server_, [&] { return !page.read(); }, 3500);
    EXPECT_FALSE(page.closed());
    EXPECT_NE(page.received().find(":\n\n"), std::string::npos);  // the heartbeat
    EXPECT_EQ(log.lines(), 1) << log.text();
    EXPECT_NE(log.text().find("map page does not read its stream: dropped"), std::string::npos);
}

TEST_F(MapLimitsTest, AWorldWhoseFirstEventsPassTheBoundStillReachesAPage) {
    // 2200 names of 64 '<' each, escaped to six bytes a character: about
    // 1.1 MB of arrivals against the 1 MiB bound of a page's backlog.
    for (int session = 1; session <= 2200; ++session) {
        server_->observer().arrived({session, 0, false, std::string(64, '<'), "welcome", 0, 0, 0});
    }
    RawClient page(server_->port());
    page.send(STREAM_REQUEST);
    ASSERT_TRUE(streamIsReady(page));
    std::size_t arrivals = 0;
    for (std::size_t at = 0; (at = page.received().find("\"arrived\"", at)) != std::string::npos;
         ++at) {
        ++arrivals;
    }
    EXPECT_EQ(arrivals, 2200u);
    EXPECT_GT(page.received().size(), MAP_STREAM_BOUND);
}

TEST_F(MapLimitsTest, OutOfDescriptorsTheLoopRestsAndTheLogHasOneLine) {
    // The clients' sockets and the log's file are made first: once every
    // descriptor is taken, none can be.
    std::vector<std::unique_ptr<RawClient>> waiting;
    for (int i = 0; i < 5; ++i) {
        waiting.push_back(std::make_unique<RawClient>());
    }
    int readyTurns = 0;
    int restingTurns = 0;
    bool allShed = false;
    std::string logged;
    {
        CapturedLog log;
        rlimit saved{};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit low = saved;
        low.rlim_cur = 256;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> taken;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) {
            taken.push_back(fd);
        }
        for (auto& client : waiting) {
            client->connect(server_->port());
        }
        // Each is taken with the spare descriptor and closed unanswered...
        allShed = runUntil(
            *server_, [&] { return closedOf(waiting) == 5; }, 3000, &readyTurns);
        // ...and then the loop rests: nothing left is ready.
        runUntil(
            *server_, [] { return false; }, 1000, &restingTurns);
        for (int fd : taken) {
            ::close(fd);
        }
        ::setrlimit(RLIMIT_NOFILE, &saved);
        logged = log.text();
    }
    EXPECT_TRUE(allShed);
    EXPECT_LE(readyTurns, 5);
    EXPECT_EQ(restingTurns, 0);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;
    EXPECT_NE(logged.find("out of file descriptors"), std::string::npos);
    // With descriptors to spare again, the map serves as before.
    EXPECT_TRUE(loadsPage(loopback(1)));
}

// The socket layer: what every program's connections rest on, on each
// system the same.

#include "platform/net.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// Everything `fd` receives until the end of the stream (blocking reads).
std::string readToEnd(int fd) {
    std::string got;
    char buffer[1024];
    long n;
    while ((n = net::receive(fd, buffer, sizeof buffer)) > 0) {
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(n, 0) << net::lastError();
    return got;
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = net::send(fd, bytes.data() + sent, bytes.size() - sent);
        ASSERT_GT(n, 0) << net::lastError();
        sent += static_cast<std::size_t>(n);
    }
}

TEST(Net, ASocketPairCarriesBytesBothWaysAndEndsEachWayOnItsOwn) {
    int ends[2];
    ASSERT_TRUE(net::socketPair(ends)) << net::lastError();
    sendAll(ends[0], "to the right");
    net::shutdownSending(ends[0]);
    EXPECT_EQ(readToEnd(ends[1]), "to the right");
    // The other way still works after one side has ended.
    sendAll(ends[1], "and back");
    net::close(ends[1]);
    EXPECT_EQ(readToEnd(ends[0]), "and back");
    net::close(ends[0]);
}

TEST(Net, AnEmptyNonBlockingSocketSaysAgainAndABrokenOneFails) {
    int ends[2];
    ASSERT_TRUE(net::socketPair(ends));
    ASSERT_TRUE(net::setNonBlocking(ends[0]));
    char byte;
    EXPECT_EQ(net::receive(ends[0], &byte, 1), net::AGAIN);
    EXPECT_EQ(net::bytesWaiting(ends[0]), 0u);
    net::close(ends[1]);
    // The peer has gone: reads see the end, and writes fail at the latest
    // once the system has learned so, without ending the process.
    EXPECT_EQ(net::receive(ends[0], &byte, 1), 0);
    long n = 0;
    for (int i = 0; i < 1000 && n >= 0; ++i) {
        n = net::send(ends[0], "x", 1);
    }
    EXPECT_EQ(n, net::FAILED);
    net::close(ends[0]);
}

TEST(Net, GatheredPiecesLeaveInOrder) {
    int ends[2];
    ASSERT_TRUE(net::socketPair(ends));
    const std::string a = "first ", b(3000, 'b'), c = " last";
    const net::Piece pieces[] = {{a.data(), a.size()}, {b.data(), b.size()}, {c.data(), c.size()}};
    EXPECT_EQ(net::sendPieces(ends[0], pieces, 3),
              static_cast<long>(a.size() + b.size() + c.size()));
    net::close(ends[0]);
    EXPECT_EQ(readToEnd(ends[1]), a + b + c);
    net::close(ends[1]);
}

TEST(Net, ParsesDottedIpv4AndNothingElse) {
    const struct {
        const char* text;
        bool ok;
        std::uint32_t address;
    } cases[] = {
        {"127.0.0.1", true, net::LOOPBACK},
        {"0.0.0.0", true, 0},
        {"10.1.2.255", true, 0x0a0102ff},
        {"256.0.0.1", false, 0},
        {"1.2.3", false, 0},
        {"localhost", false, 0},
        {"", false, 0},
        {" 1.2.3.4", false, 0},
    };
    for (const auto& c : cases) {
        std::uint32_t address = 12345;
        EXPECT_EQ(net::parseIpv4(c.text, address), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(address, c.address) << c.text;
        }
    }
}

TEST(Net, ListensAcceptsAndConnectsOverLoopback) {
    const int listener = net::listenOn(net::LOOPBACK, 0, 4);
    ASSERT_GE(listener, 0) << net::lastError();
    const int port = net::localPort(listener);
    ASSERT_GT(port, 0);
    std::string peer;
    int accepted = -1;
    std::thread server([&] {
        accepted = net::accept(listener, false, &peer);
        if (accepted >= 0) {
            sendAll(accepted, "welcome");
            net::close(accepted);
        }
    });
    const int client = net::connectBefore(net::LOOPBACK, port, 10000);
    ASSERT_GE(client, 0) << net::lastError();
    // A connection from connectBefore is non-blocking: wait for the bytes.
    std::string got;
    char buffer[64];
    for (;;) {
        net::PollEntry entry;
        entry.fd = client;
        entry.wantRead = true;
        ASSERT_GE(net::poll(&entry, 1, -1), 0);
        const long n = net::receive(client, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        } else {
            ASSERT_EQ(n, net::AGAIN) << net::lastError();
        }
    }
    server.join();
    EXPECT_EQ(got, "welcome");
    EXPECT_EQ(peer.rfind("127.0.0.1:", 0), 0u) << peer;
    net::close(client);
    net::close(listener);
}

TEST(Net, ConnectingWhereNothingListensFails) {
    // A port just freed: nothing listens there.
    const int listener = net::listenOn(net::LOOPBACK, 0, 1);
    ASSERT_GE(listener, 0);
    const int port = net::localPort(listener);
    net::close(listener);
    EXPECT_EQ(net::connectBefore(net::LOOPBACK, port, 10000), -1);
    EXPECT_EQ(net::connectBlocking(net::LOOPBACK, port), -1);
}

TEST(Net, APollWithNothingToWatchOnlyWaits) {
    EXPECT_EQ(net::poll(nullptr, 0, 1), 0);
}

}  // namespace

#include "protocol/heartbeat.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/net.h"
#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"
#include "sdk/world_connection.h"

using wire::Heartbeat;
using Due = wire::Heartbeat::Due;

namespace {

constexpr long long QUIET = wire::QUIET_BEFORE_PING_MS;
constexpr long long ANSWER = wire::PING_ANSWER_MS;

std::string frame(wire::MessageType type) {
    wire::Message message;
    message.type = type;
    std::string bytes;
    wire::encodeFrame(message, bytes);
    return bytes;
}

// What the world's end of a socket pair has received.
std::string drain(int fd) {
    std::string received;
    char buffer[256];
    long n;
    while ((n = net::receive(fd, buffer, sizeof buffer)) > 0) {
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

// A connection that has greeted the world at the other end of a socket pair
// (`bufferBytes` of socket buffers, 0: the system's); `world` is that end,
// non-blocking.
void connectToWorld(WorldConnection& connection, int& world, int bufferBytes = 0) {
    int ends[2];
    ASSERT_TRUE(net::socketPair(ends, bufferBytes));
    const std::string accepted = frame(wire::MessageType::Reply);  // to Hello, code 0
    ASSERT_EQ(net::send(ends[0], accepted.data(), accepted.size()),
              static_cast<long>(accepted.size()));
    ASSERT_EQ(connection.adopt(ends[1], 1000), SDK_OK);
    ASSERT_TRUE(net::setNonBlocking(ends[0]));
    world = ends[0];
}

}  // namespace

TEST(Heartbeat, PingsAfterAQuietSpellEitherWayAndGivesUpWhenNoAnswerComes) {
    struct Step {
        const char* what;
        long long heardAt, sentAt;  // -1: not at this step
        long long checkAt;
        Due due;
        bool ping;  // the Ping goes out at checkAt
    };
    const Step script[] = {
        {"fresh", -1, -1, QUIET - 1, Due::Nothing, false},
        {"quiet both ways", -1, -1, QUIET, Due::Ping, true},
        {"waiting for the answer", -1, -1, QUIET + ANSWER - 1, Due::Nothing, false},
        {"answered", QUIET + 5, -1, QUIET + 6, Due::Nothing, false},
        // Heard all along, but sent nothing: the world's idle limit needs a word.
        {"heard, not sent", 2 * QUIET, -1, 2 * QUIET, Due::Ping, true},
        {"answered again", 2 * QUIET + 1, -1, 2 * QUIET + 1, Due::Nothing, false},
        // Sent all along, but heard nothing: is the world still there?
        {"sent, not heard", -1, 3 * QUIET, 3 * QUIET + 1, Due::Ping, true},
        {"no answer in time", -1, 3 * QUIET + 2, 3 * QUIET + 1 + ANSWER, Due::Lost, false},
    };
    Heartbeat heartbeat;
    heartbeat.start(0);
    for (const Step& step : script) {
        if (step.heardAt >= 0) {
            heartbeat.heard(step.heardAt);
        }
        if (step.sentAt >= 0) {
            heartbeat.sent(step.sentAt);
        }
        EXPECT_EQ(heartbeat.check(step.checkAt), step.due) << step.what;
        if (step.ping) {
            heartbeat.pinged(step.checkAt);
        }
    }
}

TEST(Heartbeat, AConnectionPingsTheWorldAndTakesSilenceAfterItForALoss) {
    int world = -1;
    WorldConnection connection;
    ASSERT_NO_FATAL_FAILURE(connectToWorld(connection, world));
    EXPECT_EQ(drain(world), frame(wire::MessageType::Hello));

    const long long start = nowMs();
    EXPECT_EQ(connection.keepAlive(start + QUIET - 1000), SDK_OK);
    EXPECT_EQ(drain(world), "");
    EXPECT_EQ(connection.keepAlive(start + QUIET + 1000), SDK_OK);
    EXPECT_EQ(drain(world), frame(wire::MessageType::Ping));

    // The answer is heard and goes no further than the connection.
    const std::string pong = frame(wire::MessageType::Pong);
    ASSERT_EQ(net::send(world, pong.data(), pong.size()), static_cast<long>(pong.size()));
    ASSERT_TRUE(connection.wait(1000));
    EXPECT_EQ(connection.receive(), SDK_OK);
    EXPECT_TRUE(connection.events().empty());
    EXPECT_EQ(connection.keepAlive(nowMs() + 1000), SDK_OK);
    EXPECT_TRUE(connection.isOpen());
    EXPECT_EQ(drain(world), "");

    // Quiet again, and this time the world says nothing.
    const long long later = nowMs() + QUIET;
    EXPECT_EQ(connection.keepAlive(later), SDK_OK);
    EXPECT_EQ(drain(world), frame(wire::MessageType::Ping));
    EXPECT_EQ(connection.keepAlive(later + ANSWER - 1), SDK_OK);
    EXPECT_EQ(connection.keepAlive(later + ANSWER), SDK_RC_TIMEOUT);
    EXPECT_FALSE(connection.isOpen());
    net::close(world);
}

TEST(Heartbeat, AWorldThatTakesTheBacklogIsThereThoughItsAnswersWaitUnread) {
    int world = -1;
    WorldConnection connection;
    ASSERT_NO_FATAL_FAILURE(connectToWorld(connection, world, 4096));
    // More than the sockets hold: the bot's output waits, and so would
    // anything the world said, unread behind it.
    wire::Message say;
    say.type = wire::MessageType::Say;
    say.text = std::string(400, 'x');
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(connection.post(say), SDK_OK);
    }
    ASSERT_EQ(connection.flush(), SDK_OK);
    ASSERT_TRUE(connection.wantsWrite());
    const long long pingAt = nowMs() + QUIET;
    EXPECT_EQ(connection.keepAlive(pingAt), SDK_OK);
    // The world reads what it was sent, and the socket has room again.
    for (int round = 0; round < 50 && connection.wantsWrite(); ++round) {
        drain(world);
        connection.waitWritable(100);
        ASSERT_EQ(connection.flush(), SDK_OK);
    }
    EXPECT_EQ(connection.keepAlive(pingAt + ANSWER), SDK_OK);
    EXPECT_TRUE(connection.isOpen());
    net::close(world);
}

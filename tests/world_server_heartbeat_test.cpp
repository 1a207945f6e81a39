// The world's side of the heartbeat: Ping is answered, a session that keeps
// the heartbeat and goes silent past the idle limit is closed and leaves,
// and version 1 sessions, which cannot keep it, are exempt.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/reason_codes.h"
#include "server/world_server.h"
#include "support/pair_client.h"
#include "support/world_requests.h"

using wire::Message;
using wire::MessageType;

namespace {

long long heartbeatNow = 1000;
long long heartbeatClock() {
    return heartbeatNow;
}

bool leftWorld(PairClient& watcher, int session) {
    for (const Message& m : watcher.receivedOfType(MessageType::AvatarLeft)) {
        if (m.session == session) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(WorldServerHeartbeat, PingIsAnsweredWheneverTheClientHasGreeted) {
    heartbeatNow = 1000;
    ServerConfig config;
    config.logToStderr = false;
    WorldServer server(config, heartbeatClock);
    PairClient early(server), old(server), greeted(server);
    // Before Hello it breaks the protocol like anything else.
    early.send(ofType(MessageType::Ping));
    serveTurns(server);
    ASSERT_EQ(early.received().size(), 1u);
    EXPECT_EQ(early.received()[0].type, MessageType::Error);
    EXPECT_EQ(early.received()[0].request, MessageType::Ping);
    EXPECT_EQ(early.received()[0].code, SDK_RC_PROTOCOL_ERROR);
    // Version 1 is still spoken, and the answer names the world's version.
    Message hello = ofType(MessageType::Hello);
    hello.version = 1;
    int version = 0;
    ASSERT_EQ(old.request(hello, &version), SDK_OK);
    EXPECT_EQ(version, wire::PROTOCOL_VERSION);
    ASSERT_EQ(greeted.request(ofType(MessageType::Hello)), SDK_OK);
    for (PairClient* client : {&old, &greeted}) {
        client->send(ofType(MessageType::Ping));
        serveTurns(server);
        EXPECT_EQ(client->received().back(), ofType(MessageType::Pong));
        EXPECT_FALSE(client->closed());
    }
}

TEST(WorldServerHeartbeat, ASilentSessionLeavesAtTheIdleLimitUnlessItSpeaksVersion1) {
    for (const int idleLimit : {30000, 0}) {
        SCOPED_TRACE(idleLimit);
        heartbeatNow = 1500;
        ServerConfig config;
        config.logToStderr = false;
        config.idleTimeoutMs = idleLimit;
        config.loginTimeoutMs = 3600000;
        WorldServer server(config, heartbeatClock);
        PairClient silent(server), old(server), pinging(server), watcher(server);
        ASSERT_EQ(silent.join("Silent"), SDK_OK);
        ASSERT_EQ(old.join("Old", 0, "", false, "welcome", 1), SDK_OK);
        ASSERT_EQ(pinging.join("Pinging"), SDK_OK);
        ASSERT_EQ(watcher.join("Watcher"), SDK_OK);
        // Every 10 s the others say something: a Ping, or a move.
        for (int step = 1; step <= 3; ++step) {
            heartbeatNow += 10000;
            pinging.send(ofType(MessageType::Ping));
            watcher.send(ofType(MessageType::Ping));
            serveTurns(server);
        }
        // 30 s to the millisecond: looked at on the next whole second.
        EXPECT_FALSE(silent.closed());
        heartbeatNow += 1000;
        pinging.send(ofType(MessageType::Ping));
        watcher.send(ofType(MessageType::Ping));
        serveTurns(server);
        if (idleLimit != 0) {
            EXPECT_TRUE(silent.closed());
            const Message last = silent.received().back();
            EXPECT_EQ(std::make_pair(last.request, last.code),
                      std::make_pair(MessageType::Ping, static_cast<int>(SDK_RC_TIMEOUT)));
            EXPECT_TRUE(leftWorld(watcher, silent.session()));
        } else {
            EXPECT_FALSE(silent.closed());
        }
        // A minute of silence costs a version 1 session nothing.
        heartbeatNow += 60000;
        serveTurns(server);
        EXPECT_FALSE(old.closed());
        EXPECT_FALSE(leftWorld(watcher, old.session()));
        EXPECT_EQ(old.request(ofType(MessageType::State)), SDK_OK);
        EXPECT_FALSE(leftWorld(watcher, pinging.session()) && idleLimit == 0);
    }
}

// What one session and one client address may do in the world, turn by
// turn on a clock that moves only when told: lines, moves, entries, logins,
// connections, and the places kept for bots and citizens.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sdk/reason_codes.h"
#include "server/world_server.h"
#include "support/pair_client.h"
#include "support/world_requests.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr std::uint32_t ADDRESS_A = 0x0a000001;  // 10.0.0.1
constexpr std::uint32_t ADDRESS_B = 0x0a000002;
constexpr std::uint32_t EXEMPT = 0x0a000003;

long long allowanceNow = 1000;
long long allowanceClock() {
    return allowanceNow;
}

ServerConfig allowanceConfig() {
    ServerConfig config;
    config.worlds = {"welcome", "other"};
    config.citizens = {{7, "secret"}};
    config.bots = {7};
    config.chatRate = 1;
    config.chatBurst = 2;
    config.moves = {1, 2};
    config.entries = {1, 1};
    config.addressShare = 2;
    config.connects = {1, 100};
    config.exempt = {EXEMPT};
    config.logToStderr = false;
    return config;
}

int refusedLines(PairClient& client) {
    int refused = 0;
    for (const Message& m : client.receivedOfType(MessageType::Error)) {
        refused += m.code == SDK_RC_RATE_LIMITED ? 1 : 0;
    }
    return refused;
}

}  // namespace

TEST(WorldAllowances, SessionsOfOneAddressShareWhatTwoSessionsMaySayMoveAndEnter) {
    allowanceNow = 1000;
    WorldServer server(allowanceConfig(), allowanceClock);
    // Three sessions of A (each within its own allowance), one of B, one of
    // an exempt address; all in "welcome" (entering used one entry each).
    std::vector<std::unique_ptr<PairClient>> a;
    for (int i = 0; i < 3; ++i) {
        a.push_back(std::make_unique<PairClient>(server, 0, ADDRESS_A));
        std::string name = "A";  // appended, not "A" + ...: GCC 12 warns falsely on that at -O2
        name += std::to_string(i);
        ASSERT_EQ(a.back()->join(name), i < 2 ? SDK_OK : SDK_RC_RATE_LIMITED);
    }
    PairClient b(server, 0, ADDRESS_B), exempt(server, 0, EXEMPT);
    ASSERT_EQ(b.join("B"), SDK_OK);
    ASSERT_EQ(exempt.join("Exempt"), SDK_OK);
    // A's address had 2 entries a burst, so its third session stood outside;
    // a second later there is one more.
    allowanceNow += 1000;
    ASSERT_EQ(a[2]->request(enter("welcome")), SDK_OK);

    // Lines: each session of A says its own burst of 2; the address's burst
    // is 4 in all, so two of the six are refused. B and the exempt address
    // keep their own.
    for (auto& client : a) {
        client->send(say("a"));
        client->send(say("a"));
    }
    for (PairClient* client : {&b, &exempt}) {
        client->send(say("b"));
        client->send(say("b"));
    }
    serveTurns(server);
    EXPECT_EQ(refusedLines(*a[0]) + refusedLines(*a[1]) + refusedLines(*a[2]), 2);
    EXPECT_EQ(refusedLines(b) + refusedLines(exempt), 0);

    // Moves: the same shape, answered in the reply.
    int movesRefused = 0;
    for (auto& client : a) {
        for (int i = 0; i < 2; ++i) {
            movesRefused += client->request(state(i)) == SDK_RC_RATE_LIMITED ? 1 : 0;
        }
    }
    EXPECT_EQ(movesRefused, 2);
    EXPECT_EQ(b.request(state(5)), SDK_OK);
    // One session is held to its own allowance wherever it comes from.
    EXPECT_EQ(exempt.request(state(1)), SDK_OK);
    EXPECT_EQ(exempt.request(state(2)), SDK_OK);
    EXPECT_EQ(exempt.request(state(3)), SDK_RC_RATE_LIMITED);

    // Entries refill with time like the rest: A has one left.
    EXPECT_EQ(a[0]->request(enter("other")), SDK_OK);
    EXPECT_EQ(a[1]->request(enter("other")), SDK_RC_RATE_LIMITED);
    allowanceNow += 1000;
    EXPECT_EQ(a[1]->request(enter("other")), SDK_OK);
}

TEST(WorldAllowances, AnAddressHasSoManyConnectionsAtOnceAndSoManyASecond) {
    allowanceNow = 1000;
    ServerConfig config = allowanceConfig();
    config.addressConnections = 2;
    config.connects = {1, 2};
    WorldServer server(config, allowanceClock);
    auto first = std::make_unique<PairClient>(server, 0, ADDRESS_A);
    PairClient second(server, 0, ADDRESS_A), third(server, 0, ADDRESS_A);
    serveTurns(server);
    EXPECT_FALSE(first->closed());
    EXPECT_FALSE(second.closed());
    // The third is told why and closed at once, without a place.
    EXPECT_TRUE(third.closed());
    ASSERT_EQ(third.received().size(), 1u);
    EXPECT_EQ(third.received()[0].type, MessageType::Error);
    EXPECT_EQ(third.received()[0].code, SDK_RC_RATE_LIMITED);
    EXPECT_EQ(server.connectionCount(), 2u);
    // Another address is not held to A's count.
    PairClient other(server, 0, ADDRESS_B);
    EXPECT_EQ(other.join("B"), SDK_OK);
    // A place of A's that is freed may be taken again once the address has
    // a connection a second left (2 at once, then 1 a second).
    first.reset();
    serveTurns(server);
    PairClient again(server, 0, ADDRESS_A);
    EXPECT_TRUE(again.closed());
    ASSERT_EQ(again.received().size(), 1u);
    EXPECT_EQ(again.received()[0].code, SDK_RC_RATE_LIMITED);
    allowanceNow += 1000;
    PairClient later(server, 0, ADDRESS_A);
    EXPECT_EQ(later.join("Later"), SDK_OK);
}

TEST(WorldAllowances, RefusedLoginsCloseTheConnectionAndMakeTheAddressWaitLongerEachTime) {
    allowanceNow = 1000;
    WorldServer server(allowanceConfig(), allowanceClock);
    Message hello;
    hello.type = MessageType::Hello;
    // Three refusals on one connection, then it is closed.
    PairClient guesser(server, 0, ADDRESS_A);
    ASSERT_EQ(guesser.request(hello), SDK_OK);
    EXPECT_EQ(guesser.request(login(7, "guess1", "Guesser")), SDK_RC_BAD_CREDENTIALS);
    EXPECT_EQ(guesser.request(login(7, "guess2", "Guesser")), SDK_RC_BAD_CREDENTIALS);
    EXPECT_FALSE(guesser.closed());
    EXPECT_EQ(guesser.request(login(7, "guess3", "Guesser")), SDK_RC_BAD_CREDENTIALS);
    EXPECT_TRUE(guesser.closed());
    // Three failures are free; from the fourth the address waits 1 s, then
    // 2 s, and a login in the wait is not even looked at, a right one
    // neither. Another address is not held up.
    struct Step {
        long long advanceMs;
        const char* password;
        int code;
    };
    const Step steps[] = {
        {0, "guess4", SDK_RC_BAD_CREDENTIALS},  // now a wait of 1 s
        {999, "secret", SDK_RC_RATE_LIMITED},  {1, "guess5", SDK_RC_BAD_CREDENTIALS},  // now 2 s
        {1999, "secret", SDK_RC_RATE_LIMITED}, {1, "secret", SDK_OK},
    };
    for (const Step& step : steps) {
        allowanceNow += step.advanceMs;
        PairClient client(server, 0, ADDRESS_A);
        ASSERT_EQ(client.request(hello), SDK_OK);
        EXPECT_EQ(client.request(login(7, step.password, "Bot")), step.code) << step.password;
        PairClient bystander(server, 0, ADDRESS_B);
        ASSERT_EQ(bystander.request(hello), SDK_OK);
        EXPECT_EQ(bystander.request(login(0, "", "Tourist")), SDK_OK);
    }
}

TEST(WorldAllowances, TouristsCannotTakeThePlacesKeptForBotsAndCitizens) {
    allowanceNow = 1000;
    ServerConfig config = allowanceConfig();
    config.maxClients = 4;
    config.reservedPlaces = 1;
    WorldServer server(config, allowanceClock);
    PairClient one(server, 0, ADDRESS_A), two(server, 0, ADDRESS_A), three(server, 0, ADDRESS_B);
    ASSERT_EQ(one.join("One"), SDK_OK);
    ASSERT_EQ(two.join("Two"), SDK_OK);
    ASSERT_EQ(three.join("Three"), SDK_OK);
    // The last place is not a tourist's: refused as full, and closed.
    PairClient fourth(server, 0, ADDRESS_B);
    EXPECT_EQ(fourth.join("Fourth"), SDK_RC_SERVER_FULL);
    EXPECT_TRUE(fourth.closed());
    PairClient bot(server, 0, ADDRESS_B);
    EXPECT_EQ(bot.join("Relay", 7, "secret", true), SDK_OK);
}

TEST(WorldAllowances, AConnectionRefusedTwentyTimesInATurnIsNotReadForAWhile) {
    allowanceNow = 1000;
    ServerConfig config = allowanceConfig();
    config.chatBurst = 1;
    WorldServer server(config, allowanceClock);
    PairClient flooder(server, 0, ADDRESS_A), listener(server, 0, ADDRESS_B);
    ASSERT_EQ(flooder.join("Flooder"), SDK_OK);
    ASSERT_EQ(listener.join("Listener"), SDK_OK);
    // In one write: sent one by one, the lines may reach the world over
    // several turns (as they do on Windows), each with its own count.
    for (int i = 0; i < 100; ++i) {
        flooder.queue(say("flood " + std::to_string(i)));
    }
    flooder.flush();
    serveTurns(server);
    // One line within the allowance, then twenty refusals, and the rest is
    // left in the socket: refusing a flood costs the world little.
    EXPECT_EQ(listener.receivedOfType(MessageType::Chat).size(), 1u);
    EXPECT_EQ(refusedLines(flooder), 20);
    // A tenth of a second later it is read again and judged like anyone:
    // twenty more refused, and once its allowance refills a line goes out.
    allowanceNow += 100;
    serveTurns(server);
    EXPECT_EQ(refusedLines(flooder), 40);
    allowanceNow += 1000;
    serveTurns(server);
    EXPECT_EQ(listener.receivedOfType(MessageType::Chat).size(), 2u);
}

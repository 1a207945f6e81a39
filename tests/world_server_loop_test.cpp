// The world server's loop turn by turn: reading a backlog fairly, writing
// what waits, and the order of events the protocol document promises.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/net.h"
#include "sdk/reason_codes.h"
#include "server/world_server.h"
#include "support/pair_client.h"
#include "support/world_requests.h"

using wire::Message;
using wire::MessageType;

namespace {

long long loopNow = 1000;
long long loopClock() {
    return loopNow;
}

ServerConfig loopConfig() {
    ServerConfig config;
    config.worlds = {"welcome", "other"};
    config.citizens = {{7, "secret"}};
    config.bots = {7};
    config.chatRate = 0;
    config.logToStderr = false;
    return config;
}

}  // namespace

TEST(WorldServerLoop, ABacklogIsReadAcrossTurnsWhileOthersAreServed) {
    ServerConfig config = loopConfig();
    config.readBudgetBytes = 8 * 1024;
    WorldServer server(config, loopClock);
    PairClient bot(server), speaker(server), listener(server);
    ASSERT_EQ(bot.join("Relay", 7, "secret", true), SDK_OK);
    ASSERT_EQ(speaker.join("Speaker"), SDK_OK);
    ASSERT_EQ(listener.join("Listener"), SDK_OK);
    // About 50 KiB of console frames (what the socket pair holds): several
    // turns' budgets.
    std::vector<std::string> relayed;
    Message console;
    console.type = MessageType::Console;
    console.targets = {listener.session()};
    for (int i = 0; i < 80; ++i) {
        relayed.push_back(std::to_string(i) + std::string(590, 'r'));
        console.text = relayed.back();
        bot.send(console);
    }
    speaker.send(say("meanwhile"));
    server.serveOnce(0);
    // The speaker was served in the first turn, the bot only in part.
    EXPECT_EQ(textsOf(listener.receivedOfType(MessageType::Chat)),
              std::vector<std::string>{"meanwhile"});
    EXPECT_LT(listener.receivedOfType(MessageType::ConsoleMessage).size(), relayed.size());
    EXPECT_GT(listener.receivedOfType(MessageType::ConsoleMessage).size(), 0u);
    for (int turn = 0; turn < 40; ++turn) {
        server.serveOnce(0);
        listener.receive();
    }
    // Everything, in the order sent, nothing refused.
    EXPECT_TRUE(textsOf(listener.receivedOfType(MessageType::ConsoleMessage)) == relayed);
    EXPECT_EQ(listener.receivedOfType(MessageType::ConsoleMessage).size(), relayed.size());
    EXPECT_TRUE(bot.receivedOfType(MessageType::Error).empty());
}

TEST(WorldServerLoop, RoomToWriteIsWatchedOnlyWhileOutputWaits) {
    WorldServer server(loopConfig(), loopClock);
    PairClient speaker(server), slow(server, 4096);
    ASSERT_EQ(speaker.join("Speaker"), SDK_OK);
    ASSERT_EQ(slow.join("Slow"), SDK_OK);
    EXPECT_EQ(server.waitingToWrite(), 0u);
    std::vector<std::string> said;
    for (int i = 0; i < 100; ++i) {
        said.push_back(std::string(400, 's') + std::to_string(i));
        speaker.send(say(said.back()));
    }
    serveTurns(server);
    EXPECT_EQ(server.waitingToWrite(), 1u);  // the slow reader's socket is full
    EXPECT_GT(server.heldOutputBytes(), 0u);
    for (int turn = 0; turn < 200 && server.heldOutputBytes() > 0; ++turn) {
        slow.receive();
        server.serveOnce(0);
    }
    EXPECT_EQ(server.heldOutputBytes(), 0u);
    EXPECT_EQ(server.waitingToWrite(), 0u);
    EXPECT_EQ(textsOf(slow.receivedOfType(MessageType::Chat)), said);
}

TEST(WorldServerLoop, AnsweredStateMeansTheOthersMoveIsQueuedEvenWhenUnchanged) {
    WorldServer server(loopConfig(), loopClock);
    PairClient mover(server), observer(server);
    ASSERT_EQ(mover.join("Mover"), SDK_OK);
    ASSERT_EQ(observer.join("Observer"), SDK_OK);
    for (int round = 0; round < 2; ++round) {  // the second State changes nothing
        const std::size_t before = observer.receivedOfType(MessageType::AvatarMoved).size();
        mover.send(state(5, 6, 7));
        server.serveOnce(0);  // one turn: the reply and the move leave together
        std::vector<Message> replies = mover.receivedOfType(MessageType::Reply);
        ASSERT_FALSE(replies.empty());
        EXPECT_EQ(replies.back().request, MessageType::State);
        EXPECT_EQ(replies.back().value, 0);
        std::vector<Message> moves = observer.receivedOfType(MessageType::AvatarMoved);
        ASSERT_EQ(moves.size(), before + 1) << round;
        EXPECT_EQ(std::vector<int>(
                      {moves.back().session, moves.back().x, moves.back().y, moves.back().z}),
                  std::vector<int>({mover.session(), 5, 6, 7}));
    }
}

TEST(WorldServerLoop, ANewcomerGetsCurrentPositionsInLoginOrder) {
    WorldServer server(loopConfig(), loopClock);
    PairClient first(server), second(server), third(server), newcomer(server);
    ASSERT_EQ(first.join("First", 7, "secret"), SDK_OK);
    ASSERT_EQ(second.join("Other"), SDK_OK);
    ASSERT_EQ(third.join("Third", 7, "secret"), SDK_OK);
    EXPECT_EQ(first.request(state(1, 2, 3)), SDK_OK);
    EXPECT_EQ(third.request(state(-4, 5, -6)), SDK_OK);
    int entered = -1;
    ASSERT_EQ(newcomer.join("New", 0, "", false, ""), SDK_OK);
    ASSERT_EQ(newcomer.request(enter("welcome"), &entered), SDK_OK);
    EXPECT_EQ(entered, 0);
    struct Seen {
        int session, citizen, x, y, z;
        std::string name;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (const Message& m : newcomer.receivedOfType(MessageType::AvatarArrived)) {
        seen.push_back({m.session, m.citizen, m.x, m.y, m.z, m.name});
    }
    EXPECT_EQ(seen, (std::vector<Seen>{{first.session(), 7, 1, 2, 3, "First"},
                                       {second.session(), 0, 0, 0, 0, "Other"},
                                       {third.session(), 7, -4, 5, -6, "Third"}}));
    for (PairClient* other : {&first, &second, &third}) {
        std::vector<Message> arrived = other->receivedOfType(MessageType::AvatarArrived);
        ASSERT_FALSE(arrived.empty());
        EXPECT_EQ(std::vector<int>({arrived.back().session, arrived.back().x, arrived.back().y,
                                    arrived.back().z}),
                  std::vector<int>({newcomer.session(), 0, 0, 0}));
    }
}

TEST(WorldServerLoop, NoTwoAvatarsOfAWorldShareANameButACitizenComingBackTakesItsOwn) {
    WorldServer server(loopConfig(), loopClock);
    PairClient ann(server), watcher(server);
    ASSERT_EQ(ann.join("Ann"), SDK_OK);
    ASSERT_EQ(watcher.join("Watcher"), SDK_OK);
    struct Case {
        std::string name;
        int citizen;
        const char* world;
        int code;
    };
    const Case cases[] = {
        {"ann", 0, "welcome", SDK_RC_NAME_IN_USE},  // letter case does not tell names apart
        {"ANN", 7, "welcome", SDK_RC_NAME_IN_USE},  // nor does being a citizen
        {"Ann", 0, "other", SDK_OK},                // a name is one world's
        {"\xC0\xED\xED", 0, "welcome", SDK_OK},     // "Анн"
        {"\xE0\xcd\xed", 0, "welcome", SDK_RC_NAME_IN_USE},  // the same in Cyrillic case
    };
    std::vector<std::unique_ptr<PairClient>> others;
    for (const Case& c : cases) {
        others.push_back(std::make_unique<PairClient>(server));
        EXPECT_EQ(
            others.back()->join(c.name, c.citizen, c.citizen != 0 ? "secret" : "", false, c.world),
            c.code)
            << c.name << " in " << c.world;
    }
    // A citizen whose old session lingers (a connection lost without a word)
    // takes its name back: the old session leaves before the new arrives.
    PairClient twin(server), again(server);
    ASSERT_EQ(twin.join("Twin", 7, "secret"), SDK_OK);
    ASSERT_EQ(again.join("Twin", 7, "secret"), SDK_OK);
    serveTurns(server);
    EXPECT_TRUE(twin.closed());
    std::vector<Message> seen = watcher.received();
    std::vector<std::pair<MessageType, int>> presence;
    for (const Message& m : seen) {
        if ((m.type == MessageType::AvatarArrived || m.type == MessageType::AvatarLeft) &&
            (m.session == twin.session() || m.session == again.session())) {
            presence.emplace_back(m.type, m.session);
        }
    }
    EXPECT_EQ(presence, (std::vector<std::pair<MessageType, int>>{
                            {MessageType::AvatarArrived, twin.session()},
                            {MessageType::AvatarLeft, twin.session()},
                            {MessageType::AvatarArrived, again.session()}}));
}

TEST(WorldServerLoop, HearingAllIsForTheBotsOwnWorld) {
    WorldServer server(loopConfig(), loopClock);
    PairClient speaker(server), here(server), elsewhere(server);
    ASSERT_EQ(speaker.join("Speaker"), SDK_OK);
    for (auto [bot, world] : {std::pair{&here, "welcome"}, std::pair{&elsewhere, "other"}}) {
        Message hello;
        hello.type = MessageType::Hello;
        ASSERT_EQ(bot->request(hello), SDK_OK);
        Message login;
        login.type = MessageType::Login;
        login.kind = wire::LoginKind::Bot;
        login.citizen = 7;
        login.password = "secret";
        login.name = "Relay";
        login.hearAll = 1;
        ASSERT_EQ(bot->request(login), SDK_OK);
        Message enter;
        enter.type = MessageType::Enter;
        enter.name = world;
        ASSERT_EQ(bot->request(enter), SDK_OK);
        ASSERT_EQ(bot->request(state(900000, 0, 900000)), SDK_OK);
    }
    speaker.send(say("far and wide"));
    serveTurns(server);
    EXPECT_EQ(textsOf(here.receivedOfType(MessageType::Chat)),
              std::vector<std::string>{"far and wide"});
    EXPECT_TRUE(elsewhere.receivedOfType(MessageType::Chat).empty());
}

TEST(WorldServerLoop, AClientThatShutsDownFirstHasItsLastLinesHandledThenIsClosed) {
    WorldServer server(loopConfig(), loopClock);
    PairClient listener(server);
    ASSERT_EQ(listener.join("Listener"), SDK_OK);
    int ends[2];
    ASSERT_TRUE(net::socketPair(ends));
    server.adoptClient(ends[1]);
    Message hello, login, enter;
    hello.type = MessageType::Hello;
    login.type = MessageType::Login;
    login.name = "Leaver";
    enter.type = MessageType::Enter;
    enter.name = "welcome";
    std::string bytes;
    for (const Message& m : {hello, login, enter, say("last words")}) {
        wire::encodeFrame(m, bytes);
    }
    ASSERT_EQ(net::send(ends[0], bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
    net::shutdownSending(ends[0]);
    serveTurns(server);
    // The end of its input closes the connection; what came before it counts.
    wire::FrameReader reader;
    char buffer[4096];
    long n;
    int replies = 0;
    net::setNonBlocking(ends[0]);
    while ((n = net::receive(ends[0], buffer, sizeof buffer)) > 0) {
        reader.append(buffer, static_cast<std::size_t>(n));
        std::string body;
        while (reader.next(body) == wire::FrameReader::Status::Frame) {
            replies += wire::decodeBody(body).value_or(Message{}).type == MessageType::Reply;
        }
    }
    EXPECT_EQ(n, 0);  // closed by the server
    EXPECT_EQ(replies, 3);
    net::close(ends[0]);
    EXPECT_EQ(textsOf(listener.receivedOfType(MessageType::Chat)),
              std::vector<std::string>{"last words"});
    EXPECT_EQ(listener.receivedOfType(MessageType::AvatarLeft).size(), 1u);
    EXPECT_EQ(server.connectionCount(), 1u);
}

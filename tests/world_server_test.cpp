#include "server/world_server.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>

#include "platform/net.h"
#include "sdk/reason_codes.h"
#include "support/pair_client.h"
#include "support/world_requests.h"
#include "support/test_avatar.h"

using wire::Message;
using wire::MessageType;

namespace {

// A new connection (reads time out after 10 s, so a test cannot hang on it).
int connectRaw(int port) {
    const int fd = net::connectBlocking(net::LOOPBACK, port);
    if (fd >= 0) {
        net::setReceiveTimeout(fd, 10000);
    }
    return fd;
}

// What the server sends until it closes the connection; closes it then.
std::vector<Message> readUntilClosed(int fd) {
    std::vector<Message> answers;
    wire::FrameReader reader;
    char buffer[256];
    long n;
    while ((n = net::receive(fd, buffer, sizeof buffer)) > 0) {
        reader.append(buffer, static_cast<std::size_t>(n));
        std::string body;
        while (reader.next(body) == wire::FrameReader::Status::Frame) {
            answers.push_back(wire::decodeBody(body).value_or(Message{}));
        }
    }
    net::close(fd);
    return answers;
}

// Sends raw bytes on a new connection and returns what the server answers
// until it closes the connection.
std::vector<Message> exchangeRaw(int port, const std::string& bytes) {
    int fd = connectRaw(port);
    if (fd < 0 || net::send(fd, bytes.data(), bytes.size()) != static_cast<long>(bytes.size())) {
        net::close(fd);
        return {};
    }
    return readUntilClosed(fd);
}

// The request answered and the reason code of each reply or refusal.
std::vector<std::pair<MessageType, int>> answersOf(const std::vector<Message>& messages) {
    std::vector<std::pair<MessageType, int>> answers;
    for (const Message& m : messages) {
        answers.emplace_back(m.request, m.code);
    }
    return answers;
}

std::vector<std::pair<MessageType, int>> errorsOf(const std::vector<Message>& messages) {
    std::vector<std::pair<MessageType, int>> errors;
    for (const Message& m : messages) {
        if (m.type == MessageType::Error) {
            errors.emplace_back(m.request, m.code);
        }
    }
    return errors;
}

Message chatMessage(MessageType type, const std::string& text, int session = 0) {
    Message m;
    m.type = type;
    m.text = text;
    m.session = session;
    return m;
}

// The clock of the servers driven turn by turn: it moves only when told.
long long fakeNow = 0;
long long fakeClock() {
    return fakeNow;
}

// A world server with its own configuration, served on a thread for the
// life of the object.
class ServedWorld {
  public:
    explicit ServedWorld(ServerConfig config) : server_(withFreePort(std::move(config))) {
        std::string error;
        started_ = server_.start(error);
        EXPECT_TRUE(started_) << error;
        if (started_) {
            thread_ = std::thread([this] { server_.run(); });
        }
    }
    ~ServedWorld() {
        server_.stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    int port() const { return server_.port(); }

  private:
    static ServerConfig withFreePort(ServerConfig config) {
        config.port = 0;
        return config;
    }
    WorldServer server_;
    bool started_ = false;
    std::thread thread_;
};

}  // namespace

class WorldServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ServerConfig config;
        config.port = 0;
        config.worlds = {"welcome", "other"};
        config.citizens = {{6, "plain"}, {7, "secret"}, {8, "p w\xE9"}};
        config.bots = {7, 8};
        config.exempt = {net::LOOPBACK};  // limits per address have tests of their own
        config.maxOutputBytes = 65536;
        config.chatRate = 0;  // the chat limit has tests of its own
        start(config);
    }
    void TearDown() override {
        server_->stop();
        thread_.join();
    }
    void start(const ServerConfig& config) {
        server_ = std::make_unique<WorldServer>(config);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
        port_ = server_->port();
        thread_ = std::thread([this] { server_->run(); });
    }

    int port_ = 0;
    std::unique_ptr<WorldServer> server_;
    std::thread thread_;
};

TEST_F(WorldServerTest, LoginNeedsTheRightPasswordAndAPlainName) {
    struct Case {
        const char* name;
        int citizen;
        const char* password;
        bool bot;
        int code;
        bool hearAll = false;
    } cases[] = {
        {"Ann", 0, "", false, SDK_OK},
        {"Ann", 0, "x", false, SDK_RC_BAD_CREDENTIALS},
        {"Cit", 7, "secret", false, SDK_OK},
        {"Cit", 7, "Secret", false, SDK_RC_BAD_CREDENTIALS},
        {"Cit", 8, "p w\xE9", false, SDK_OK},
        {"Bot", 7, "secret", true, SDK_OK},
        {"Bot", 0, "", true, SDK_RC_BAD_CREDENTIALS},
        {"Bot", 9, "secret", true, SDK_RC_BAD_CREDENTIALS},
        // Only the citizens the operator named may log in as bots.
        {"Bot", 6, "plain", true, SDK_RC_NOT_ALLOWED},
        {"Cit", 6, "plain", false, SDK_OK},
        {"Tab\tName", 0, "", false, SDK_RC_INVALID_TEXT},
        {"Line\nName", 7, "secret", true, SDK_RC_INVALID_TEXT},
        {"Del\x7FName", 0, "", false, SDK_RC_INVALID_TEXT},
        {"[Fake]", 0, "", false, SDK_RC_INVALID_TEXT},
        {"", 0, "", false, SDK_RC_INVALID_TEXT},
        // Names that would begin a log line like a whisper or a console message.
        {"whisper from Alice", 0, "", false, SDK_RC_INVALID_TEXT},
        {"WhisPer FROM", 7, "secret", false, SDK_RC_INVALID_TEXT},
        {"global chat", 0, "", false, SDK_RC_INVALID_TEXT},
        {"GLOBAL CHATTER", 7, "secret", true, SDK_RC_INVALID_TEXT},
        {"whisperer", 0, "", false, SDK_OK},
        {"Bob whisper from", 0, "", false, SDK_OK},
        {"global", 0, "", false, SDK_OK},
        // Hearing the whole world is for bots only.
        {"Tourist", 0, "", false, SDK_RC_NOT_ALLOWED, true},
        {"Cit", 7, "secret", false, SDK_RC_NOT_ALLOWED, true},
        {"Bot", 7, "secret", true, SDK_OK, true},
    };
    for (const Case& c : cases) {
        TestAvatar avatar;
        EXPECT_EQ(avatar.join(port_, c.name, c.citizen, c.password, "", c.bot, c.hearAll), c.code)
            << c.name << " " << c.citizen << " " << c.password << " " << c.hearAll;
    }
}

TEST_F(WorldServerTest, EntryAndStateNeedLoginAndAKnownWorld) {
    TestAvatar avatar;
    ASSERT_EQ(avatar.connection().open("127.0.0.1", port_, 5000), SDK_OK);
    EXPECT_EQ(avatar.enter("welcome"), SDK_RC_NOT_LOGGED_IN);
    ASSERT_EQ(avatar.join(port_, "Ann", 0, "", ""), SDK_OK);
    EXPECT_EQ(avatar.moveTo(1, 2, 3), SDK_RC_NOT_IN_WORLD);
    EXPECT_EQ(avatar.enter("nowhere"), SDK_RC_NO_SUCH_WORLD);
    EXPECT_EQ(avatar.enter("other"), SDK_OK);
    EXPECT_EQ(avatar.moveTo(1, 2, 3), SDK_OK);
}

TEST_F(WorldServerTest, PresenceReachesOthersButNeverTheSessionItself) {
    TestAvatar first;
    ASSERT_EQ(first.join(port_, "First"), SDK_OK);
    ASSERT_EQ(first.moveTo(5, 6, 7), SDK_OK);
    TestAvatar bot;
    ASSERT_EQ(bot.join(port_, "Relay", 7, "secret", "welcome", true), SDK_OK);
    Message seen =
        bot.waitFor([](const Message& m) { return m.type == MessageType::AvatarArrived; });
    EXPECT_EQ(seen.session, first.session());
    EXPECT_EQ(seen.name, "First");
    EXPECT_EQ(std::vector<int>({seen.x, seen.y, seen.z}), std::vector<int>({5, 6, 7}));
    Message arrived =
        first.waitFor([](const Message& m) { return m.type == MessageType::AvatarArrived; });
    EXPECT_EQ(arrived.name, "[Relay]");
    EXPECT_EQ(arrived.citizen, 7);
    ASSERT_EQ(bot.moveTo(100, 0, -100), SDK_OK);
    Message moved =
        first.waitFor([](const Message& m) { return m.type == MessageType::AvatarMoved; });
    EXPECT_EQ(std::vector<int>({moved.session, moved.x, moved.z}),
              std::vector<int>({bot.session(), 100, -100}));
    bot.connection().close();
    Message left =
        first.waitFor([](const Message& m) { return m.type == MessageType::AvatarLeft; });
    EXPECT_EQ(left.session, bot.session());
    EXPECT_EQ(left.name, "[Relay]");
    for (const Message& m : first.received()) {
        EXPECT_NE(m.session, first.session()) << static_cast<int>(m.type);
    }
}

TEST_F(WorldServerTest, SessionNumbersAreNotReused) {
    std::vector<int> sessions;
    for (int i = 0; i < 3; ++i) {
        TestAvatar avatar;
        ASSERT_EQ(avatar.join(port_, "Again"), SDK_OK);
        sessions.push_back(avatar.session());
    }
    EXPECT_LT(sessions[0], sessions[1]);
    EXPECT_LT(sessions[1], sessions[2]);
}

TEST_F(WorldServerTest, ChatReachesWhomItShould) {
    TestAvatar speaker, edge, beyondX, beyondZ, hearAll, otherWorld, target;
    ASSERT_EQ(speaker.join(port_, "Speaker", 7, "secret"), SDK_OK);
    ASSERT_EQ(edge.join(port_, "Edge"), SDK_OK);
    ASSERT_EQ(beyondX.join(port_, "BeyondX"), SDK_OK);
    ASSERT_EQ(beyondZ.join(port_, "BeyondZ"), SDK_OK);
    ASSERT_EQ(hearAll.join(port_, "Bot", 8, "p w\xE9", "welcome", true, true), SDK_OK);
    ASSERT_EQ(otherWorld.join(port_, "Elsewhere", 0, "", "other"), SDK_OK);
    ASSERT_EQ(target.join(port_, "Target"), SDK_OK);
    ASSERT_EQ(speaker.moveTo(1000, 0, 0), SDK_OK);
    ASSERT_EQ(edge.moveTo(21000, -19000, 20000), SDK_OK);
    ASSERT_EQ(beyondX.moveTo(-19001, 0, 0), SDK_OK);
    ASSERT_EQ(beyondZ.moveTo(1000, 0, 20001), SDK_OK);
    ASSERT_EQ(hearAll.moveTo(900000, 0, 0), SDK_OK);
    ASSERT_EQ(target.moveTo(500000, 0, 0), SDK_OK);

    const std::string said = "\xCF\xF0\xE8\xE2\xE5\xF2 all";
    speaker.say(said);
    speaker.whisper(target.session(), "psst");
    speaker.broadcast("to everyone");
    speaker.sync();
    struct Expected {
        TestAvatar* avatar;
        std::vector<std::pair<int, std::string>> chats;  // type, text
    } expected[] = {
        {&speaker, {}},
        {&edge, {{0, said}, {1, "to everyone"}}},
        {&beyondX, {{1, "to everyone"}}},
        {&beyondZ, {{1, "to everyone"}}},
        {&hearAll, {{0, said}, {1, "to everyone"}}},
        {&otherWorld, {}},
        {&target, {{2, "psst"}, {1, "to everyone"}}},
    };
    for (const Expected& e : expected) {
        e.avatar->sync();
        std::vector<std::pair<int, std::string>> chats;
        for (const Message& m : e.avatar->receivedOfType(MessageType::Chat)) {
            EXPECT_EQ(m.session, speaker.session());
            EXPECT_EQ(m.name, "Speaker");
            chats.emplace_back(m.chatType, m.text);
        }
        EXPECT_EQ(chats, e.chats) << e.avatar->session();
    }
}

TEST_F(WorldServerTest, RefusedChatIsAnsweredWithItsReason) {
    TestAvatar tourist, other;
    ASSERT_EQ(tourist.join(port_, "Tourist"), SDK_OK);
    ASSERT_EQ(other.join(port_, "Other"), SDK_OK);
    tourist.broadcast("everyone?");
    tourist.say("tab\there");
    tourist.whisper(other.session() + 100, "nobody");
    tourist.whisper(tourist.session(), "myself");
    tourist.connection().postConsole(0, 0, 0, "not a bot", other.session());
    tourist.sync();
    std::vector<std::pair<int, int>> errors;
    for (const Message& m : tourist.receivedOfType(MessageType::Error)) {
        errors.emplace_back(static_cast<int>(m.request), m.code);
    }
    EXPECT_EQ(errors, (std::vector<std::pair<int, int>>{
                          {static_cast<int>(MessageType::Broadcast), SDK_RC_NOT_ALLOWED},
                          {static_cast<int>(MessageType::Say), SDK_RC_INVALID_TEXT},
                          {static_cast<int>(MessageType::Whisper), SDK_RC_NO_SUCH_SESSION},
                          {static_cast<int>(MessageType::Whisper), SDK_RC_NO_SUCH_SESSION},
                          {static_cast<int>(MessageType::Console), SDK_RC_NOT_ALLOWED}}));
    other.sync();
    EXPECT_TRUE(other.receivedOfType(MessageType::Chat).empty());
    EXPECT_TRUE(other.receivedOfType(MessageType::ConsoleMessage).empty());
}

TEST_F(WorldServerTest, ConsoleMessagesGoToTheirTargetsInTheirColor) {
    TestAvatar bot, a, b, c;
    ASSERT_EQ(bot.join(port_, "Relay", 7, "secret", "welcome", true), SDK_OK);
    ASSERT_EQ(a.join(port_, "A"), SDK_OK);
    ASSERT_EQ(b.join(port_, "B"), SDK_OK);
    ASSERT_EQ(c.join(port_, "C"), SDK_OK);
    const std::string text = "Name:\t\xE4\xE0 \xFF";
    ASSERT_EQ(bot.connection().postConsole(255, 0, 128, text, a.session()), SDK_OK);
    ASSERT_EQ(bot.connection().postConsole(255, 0, 128, text, c.session()), SDK_OK);
    ASSERT_EQ(bot.connection().postConsole(255, 0, 128, text, 9999), SDK_OK);
    EXPECT_EQ(bot.connection().postConsole(0, 0, 0, "bell\x07", a.session()), SDK_RC_INVALID_TEXT);
    bot.sync();
    for (TestAvatar* receiver : {&a, &c}) {
        Message got = receiver->waitFor(
            [](const Message& m) { return m.type == MessageType::ConsoleMessage; });
        EXPECT_EQ(got.text, text);
        EXPECT_EQ(std::vector<int>({got.red, got.green, got.blue}),
                  std::vector<int>({255, 0, 128}));
    }
    b.sync();
    EXPECT_TRUE(b.receivedOfType(MessageType::ConsoleMessage).empty());
}

TEST_F(WorldServerTest, MalformedOrForeignClientsAreAnsweredAndClosed) {
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"over-long frame", std::string("\xFF\xFF\xFF\xFF", 4)},
        {"empty frame", std::string("\0\0\0\0", 4)},
        {"unknown type", std::string("\0\0\0\1\x63", 5)},
        {"login before hello", std::string("\0\0\0\x0B\x02\0\0\0\0\0\0\1A\0\0", 15)},
        {"wrong magic", std::string("\0\0\0\7\x01XXXX\0\1", 11)},
    };
    for (const Case& c : cases) {
        std::vector<Message> answers = exchangeRaw(port_, c.bytes);
        ASSERT_EQ(answers.size(), 1u) << c.what;
        EXPECT_EQ(answers[0].type, MessageType::Error) << c.what;
        EXPECT_EQ(answers[0].code, SDK_RC_PROTOCOL_ERROR) << c.what;
    }
    TestAvatar still;
    EXPECT_EQ(still.join(port_, "Still"), SDK_OK);
}

TEST_F(WorldServerTest, AClientThatDoesNotReadIsDroppedAndOthersCarryOn) {
    TestAvatar speaker, stuck, observer;
    ASSERT_EQ(speaker.join(port_, "Speaker"), SDK_OK);
    ASSERT_EQ(stuck.join(port_, "Stuck"), SDK_OK);
    ASSERT_EQ(observer.join(port_, "Observer"), SDK_OK);
    int small = 4096;
    net::setReceiveBuffer(stuck.connection().fd(), small);
    const std::string line(wire::MAX_CHAT_BYTES, 'x');
    auto stuckLeft = [&](const Message& m) {
        return m.type == MessageType::AvatarLeft && m.session == stuck.session();
    };
    // Bounded: far more than the server's output bound and socket buffers.
    // A round stays well under the bound, since the world may take a whole
    // round in one turn and queue it before writing.
    for (int round = 0; round < 2000; ++round) {
        for (int i = 0; i < 20; ++i) {
            speaker.say(line);
        }
        speaker.sync();
        if (observer.waitFor(stuckLeft, 0).type == MessageType::AvatarLeft) {
            break;
        }
    }
    EXPECT_EQ(observer.waitFor(stuckLeft).type, MessageType::AvatarLeft);
    TestAvatar newcomer;
    EXPECT_EQ(newcomer.join(port_, "Newcomer"), SDK_OK);
}

TEST_F(WorldServerTest, AnotherProtocolVersionIsAnsweredAndClosed) {
    Message hello;
    hello.type = MessageType::Hello;
    hello.version = wire::PROTOCOL_VERSION + 1;
    std::string bytes;
    wire::encodeFrame(hello, bytes);
    std::vector<Message> answers = exchangeRaw(port_, bytes);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].type, MessageType::Reply);
    EXPECT_EQ(answers[0].code, SDK_RC_VERSION_MISMATCH);
    EXPECT_EQ(answers[0].value, wire::PROTOCOL_VERSION);
}

TEST(WorldConnection, UnreachableOrBadAddressesAreReasonCodes) {
    WorldConnection connection;
    EXPECT_EQ(connection.open("127.0.0.1", 1, 1000), SDK_RC_CONNECT_FAILED);
    EXPECT_EQ(connection.open("not an address", 6670, 1000), SDK_RC_BAD_ADDRESS);
    EXPECT_EQ(connection.open("127.0.0.1", 70000, 1000), SDK_RC_BAD_ADDRESS);
    EXPECT_FALSE(connection.isOpen());
}

TEST(WorldServerLimits, ConnectionsBeyondTheLimitAreRefused) {
    ServerConfig config;
    config.maxClients = 2;
    config.reservedPlaces = 0;
    config.exempt = {net::LOOPBACK};
    ServedWorld server(config);
    TestAvatar first, second, third;
    EXPECT_EQ(first.join(server.port(), "First"), SDK_OK);
    EXPECT_EQ(second.join(server.port(), "Second"), SDK_OK);
    EXPECT_EQ(third.join(server.port(), "Third"), SDK_RC_SERVER_FULL);
    first.connection().close();
    // The departure reaches the second avatar once the server has let go of
    // the first connection; then there is room again.
    second.waitFor([](const Message& m) { return m.type == MessageType::AvatarLeft; });
    EXPECT_EQ(third.join(server.port(), "Third"), SDK_OK);
}

TEST(WorldServerLimits, ConnectionsThatDoNotLogInInTimeAreClosed) {
    ServerConfig config;
    config.loginTimeoutMs = 200;
    config.exempt = {net::LOOPBACK};
    ServedWorld server(config);
    TestAvatar early;
    ASSERT_EQ(early.join(server.port(), "Early"), SDK_OK);
    Message hello;
    hello.type = MessageType::Hello;
    std::string helloOnly;
    wire::encodeFrame(hello, helloOnly);
    // A silent connection is told it took too long to greet; one that greeted
    // but did not log in, that it took too long to log in.
    EXPECT_EQ(answersOf(exchangeRaw(server.port(), "")),
              (std::vector<std::pair<MessageType, int>>{{MessageType::Hello, SDK_RC_TIMEOUT}}));
    EXPECT_EQ(answersOf(exchangeRaw(server.port(), helloOnly)),
              (std::vector<std::pair<MessageType, int>>{{MessageType::Hello, SDK_OK},
                                                        {MessageType::Login, SDK_RC_TIMEOUT}}));
    // A session that logged in has no deadline.
    EXPECT_EQ(early.moveTo(1, 2, 3), SDK_OK);
}

TEST(WorldServerLimits, AFullServerMakesRoomByClosingConnectionsNotLoggedIn) {
    ServerConfig config;
    config.maxClients = 2;
    config.reservedPlaces = 0;
    config.exempt = {net::LOOPBACK};
    ServedWorld server(config);
    int silent[] = {connectRaw(server.port()), connectRaw(server.port())};
    // Each newcomer takes the place of one silent connection, which is told
    // the server is full; once every place is a session, newcomers are refused.
    TestAvatar first, second, third;
    EXPECT_EQ(first.join(server.port(), "First"), SDK_OK);
    EXPECT_EQ(second.join(server.port(), "Second"), SDK_OK);
    EXPECT_EQ(third.join(server.port(), "Third"), SDK_RC_SERVER_FULL);
    for (int fd : silent) {
        EXPECT_EQ(
            answersOf(readUntilClosed(fd)),
            (std::vector<std::pair<MessageType, int>>{{MessageType::Hello, SDK_RC_SERVER_FULL}}));
    }
    EXPECT_EQ(first.moveTo(1, 1, 1), SDK_OK);
    EXPECT_EQ(second.moveTo(2, 2, 2), SDK_OK);
}

TEST(WorldServerTurns, ChatLinesPastTheBurstAreRefusedUntilTheAllowanceRefills) {
    fakeNow = 1000;
    ServerConfig config;
    config.citizens = {{7, "secret"}};
    config.bots = {7};
    config.chatRate = 2;
    config.chatBurst = 3;
    config.logToStderr = false;
    WorldServer server(config, fakeClock);
    PairClient speaker(server), listener(server), bot(server);
    ASSERT_EQ(speaker.join("Speaker", 7, "secret"), SDK_OK);
    ASSERT_EQ(listener.join("Listener"), SDK_OK);
    ASSERT_EQ(bot.join("Relay", 7, "secret", true), SDK_OK);
    // Said, whispered and broadcast lines share one allowance.
    speaker.send(chatMessage(MessageType::Say, "1"));
    speaker.send(chatMessage(MessageType::Whisper, "2", listener.session()));
    speaker.send(chatMessage(MessageType::Broadcast, "3"));
    speaker.send(chatMessage(MessageType::Say, "4"));
    speaker.send(chatMessage(MessageType::Whisper, "5", listener.session()));
    serveTurns(server);
    fakeNow += 499;  // just short of one more line at 2 a second
    speaker.send(chatMessage(MessageType::Say, "6"));
    serveTurns(server);
    fakeNow += 1;
    speaker.send(chatMessage(MessageType::Say, "7"));
    serveTurns(server);
    EXPECT_EQ(errorsOf(speaker.received()),
              (std::vector<std::pair<MessageType, int>>{{MessageType::Say, SDK_RC_RATE_LIMITED},
                                                        {MessageType::Whisper, SDK_RC_RATE_LIMITED},
                                                        {MessageType::Say, SDK_RC_RATE_LIMITED}}));
    EXPECT_EQ(textsOf(listener.receivedOfType(MessageType::Chat)),
              (std::vector<std::string>{"1", "2", "3", "7"}));
    // Console messages (the bot's relay) have no such limit.
    Message console;
    console.type = MessageType::Console;
    console.text = "relayed";
    console.targets = {listener.session()};
    for (int i = 0; i < 30; ++i) {
        bot.send(console);
    }
    serveTurns(server);
    EXPECT_EQ(listener.receivedOfType(MessageType::ConsoleMessage).size(), 30u);
    EXPECT_TRUE(errorsOf(bot.received()).empty());
}

// Who is present and where, as a client has been told since its last entry:
// its roster and the arrivals, moves and departures after it. Each must be
// of someone else; an arrival of someone not yet there, a move or departure
// of someone there.
using Presence = std::map<int, std::pair<int, int>>;  // session -> x, z

Presence presenceToldTo(PairClient& client) {
    Presence present;
    for (const Message& m : client.received()) {
        if (m.type == MessageType::Reply && m.request == MessageType::Enter && m.code == SDK_OK) {
            present.clear();
        } else if (m.type == MessageType::AvatarArrived || m.type == MessageType::AvatarMoved ||
                   m.type == MessageType::AvatarLeft) {
            EXPECT_NE(m.session, client.session()) << static_cast<int>(m.type);
            const bool known = present.count(m.session) != 0;
            EXPECT_EQ(known, m.type != MessageType::AvatarArrived)
                << static_cast<int>(m.type) << " of " << m.session;
            if (m.type == MessageType::AvatarLeft) {
                present.erase(m.session);
            } else {
                present[m.session] = {m.x, m.z};
            }
        }
    }
    return present;
}

TEST(WorldServerTurns, ArrivalsAndDeparturesOfOneTurnAddUpForEveryMember) {
    // Many entries, moves between worlds, departures and moves in one turn,
    // then another such turn: whatever the order the world serves them in,
    // each client's roster and what it is told after add up to who is where.
    ServerConfig config;
    config.worlds = {"welcome", "other"};
    config.logToStderr = false;
    WorldServer server(config, fakeClock);
    const char* names[] = {"Ann", "Bob", "Cid", "Dee", "Eve", "Fay", "Gus", "Hal"};
    std::vector<std::unique_ptr<PairClient>> clients;
    std::map<int, std::string> worldOf;  // by client: where it stands now
    std::map<int, std::pair<int, int>> positionOf;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<PairClient>(server));
        ASSERT_EQ(clients.back()->join(names[i], 0, "", false, i < 3 ? "welcome" : ""), SDK_OK);
        if (i < 3) {
            worldOf[i] = "welcome";
        }
    }
    const auto enterNow = [&](int i, const std::string& world) {
        clients[i]->send(enter(world));
        worldOf[i] = world;
        positionOf[i] = {0, 0};
    };
    const auto moveNow = [&](int i, int x, int z) {
        clients[i]->send(state(x, 0, z));
        positionOf[i] = {x, z};
    };
    const auto check = [&] {
        for (const auto& [i, world] : worldOf) {
            Presence expected;
            for (const auto& [j, other] : worldOf) {
                if (j != i && other == world) {
                    expected[clients[j]->session()] = positionOf[j];
                }
            }
            EXPECT_EQ(presenceToldTo(*clients[i]), expected) << names[i] << " in " << world;
        }
    };

    for (int i = 3; i < 8; ++i) {
        enterNow(i, "welcome");
    }
    enterNow(4, "other");  // in and out again
    enterNow(1, "other");
    clients[2].reset();    // a departure among the arrivals
    worldOf.erase(2);
    moveNow(0, 5, 5);
    moveNow(3, 7, 0);
    moveNow(0, 6, -6);
    serveTurns(server);
    check();

    enterNow(5, "other");
    clients[6].reset();
    worldOf.erase(6);
    enterNow(4, "welcome");
    moveNow(7, 1, 0);
    moveNow(4, 2, 2);
    serveTurns(server);
    check();
}

TEST(WorldServerTurns, AChatRateOfZeroSwitchesTheLimitOff) {
    ServerConfig config;
    config.chatRate = 0;
    config.chatBurst = 1;
    config.logToStderr = false;
    WorldServer server(config, fakeClock);
    PairClient speaker(server), listener(server);
    ASSERT_EQ(speaker.join("Speaker"), SDK_OK);
    ASSERT_EQ(listener.join("Listener"), SDK_OK);
    for (int i = 0; i < 100; ++i) {
        speaker.send(chatMessage(MessageType::Say, "line " + std::to_string(i)));
    }
    serveTurns(server);
    EXPECT_TRUE(errorsOf(speaker.received()).empty());
    EXPECT_EQ(listener.receivedOfType(MessageType::Chat).size(), 100u);
}

TEST(WorldServerTurns, ManyMovingAtOnceAreHeldBackLikeTalkersNotLetPastTheBudget) {
    // Moves reach the others together at a turn's end; a turn in which
    // many move at once must still be weighed by the output budget while
    // input is read, so that readers are slowed down, not dropped.
    fakeNow = 1000;
    ServerConfig config;
    config.maxOutputBytes = 1 << 20;
    config.maxTotalOutputBytes = 1 << 20;  // a public world's share per member, about
    config.logToStderr = false;
    WorldServer server(config, fakeClock);
    constexpr int MOVERS = 60, MOVES = 40;  // each within its burst of moves
    std::vector<std::unique_ptr<PairClient>> movers;
    for (int i = 0; i < MOVERS; ++i) {
        movers.push_back(std::make_unique<PairClient>(server, 4096));
        std::string name = "Mover";
        name += std::to_string(i);
        ASSERT_EQ(movers.back()->join(name), SDK_OK) << name;
        for (auto& mover : movers) {
            mover->receive();
        }
    }
    for (auto& mover : movers) {
        for (int k = 1; k <= MOVES; ++k) {
            mover->send(state(k));
        }
    }
    std::size_t most = 0;
    for (int turn = 0; turn < 400; ++turn) {
        fakeNow += 10;
        for (auto& mover : movers) {
            mover->flush();
        }
        server.serveOnce(0);
        most = std::max(most, server.heldOutputBytes());
        for (auto& mover : movers) {
            mover->receive();
        }
    }
    EXPECT_LE(most, config.maxTotalOutputBytes);
    for (auto& mover : movers) {
        EXPECT_FALSE(mover->closed());
        EXPECT_EQ(mover->receivedOfType(MessageType::AvatarMoved).size(),
                  static_cast<std::size_t>((MOVERS - 1) * MOVES));
    }
}

// A world whose output budget a few hundred lines fill, citizen 7 its bot,
// with no chat limit to slow the talkers.
ServerConfig smallOutputBudgetConfig() {
    ServerConfig config;
    config.citizens = {{7, "secret"}};
    config.bots = {7};
    config.maxOutputBytes = 1 << 20;
    config.maxTotalOutputBytes = 64 * 1024;
    config.chatRate = 0;
    config.logToStderr = false;
    return config;
}

// A relay whose input the world holds back stops reading once it cannot
// send; that stall is the world's doing and must not cost it its place.
TEST(WorldServerTurns, ABotHeldBackWithTheOthersIsNotDroppedForTheStallThatCaused) {
    fakeNow = 1000;
    const ServerConfig config = smallOutputBudgetConfig();
    WorldServer server(config, fakeClock);
    PairClient bot(server, 4096), talker(server, 4096), deaf(server, 4096);
    ASSERT_EQ(bot.join("Relay", 7, "secret", true), SDK_OK);
    ASSERT_EQ(talker.join("Talker"), SDK_OK);
    ASSERT_EQ(deaf.join("Deaf"), SDK_OK);
    Message console;
    console.type = MessageType::Console;
    console.text = std::string(500, 'r');
    console.targets = {talker.session(), deaf.session()};
    const std::string line(400, 's');
    // The talker talks and the bot relays, flat out; the deaf never reads,
    // and the bot reads nothing for its first 3 s.
    for (int i = 0; i < 600; ++i) {
        fakeNow += 10;
        talker.queue(chatMessage(MessageType::Say, line));
        talker.flush();
        bot.queue(console);
        bot.flush();
        server.serveOnce(0);
        talker.receive();
        if (i >= 300) {
            bot.receive();
        }
    }
    EXPECT_TRUE(deaf.closed());
    EXPECT_FALSE(talker.closed());
    EXPECT_FALSE(bot.closed());
    EXPECT_LE(server.heldOutputBytes(), config.maxTotalOutputBytes);
}

TEST(WorldServerTurns, AFullWorldHoldsBackTalkersAndDropsOnlyThoseWhoTakeNothing) {
    fakeNow = 1000;
    const ServerConfig config = smallOutputBudgetConfig();
    WorldServer server(config, fakeClock);
    PairClient speaker(server), reader(server, 4096), bot(server, 4096), big(server, 4096);
    auto small = std::make_unique<PairClient>(server, 4096);
    ASSERT_EQ(bot.join("Relay", 7, "secret", true), SDK_OK);
    for (auto [client, name] : {std::pair{&speaker, "Speaker"}, std::pair{&reader, "Reader"},
                                std::pair{&big, "Big"}, std::pair{small.get(), "Small"}}) {
        ASSERT_EQ(client->join(name), SDK_OK) << name;
    }
    const std::string line(400, 'x');
    std::vector<std::string> said;
    std::size_t most = 0;
    auto turn = [&] {
        fakeNow += 10;
        speaker.flush();  // a talker held back waits with what it has to say
        server.serveOnce(0);
        reader.receive();
        bot.receive();
        most = std::max(most, server.heldOutputBytes());
    };
    // Neither Big nor Small reads, and Big stopped first. The speaker says
    // more than the world's output may hold, as fast as it can.
    for (int i = 0; i < 60; ++i) {
        speaker.send(chatMessage(MessageType::Whisper, line, big.session()));
        turn();
    }
    for (int i = 0; i < 200; ++i) {
        said.push_back(line + std::to_string(i));
        speaker.send(chatMessage(MessageType::Say, said.back()));
        turn();
    }
    for (int i = 0; i < 1000 && reader.receivedOfType(MessageType::Chat).size() < said.size();
         ++i) {
        turn();
    }
    EXPECT_LE(most, config.maxTotalOutputBytes);
    // The speaker was slowed, not refused: every line reached those who read.
    EXPECT_TRUE(errorsOf(speaker.received()).empty());
    EXPECT_EQ(textsOf(reader.receivedOfType(MessageType::Chat)), said);
    EXPECT_EQ(textsOf(bot.receivedOfType(MessageType::Chat)), said);
    // Those that took nothing went, the one stalled longest first.
    std::vector<int> left;
    for (const Message& m : reader.receivedOfType(MessageType::AvatarLeft)) {
        left.push_back(m.session);
    }
    EXPECT_EQ(left, (std::vector<int>{big.session(), small->session()}));
    EXPECT_TRUE(big.closed());
    EXPECT_TRUE(small->closed());
    EXPECT_FALSE(reader.closed());
    EXPECT_FALSE(bot.closed());
    // What a client held is given back when it goes.
    small.reset();
    for (int i = 0; i < 4; ++i) {
        turn();
    }
    EXPECT_EQ(server.heldOutputBytes(), 0u);
}

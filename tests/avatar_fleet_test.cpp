// The fleet of simulated avatars against a world server running in the test
// process, and against a raw socket that breaks the protocol.

#include "avatar/avatar_fleet.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/net.h"
#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"
#include "server/world_server.h"
#include "support/loopback_listener.h"

namespace {

class Recorder : public FleetObserver {
  public:
    void onConsole(std::size_t, std::string_view text) override { consoles.emplace_back(text); }
    void onChat(std::size_t member, const ChatView& chat) override {
        chats.push_back({member, std::string(chat.name), std::string(chat.text)});
    }
    void onLost(std::size_t member) override { lost.push_back(member); }

    struct Heard {
        std::size_t member;
        std::string name, text;
        bool operator==(const Heard&) const = default;
    };
    std::vector<std::string> consoles;
    std::vector<Heard> chats;
    std::vector<std::size_t> lost;
};

class AvatarFleetTest : public ::testing::Test {
  protected:
    void startServer(std::size_t maxClients = 4096) {
        ServerConfig config;
        config.port = 0;
        config.worlds = {"welcome"};
        config.citizens = {{100, "crowd"}};
        config.exempt = {net::LOOPBACK};  // a crowd of one address
        config.maxClients = maxClients;
        config.reservedPlaces = 0;
        server_ = std::make_unique<WorldServer>(config);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
        thread_ = std::thread([this] { server_->run(); });
    }
    void TearDown() override {
        if (server_) {
            server_->stop();
            thread_.join();
        }
    }
    AvatarLogin login(const std::string& name, int x = 0) const {
        AvatarLogin login;
        login.port = server_->port();
        login.name = name;
        login.position.eastWest = x;
        return login;
    }

    std::unique_ptr<WorldServer> server_;
    std::thread thread_;
};

// Turns until the condition holds or a few seconds pass.
template <typename Condition>
bool turnUntil(AvatarFleet& fleet, Condition done) {
    const long long deadline = nowMs() + 5000;
    while (!done() && nowMs() < deadline) {
        fleet.turn(50);
    }
    return done();
}

TEST_F(AvatarFleetTest, EachJoinEndsWithItsFirstReasonCode) {
    startServer();
    // A port where nobody listens: one just freed.
    int unusedPort = 0;
    const int unused = listenOnLoopback(unusedPort);
    ASSERT_GE(unused, 0);
    net::close(unused);  // the port is free again, and nobody listens there

    struct Case {
        const char* what;
        AvatarLogin login;
        int code;
    };
    std::vector<Case> cases = {{"a tourist", login("Tourist"), SDK_OK}};
    cases.push_back({"a citizen", login("Citizen"), SDK_OK});
    cases.back().login.citizen = 100;
    cases.back().login.password = "crowd";
    cases.push_back({"a wrong password", login("Wrong"), SDK_RC_BAD_CREDENTIALS});
    cases.back().login.citizen = 100;
    cases.back().login.password = "nope";
    cases.push_back({"a tourist with a password", login("Odd"), SDK_RC_BAD_CREDENTIALS});
    cases.back().login.password = "x";
    cases.push_back({"a bot's name", login("[Bot]"), SDK_RC_INVALID_TEXT});
    cases.push_back({"another world", login("Lost"), SDK_RC_NO_SUCH_WORLD});
    cases.back().login.world = "elsewhere";
    cases.push_back({"a bad address", login("Nowhere"), SDK_RC_BAD_ADDRESS});
    cases.back().login.address = "localhost";
    cases.push_back({"nobody listening", login("Refused"), SDK_RC_CONNECT_FAILED});
    cases.back().login.port = unusedPort;
    cases.push_back({"a name too long", login(std::string(65, 'n')), SDK_RC_TEXT_TOO_LONG});

    Recorder recorder;
    AvatarFleet fleet(recorder);
    std::vector<AvatarLogin> logins;
    for (const Case& c : cases) {
        logins.push_back(c.login);
    }
    fleet.join(logins);
    ASSERT_EQ(fleet.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(fleet.joined(i), cases[i].code == SDK_OK) << cases[i].what;
        EXPECT_EQ(fleet.failed(i), cases[i].code != SDK_OK) << cases[i].what;
        EXPECT_EQ(fleet.joinCode(i), cases[i].code) << cases[i].what;
    }
    EXPECT_GT(fleet.session(0), 0);
    EXPECT_TRUE(recorder.lost.empty());
}

TEST_F(AvatarFleetTest, AFullServerRefusesTheJoinsPastItsLimit) {
    startServer(3);
    Recorder recorder;
    AvatarFleet fleet(recorder);
    fleet.join({login("A"), login("B"), login("C")});
    fleet.join({login("D")});
    EXPECT_EQ(fleet.joinCode(3), SDK_RC_SERVER_FULL);
    EXPECT_TRUE(fleet.joined(2));
}

TEST_F(AvatarFleetTest, ManyWavesJoinAndEveryMemberHearsAndIsHeard) {
    startServer();
    Recorder recorder;
    AvatarFleet fleet(recorder);
    const std::size_t count = AvatarFleet::JOINS_IN_FLIGHT + 50;
    std::vector<AvatarLogin> logins;
    logins.push_back(login("Speaker"));
    logins.back().citizen = 100;
    logins.back().password = "crowd";
    for (std::size_t i = 1; i < count; ++i) {
        logins.push_back(login("Member" + std::to_string(i), 100000));
    }
    fleet.join(logins);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_TRUE(fleet.joined(i)) << i << ": " << fleet.joinCode(i);
    }
    // A broadcast reaches all the others, whatever the distance; a said line
    // only those within hearing range.
    ASSERT_EQ(fleet.broadcast(0, "to all"), SDK_OK);
    ASSERT_EQ(fleet.say(1, "near"), SDK_OK);
    ASSERT_TRUE(turnUntil(fleet, [&] { return recorder.chats.size() >= count - 1 + count - 2; }));
    std::size_t broadcasts = 0, said = 0;
    for (const Recorder::Heard& heard : recorder.chats) {
        broadcasts += heard.name == "Speaker" && heard.text == "to all";
        said += heard.name == "Member1" && heard.text == "near" && heard.member >= 2;
    }
    EXPECT_EQ(broadcasts, count - 1);
    EXPECT_EQ(said, count - 2);
    // A move's reply is taken in order: the member keeps its connection.
    ASSERT_EQ(fleet.moveTo(2, Position{0, 0, 0}), SDK_OK);
    ASSERT_EQ(fleet.say(2, "moved"), SDK_OK);
    ASSERT_TRUE(turnUntil(fleet, [&] { return recorder.chats.back().text == "moved"; }));
    EXPECT_TRUE(recorder.lost.empty());
    EXPECT_EQ(fleet.say(count, "nobody"), SDK_RC_CONNECTION_LOST);
}

// A peer that answers the handshake, then sends what it is given.
class RawPeer {
  public:
    RawPeer() { listener_ = listenOnLoopback(port_); }
    ~RawPeer() {
        if (thread_.joinable()) {
            thread_.join();
        }
        net::close(listener_);
    }
    // Sends the bytes to the first client, then ends the stream when asked.
    void serve(std::string bytes, bool end) {
        thread_ = std::thread([this, bytes, end] {
            const int fd = net::accept(listener_);
            [[maybe_unused]] long ignored = net::send(fd, bytes.data(), bytes.size());
            if (end) {
                net::shutdownSending(fd);
            }
            char sink[256];
            while (net::receive(fd, sink, sizeof sink) > 0) {
            }
            net::close(fd);
        });
    }
    int port() const { return port_; }

  private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

std::string replyFrame(wire::MessageType request, int value = 0, int code = 0) {
    wire::Message reply;
    reply.type = wire::MessageType::Reply;
    reply.request = request;
    reply.value = value;
    reply.code = code;
    std::string out;
    wire::encodeFrame(reply, out);
    return out;
}

TEST(AvatarFleetPeer, ABrokenStreamEndsTheJoinOrTheConnection) {
    using wire::MessageType;
    const std::string joined = replyFrame(MessageType::Hello, 1) +
                               replyFrame(MessageType::Login, 5) + replyFrame(MessageType::Enter) +
                               replyFrame(MessageType::State);
    const struct {
        const char* what;
        std::string bytes;
        bool end;  // the peer ends the stream after the bytes
        bool joins;
        int code;
        bool lost;  // after joining
    } cases[] = {
        {"a reply out of order", replyFrame(MessageType::Login), false, false,
         SDK_RC_PROTOCOL_ERROR, false},
        {"a frame of no length", std::string(4, '\0'), false, false, SDK_RC_PROTOCOL_ERROR, false},
        {"a client's message", std::string("\0\0\0\x01\x05", 5), false, false,
         SDK_RC_PROTOCOL_ERROR, false},
        {"the stream ends", replyFrame(MessageType::Hello, 1), true, false, SDK_RC_CONNECTION_LOST,
         false},
        {"a refused login",
         replyFrame(MessageType::Hello, 1) +
             replyFrame(MessageType::Login, 0, SDK_RC_BAD_CREDENTIALS),
         false, false, SDK_RC_BAD_CREDENTIALS, false},
        {"joined", joined, false, true, 0, false},
        {"joined, then the stream ends", joined, true, true, 0, true},
        {"a reply nothing asked for", joined + replyFrame(MessageType::State), false, true, 0,
         true},
        {"a malformed console message after joining", joined + std::string("\0\0\0\x01\x45", 5),
         false, true, 0, true},
    };
    for (const auto& c : cases) {
        RawPeer peer;
        peer.serve(c.bytes, c.end);
        Recorder recorder;
        AvatarFleet fleet(recorder);
        AvatarLogin login;
        login.port = peer.port();
        login.name = "Probe";
        fleet.join({login});
        EXPECT_EQ(fleet.joined(0), c.joins) << c.what;
        EXPECT_EQ(fleet.joinCode(0), c.code) << c.what;
        if (c.joins) {
            EXPECT_EQ(fleet.session(0), 5) << c.what;
            for (int i = 0; i < 4 && recorder.lost.empty(); ++i) {
                fleet.turn(50);
            }
            EXPECT_EQ(recorder.lost.size(), c.lost ? 1u : 0u) << c.what;
            EXPECT_EQ(fleet.active(0), !c.lost) << c.what;
        }
    }
}

}  // namespace

// tintbeacon-avatar's client loop, options and crowd, against a world server
// running in the test process.

#include "avatar/avatar_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>

#include "avatar/avatar_command.h"
#include "avatar/avatar_options.h"
#include "avatar/crowd.h"
#include "platform/net.h"
#include "sdk/reason_codes.h"
#include "server/world_server.h"
#include "support/bot_fixture.h"
#include "support/test_avatar.h"
#include "text/cp1251.h"

namespace {

class AvatarClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServerConfig config;
        config.port = 0;
        config.worlds = {"welcome"};
        config.citizens = {{7, "secret"}, {100, "crowd"}};
        config.bots = {7};
        config.exempt = {net::LOOPBACK};  // a crowd of one address
        server_ = std::make_unique<WorldServer>(config);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
        thread_ = std::thread([this] { server_->run(); });
    }
    void TearDown() override {
        server_->stop();
        thread_.join();
    }

    // Runs the client in scripted mode on these input lines; returns its
    // output lines and exit status.
    std::vector<std::string> runScripted(const std::string& input, int& status,
                                         const std::string& password = "", bool scripted = true) {
        // Standard input as the client polls it: a socket on every system.
        int fds[2];
        EXPECT_TRUE(net::socketPair(fds));
        EXPECT_EQ(net::send(fds[1], input.data(), input.size()), static_cast<long>(input.size()));
        net::close(fds[1]);
        ClientSettings settings;
        settings.scripted = scripted;
        settings.login.port = server_->port();
        settings.login.name = ru("Ёлка");
        settings.login.citizen = password.empty() ? 0 : 100;
        settings.login.password = password;
        settings.login.position = Position{0, 0, 10000};  // within hearing range of the peer
        std::ostringstream out;
        status = runAvatarClient(settings, fds[0], out);
        net::close(fds[0]);
        return splitLines(out.str());
    }

    std::unique_ptr<WorldServer> server_;
    std::thread thread_;
};

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(AvatarClientTest, ScriptedModeSpeaksAndWritesEveryEventAsJson) {
    TestAvatar peer;
    ASSERT_EQ(peer.join(server_->port(), "Peer", 7, "secret", "welcome", true), SDK_OK);
    std::thread actor([&peer] {
        const auto arrived = peer.waitFor([](const wire::Message& m) {
            return m.type == wire::MessageType::AvatarArrived;
        });
        peer.say(ru("привет всем"));
        peer.whisper(arrived.session, "psst");
        peer.connection().postConsole(255, 20, 147, "colored", arrived.session);
        peer.connection().flush();
    });
    int status = -1;
    const auto lines = runScripted(
        "hello\n/whisper [Peer] back\n/who\n/bogus\n/whisper Nobody x\n/wait 3000\n", status);
    actor.join();
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("{\"event\":\"ready\",\"session\":", 0), 0u) << lines[0];
    EXPECT_TRUE(contains(lines, "{\"event\":\"arrived\",\"session\":1,\"name\":\"[Peer]\","
                                "\"citizen\":7,\"x\":0,\"y\":0,\"z\":0}"));
    EXPECT_TRUE(contains(lines, "{\"event\":\"present\",\"session\":1,\"name\":\"[Peer]\","
                                "\"citizen\":7,\"x\":0,\"y\":0,\"z\":0}"));
    EXPECT_TRUE(contains(lines, "{\"event\":\"error\",\"what\":\"command\",\"message\":"
                                "\"unknown command /bogus (try /help)\"}"));
    EXPECT_TRUE(contains(lines, "{\"event\":\"error\",\"what\":\"whisper\",\"message\":"
                                "\"nobody of that name or session is here\"}"));
    EXPECT_TRUE(contains(lines, "{\"event\":\"chat\",\"type\":\"said\",\"session\":1,"
                                "\"name\":\"[Peer]\",\"text\":\"привет всем\"}"));
    EXPECT_TRUE(contains(lines, "{\"event\":\"chat\",\"type\":\"whisper\",\"session\":1,"
                                "\"name\":\"[Peer]\",\"text\":\"psst\"}"));
    EXPECT_TRUE(contains(lines, "{\"event\":\"console\",\"text\":\"colored\",\"red\":255,"
                                "\"green\":20,\"blue\":147}"));
    // What the client said and whispered reached the peer, as Windows-1251.
    const auto said = peer.waitFor([](const wire::Message& m) {
        return m.type == wire::MessageType::Chat && m.text == "back";
    });
    EXPECT_EQ(said.chatType, 2);
    EXPECT_EQ(said.name, ru("Ёлка"));
}

TEST_F(AvatarClientTest, AFailedJoinIsReportedWithItsReason) {
    int status = -1;
    const auto lines = runScripted("hello\n", status, "wrong");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(lines, std::vector<std::string>{
                         "{\"event\":\"error\",\"what\":\"join\",\"message\":\"cannot join the "
                         "world\",\"reason\":" + std::to_string(SDK_RC_BAD_CREDENTIALS) + "}"});
}

TEST_F(AvatarClientTest, ForAPersonWhoAndRefusalsAreInWords) {
    TestAvatar peer;
    ASSERT_EQ(peer.join(server_->port(), "Peer", 7, "secret", "welcome", true), SDK_OK);
    int status = -1;
    // /wait holds the lines after it until the refusal has come back.
    auto lines =
        runScripted("/who\n/broadcast hi\n/wait 500\n/move 0N 0W\n/who\n", status, "", false);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Joined welcome as Ёлка (session 2). Type /help for commands.",
                         "* [Peer] arrived (session 1)",
                         "  you are at 10N 0W",
                         "  #1 [Peer] at 0N 0W, 10S 0W from you: a bot",
                         "! server error 18 (not allowed: the session lacks the right)",
                         "  you are at 0N 0W",
                         "  #1 [Peer] at 0N 0W, 0N 0W from you: a bot",
                     }));
    lines = runScripted("hello\n", status, "wrong", false);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(lines,
              std::vector<std::string>{"! cannot join the world: reason 14 (bad credentials: "
                                       "unknown citizen number or wrong password)"});
}

TEST(AvatarCommand, ParsesWhatIsTyped) {
    using Kind = AvatarCommand::Kind;
    const struct {
        const char* line;
        Kind kind;
        const char* text;
        const char* target;
    } cases[] = {
        {"hello /there", Kind::Say, "hello /there", ""},
        {"//move", Kind::Say, "/move", ""},
        {"", Kind::Nothing, "", ""},
        {"/whisper Ann hi there", Kind::Whisper, "hi there", "Ann"},
        {"/whisper #12 hi", Kind::Whisper, "hi", "#12"},
        {"/whisper Ann", Kind::Invalid, nullptr, ""},
        {"/whisper  x", Kind::Invalid, nullptr, ""},
        {"/broadcast all of you", Kind::Broadcast, "all of you", ""},
        {"/broadcast", Kind::Invalid, nullptr, ""},
        {"/move 142N 71E", Kind::Move, "", ""},
        {"/move nowhere", Kind::Invalid, nullptr, ""},
        {"/wait 250", Kind::Wait, "", ""},
        {"/wait -1", Kind::Invalid, nullptr, ""},
        {"/wait soon", Kind::Invalid, nullptr, ""},
        {"/who", Kind::Who, "", ""},
        {"/quit", Kind::Quit, "", ""},
        {"/dance", Kind::Invalid, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const AvatarCommand command = parseAvatarCommand(c.line);
        EXPECT_EQ(command.kind, c.kind);
        if (c.text != nullptr) {
            EXPECT_EQ(command.text, c.text);
        }
        EXPECT_EQ(command.target, c.target);
    }
    EXPECT_EQ(parseAvatarCommand("/move 50S 10W 1a").position, (Position{10000, 1000, -50000}));
    EXPECT_EQ(parseAvatarCommand("/wait 250").waitMs, 250);
}

TEST(AvatarOptions, ParsesModesAndRefusesBadValues) {
    std::string error;
    auto options = parseAvatarOptions({"--server", "10.0.0.5:7000", "--name", "Ёж", "--at",
                                       "1N 2W", "--citizen", "5", "--password", "pw", "--script"},
                                      TerminalEncoding::Utf8, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->client.login.address, "10.0.0.5");
    EXPECT_EQ(options->client.login.port, 7000);
    EXPECT_EQ(options->client.login.name, ru("Ёж"));
    EXPECT_EQ(options->client.login.position, (Position{2000, 0, 1000}));
    EXPECT_TRUE(options->client.scripted);
    EXPECT_FALSE(options->crowd);

    options = parseAvatarOptions({"--crowd", "1000", "--rate", "2.5", "--seconds", "30",
                                  "--commanders", "10", "--server", "7001"},
                                 TerminalEncoding::Utf8, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->crowd);
    EXPECT_EQ(options->crowdSettings.avatars, 1000);
    EXPECT_EQ(options->crowdSettings.linesPerSecond, 2.5);
    EXPECT_EQ(options->crowdSettings.port, 7001);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--port", "1"}, {"--server", "host:0"}, {"--server", "x:99999"},
          {"--crowd", "0"}, {"--crowd"}, {"--at", "71E 142N"}, {"--rate", "fast"}, {"stray"},
          {"--name", ""}}) {
        EXPECT_FALSE(parseAvatarOptions(bad, TerminalEncoding::Utf8, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(AvatarOptions, EqualsFormAnyOrderAndHelpOrVersion) {
    std::string error;
    auto options = parseAvatarOptions({"--script", "--at=60N 60W", "--citizen=2", "--name=Ёж"},
                                      TerminalEncoding::Utf8, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->client.scripted);
    EXPECT_EQ(options->client.login.position, (Position{60000, 0, 60000}));
    EXPECT_EQ(options->client.login.citizen, 2);
    EXPECT_EQ(options->client.login.name, ru("Ёж"));
    EXPECT_FALSE(options->help || options->version);

    options = parseAvatarOptions({"--name", "x", "--version"}, TerminalEncoding::Utf8, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->version);
    options = parseAvatarOptions({"--crowd=0", "--help"}, TerminalEncoding::Utf8, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->help);
}

TEST_F(AvatarClientTest, CrowdJoinsChatsAndReports) {
    CrowdSettings settings;
    settings.port = server_->port();
    settings.avatars = 12;
    settings.linesPerSecond = 40;
    settings.movesPerSecond = 10;
    settings.seconds = 0.5;
    settings.drainSeconds = 0.2;
    settings.commanders = 2;  // citizens 100 and 101: only 100 is known
    std::ostringstream log;
    const CrowdReport report = runCrowd(settings, log);
    EXPECT_EQ(report.joined, 11);
    EXPECT_EQ(report.failedJoins, 1);
    EXPECT_GE(report.linesSaid, 10);
    EXPECT_FALSE(report.connectionLost);
    EXPECT_EQ(report.relayedReceived, 0);  // no bot in this world
    std::ostringstream printed;
    printCrowdReport(report, settings, printed);
    EXPECT_NE(printed.str().find("avatars joined: 11 of 12"), std::string::npos) << printed.str();
}

// A stand-in for the bot: hears everything, relays each said line to every
// other avatar present as "name:\ttext", answers each command to its sender.
class Relayer {
  public:
    explicit Relayer(int port) {
        EXPECT_EQ(avatar_.join(port, "Relay", 7, "secret", "welcome", true, true), SDK_OK);
        thread_ = std::thread([this] { run(); });
    }
    ~Relayer() {
        stop_ = true;
        thread_.join();
    }
    // Who said the commands, in order; read after the crowd has finished.
    const std::vector<std::string>& commanders() const { return commanders_; }

  private:
    void run() {
        WorldConnection& connection = avatar_.connection();
        while (!stop_ && connection.isOpen()) {
            connection.wait(20);
            connection.receive();
            for (const wire::Message& m : connection.events()) {
                if (m.type == wire::MessageType::AvatarArrived) {
                    present_.insert(m.session);
                } else if (m.type == wire::MessageType::AvatarLeft) {
                    present_.erase(m.session);
                } else if (m.type == wire::MessageType::Chat && m.text[0] == '!') {
                    commanders_.push_back(m.name);
                    connection.postConsole(0, 0, 0, "done", m.session);
                } else if (m.type == wire::MessageType::Chat) {
                    for (int session : present_) {
                        if (session != m.session) {
                            connection.postConsole(0, 0, 0, m.name + ":\t" + m.text, session);
                        }
                    }
                }
            }
            connection.events().clear();
            connection.flush();
        }
    }

    TestAvatar avatar_;
    std::set<int> present_;
    std::vector<std::string> commanders_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(AvatarClientTest, CrowdCountsEveryRelayedCopyAndCommandReply) {
    Relayer relayer(server_->port());
    CrowdSettings settings;
    settings.port = server_->port();
    settings.avatars = 30;
    settings.linesPerSecond = 60;
    settings.movesPerSecond = 20;
    settings.seconds = 0.5;
    settings.drainSeconds = 0.5;
    settings.commanders = 3;  // citizens 100, 101, 102: only 100 is known
    settings.commandShare = 0.3;
    std::ostringstream log;
    const CrowdReport report = runCrowd(settings, log);
    ASSERT_EQ(report.joined, 28);
    ASSERT_FALSE(report.connectionLost);
    const long long relayedLines = report.linesSaid - report.commandsSaid;
    ASSERT_GT(relayedLines, 5);
    ASSERT_GT(report.commandsSaid, 0);
    // Each relayed line reaches every other member once, and is timed once.
    EXPECT_EQ(report.relayedReceived, relayedLines * (report.joined - 1));
    EXPECT_EQ(report.latencySamples, report.relayedReceived);
    EXPECT_LE(report.relayedMax, relayedLines);
    EXPECT_LE(report.relayedMin, report.relayedMedian);
    EXPECT_LE(report.relayedMedian, report.relayedMax);
    EXPECT_GE(report.relayedMin, relayedLines - report.linesSaid);
    EXPECT_EQ(report.otherConsoleMessages, report.commandsSaid);
    // Commands come only from the commanders that joined.
    EXPECT_EQ(relayer.commanders(),
              std::vector<std::string>(static_cast<std::size_t>(report.commandsSaid), "Crowd0"));
    EXPECT_NE(log.str().find("crowd: Crowd1 could not join (reason 14)\n"), std::string::npos)
        << log.str();
}

TEST_F(AvatarClientTest, AStoppedCrowdStillReports) {
    CrowdSettings settings;
    settings.port = server_->port();
    settings.avatars = 3;
    settings.seconds = 86400;
    std::atomic<bool> stop{false};
    std::ostringstream log;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    const CrowdReport report = runCrowd(settings, log, &stop);
    stopper.join();
    EXPECT_EQ(report.joined, 3);
    EXPECT_TRUE(report.stopped);
    EXPECT_LT(report.secondsChatted, 60);
    std::ostringstream printed;
    printCrowdReport(report, settings, printed);
    EXPECT_NE(printed.str().find(" s (stopped early)\n"), std::string::npos) << printed.str();
}

}  // namespace

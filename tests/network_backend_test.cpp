#include "sdk/network_backend.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "server/world_server.h"
#include "support/test_avatar.h"

namespace {

// What the handlers saw, one entry per event: its type and the text it read.
struct Seen {
    int type;
    std::string text;
    int call;  // the SdkProcessEvents call that delivered it
};
std::vector<Seen> seen;
const char* lastChatText = nullptr;
int currentCall = 0;
NetworkBackend* active = nullptr;

void onArrived() {
    seen.push_back(
        {SDK_EVENT_AVATAR_ARRIVED, active->getString(SDK_ATTR_AVATAR_NAME), currentCall});
}
void onChat() {
    lastChatText = active->getString(SDK_ATTR_CHAT_MESSAGE);
    seen.push_back({SDK_EVENT_CHAT, lastChatText, currentCall});
}

}  // namespace

class NetworkBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ServerConfig config;
        config.port = 0;
        config.citizens = {{1, "pw"}};
        config.bots = {1};
        server_ = std::make_unique<WorldServer>(config);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
        thread_ = std::thread([this] { server_->run(); });
        seen.clear();
        lastChatText = nullptr;
        currentCall = 0;
        active = &backend_;
        backend_.setEventHandler(SDK_EVENT_AVATAR_ARRIVED, onArrived);
        backend_.setEventHandler(SDK_EVENT_CHAT, onChat);
    }
    void TearDown() override {
        server_->stop();
        thread_.join();
        active = nullptr;
    }
    int port() const { return server_->port(); }
    void logInBot(const std::string& password = "pw") {
        backend_.setInt(SDK_ATTR_LOGIN_OWNER, 1);
        backend_.setString(SDK_ATTR_LOGIN_PASSWORD, password);
        backend_.setString(SDK_ATTR_LOGIN_NAME, "Bot");
        backend_.setBool(SDK_ATTR_LOGIN_HEAR_ALL, 1);
    }
    void process() {
        ++currentCall;
        backend_.processEvents(0);
    }

    NetworkBackend backend_;
    std::unique_ptr<WorldServer> server_;
    std::thread thread_;
};

TEST_F(NetworkBackendTest, EachStepReturnsItsReasonCode) {
    EXPECT_EQ(backend_.createInstance("127.0.0.1", port(), 0), SDK_RC_NOT_INITIALISED);
    EXPECT_EQ(backend_.initialise(92), SDK_RC_WRONG_BUILD);
    ASSERT_EQ(backend_.initialise(SDK_BUILD), SDK_OK);
    EXPECT_EQ(backend_.login(), SDK_RC_NO_INSTANCE);
    EXPECT_EQ(backend_.createInstance("127.0.0.1", 1, 0), SDK_RC_CONNECT_FAILED);
    EXPECT_EQ(backend_.createInstance("localhost", port(), 0), SDK_RC_BAD_ADDRESS);
    ASSERT_EQ(backend_.createInstance("127.0.0.1", port(), 0), SDK_OK);
    EXPECT_EQ(backend_.enterWorld("welcome"), SDK_RC_NOT_LOGGED_IN);
    logInBot("wrong");
    EXPECT_EQ(backend_.login(), SDK_RC_BAD_CREDENTIALS);
    logInBot();
    EXPECT_EQ(backend_.login(), SDK_OK);
    EXPECT_EQ(backend_.login(), SDK_RC_ALREADY_LOGGED_IN);
    EXPECT_EQ(backend_.commitState(), SDK_RC_NOT_IN_WORLD);
    EXPECT_EQ(backend_.sendConsoleMessage(5), SDK_RC_NOT_IN_WORLD);
    EXPECT_EQ(backend_.enterWorld("nowhere"), SDK_RC_NO_SUCH_WORLD);
    EXPECT_EQ(backend_.enterWorld("welcome"), SDK_OK);
    EXPECT_EQ(backend_.commitState(), SDK_OK);
    backend_.setString(SDK_ATTR_CONSOLE_MESSAGE, std::string(wire::MAX_CONSOLE_BYTES + 1, 'x'));
    EXPECT_EQ(backend_.sendConsoleMessage(5), SDK_RC_TEXT_TOO_LONG);
    EXPECT_EQ(backend_.say("tab\tinside"), SDK_RC_INVALID_TEXT);
}

TEST_F(NetworkBackendTest, DeliversInOrderWithOneChatLinePerCall) {
    ASSERT_EQ(backend_.initialise(SDK_BUILD), SDK_OK);
    ASSERT_EQ(backend_.createInstance("127.0.0.1", port(), 0), SDK_OK);
    logInBot();
    ASSERT_EQ(backend_.login(), SDK_OK);
    ASSERT_EQ(backend_.enterWorld("welcome"), SDK_OK);
    TestAvatar speaker;
    ASSERT_EQ(speaker.join(port(), "Speaker"), SDK_OK);
    for (const char* line : {"one", "two", "three"}) {
        speaker.say(line);
    }
    speaker.sync();
    for (int i = 0; i < 50 && seen.size() < 4; ++i) {
        process();
        // The text read in the handler is still readable after the call.
        if (lastChatText != nullptr) {
            EXPECT_EQ(std::string(lastChatText), seen.back().text);
        }
    }
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].text, "Speaker");
    EXPECT_EQ(seen[1].text, "one");
    EXPECT_EQ(seen[2].text, "two");
    EXPECT_EQ(seen[3].text, "three");
    EXPECT_LT(seen[1].call, seen[2].call);
    EXPECT_LT(seen[2].call, seen[3].call);
}

TEST_F(NetworkBackendTest, AnAvatarLogsInAndSpeaks) {
    TestAvatar listener;
    ASSERT_EQ(listener.join(port(), "Listener"), SDK_OK);
    ASSERT_EQ(backend_.initialise(SDK_BUILD), SDK_OK);
    ASSERT_EQ(backend_.createInstance("127.0.0.1", port(), 0), SDK_OK);
    backend_.setInt(SDK_ATTR_LOGIN_OWNER, 0);
    backend_.setString(SDK_ATTR_LOGIN_NAME, "Tourist \xC0\xFF");
    ASSERT_EQ(backend_.loginAvatar(), SDK_OK);
    ASSERT_EQ(backend_.enterWorld("welcome"), SDK_OK);
    ASSERT_EQ(backend_.say("hello \xE0"), SDK_OK);
    process();
    wire::Message heard =
        listener.waitFor([](const wire::Message& m) { return m.type == wire::MessageType::Chat; });
    EXPECT_EQ(heard.name, "Tourist \xC0\xFF");
    EXPECT_EQ(heard.text, "hello \xE0");
}

TEST_F(NetworkBackendTest, EachReceiverGetsTheColorAndTextInForceWhenItWasSent) {
    // The relay sets the same text before every receiver; only a change of
    // color or text may start a new console message.
    TestAvatar a, b;
    ASSERT_EQ(a.join(port(), "A"), SDK_OK);
    ASSERT_EQ(b.join(port(), "B"), SDK_OK);
    ASSERT_EQ(backend_.initialise(SDK_BUILD), SDK_OK);
    ASSERT_EQ(backend_.createInstance("127.0.0.1", port(), 0), SDK_OK);
    logInBot();
    ASSERT_EQ(backend_.login(), SDK_OK);
    ASSERT_EQ(backend_.enterWorld("welcome"), SDK_OK);
    auto send = [&](int red, const std::string& text, int session) {
        backend_.setInt(SDK_ATTR_CONSOLE_RED, red);
        backend_.setInt(SDK_ATTR_CONSOLE_GREEN, 0);
        backend_.setInt(SDK_ATTR_CONSOLE_BLUE, 0);
        backend_.setString(SDK_ATTR_CONSOLE_MESSAGE, text);
        EXPECT_EQ(backend_.sendConsoleMessage(session), SDK_OK);
    };
    send(10, "one", a.session());
    send(10, "one", b.session());
    send(20, "one", a.session());  // another color
    send(20, "two", b.session());  // another text
    send(20, "two", a.session());
    backend_.setString(SDK_ATTR_CONSOLE_MESSAGE, "bad\x01");
    EXPECT_EQ(backend_.sendConsoleMessage(a.session()), SDK_RC_INVALID_TEXT);
    backend_.setString(SDK_ATTR_CONSOLE_MESSAGE, "bad\x01");  // unchanged, still refused
    EXPECT_EQ(backend_.sendConsoleMessage(b.session()), SDK_RC_INVALID_TEXT);
    process();
    // Both end with "two" in color 20; what came before it is all there is.
    auto consoleTexts = [](TestAvatar& avatar) {
        avatar.waitFor([](const wire::Message& m) {
            return m.type == wire::MessageType::ConsoleMessage && m.text == "two";
        });
        std::vector<std::string> texts;
        for (const wire::Message& m : avatar.receivedOfType(wire::MessageType::ConsoleMessage)) {
            texts.push_back(std::to_string(m.red) + " " + m.text);
        }
        return texts;
    };
    EXPECT_EQ(consoleTexts(a), (std::vector<std::string>{"10 one", "20 one", "20 two"}));
    EXPECT_EQ(consoleTexts(b), (std::vector<std::string>{"10 one", "20 two"}));
}

// A socket someone else connected: the backend takes it only once
// initialised, and owns it from then on (a refusal closes it too).
TEST(NetworkBackendOnSocket, TakesAConnectedSocketAndOwnsIt) {
    for (bool initialised : {false, true}) {
        int ends[2];
        ASSERT_TRUE(net::socketPair(ends));
        wire::Message reply;
        reply.type = wire::MessageType::Reply;
        reply.request = wire::MessageType::Hello;
        std::string bytes;
        wire::encodeFrame(reply, bytes);
        if (initialised) {
            ASSERT_EQ(net::send(ends[0], bytes.data(), bytes.size()),
                      static_cast<long>(bytes.size()));
        }
        {
            NetworkBackend backend;
            if (initialised) {
                ASSERT_EQ(backend.initialise(SDK_BUILD), SDK_OK);
            }
            EXPECT_EQ(backend.createInstanceOn(ends[1]),
                      initialised ? SDK_OK : SDK_RC_NOT_INITIALISED);
            EXPECT_EQ(backend.isConnected(), initialised);
        }
        // Gone with the backend at the latest: the world's end reads the end
        // of the stream (after the handshake, when one was sent).
        char buffer[64];
        long n;
        while ((n = net::receive(ends[0], buffer, sizeof buffer)) > 0) {
        }
        EXPECT_EQ(n, 0) << initialised;
        net::close(ends[0]);
    }
}

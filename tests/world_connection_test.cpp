#include "sdk/world_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/net.h"
#include "sdk/reason_codes.h"
#include "support/loopback_listener.h"

namespace {

// A scripted world: accepts one connection, reads the client's first bytes,
// then answers with the given bytes (or nothing) and, when asked, closes;
// otherwise, when given a later answer, sends it once the client sends more,
// and keeps what the client sends until it closes.
class ScriptedWorld {
  public:
    ScriptedWorld(std::string answer, bool closeAfter, std::string later = "") {
        listener_ = listenOnLoopback(port_);
        thread_ = std::thread([this, answer, closeAfter, later] {
            peer_ = net::accept(listener_);
            char buffer[64];
            [[maybe_unused]] long ignored = net::receive(peer_, buffer, sizeof buffer);
            if (!answer.empty()) {
                ignored = net::send(peer_, answer.data(), answer.size());
            }
            if (closeAfter) {
                net::close(peer_);
                peer_ = -1;
                return;
            }
            long n;
            bool laterSent = later.empty();
            while ((n = net::receive(peer_, buffer, sizeof buffer)) > 0) {
                collected_.append(buffer, static_cast<std::size_t>(n));
                if (!laterSent) {
                    ignored = net::send(peer_, later.data(), later.size());
                    laterSent = true;
                }
            }
        });
    }
    // Everything the client sent after its first bytes; waits for it to close.
    const std::string& collected() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return collected_;
    }
    ~ScriptedWorld() {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (peer_ >= 0) {
            net::close(peer_);
        }
        net::close(listener_);
    }
    int port() const { return port_; }

  private:
    int listener_ = -1;
    int peer_ = -1;
    int port_ = 0;
    std::string collected_;
    std::thread thread_;
};

std::string frame(const wire::Message& message) {
    std::string bytes;
    wire::encodeFrame(message, bytes);
    return bytes;
}

wire::Message replyTo(wire::MessageType request, int code) {
    wire::Message reply;
    reply.type = wire::MessageType::Reply;
    reply.request = request;
    reply.code = code;
    return reply;
}

wire::Message chat(const std::string& name, const std::string& text) {
    wire::Message message;
    message.type = wire::MessageType::Chat;
    message.session = 2;
    message.name = name;
    message.text = text;
    return message;
}

wire::Message consoleText(const std::string& text) {
    wire::Message message;
    message.type = wire::MessageType::ConsoleMessage;
    message.text = text;
    return message;
}

}  // namespace

TEST(WorldConnection, AMisbehavingServerIsAReasonCodeNeverAHang) {
    struct Case {
        const char* what;
        std::string answer;
        bool closeAfter;
        int code;
    } cases[] = {
        {"silent server", "", false, SDK_RC_TIMEOUT},
        {"closed at once", "", true, SDK_RC_CONNECTION_LOST},
        {"over-long frame", std::string("\x7F\xFF\xFF\xFF", 4), false, SDK_RC_PROTOCOL_ERROR},
        {"undecodable body", std::string("\0\0\0\1\x05", 5), false, SDK_RC_PROTOCOL_ERROR},
        {"reply to another request", frame(replyTo(wire::MessageType::Login, 0)), false,
         SDK_RC_PROTOCOL_ERROR},
        {"refusal, then closed", frame(replyTo(wire::MessageType::Hello, SDK_RC_VERSION_MISMATCH)),
         true, SDK_RC_VERSION_MISMATCH},
        {"accepted", frame(replyTo(wire::MessageType::Hello, 0)), false, SDK_OK},
        // What comes with the handshake's answer is held to the protocol too.
        {"a second reply, asked by nobody",
         frame(replyTo(wire::MessageType::Hello, 0)) + frame(replyTo(wire::MessageType::Login, 0)),
         false, SDK_RC_PROTOCOL_ERROR},
        {"an escape sequence in a name",
         frame(replyTo(wire::MessageType::Hello, 0)) + frame(chat("Eve\x1b[2J", "hi")), false,
         SDK_RC_PROTOCOL_ERROR},
        {"a line feed in a chat text",
         frame(replyTo(wire::MessageType::Hello, 0)) + frame(chat("Eve", "hi\nBob: forged")),
         false, SDK_RC_PROTOCOL_ERROR},
        {"DEL in a name",
         frame(replyTo(wire::MessageType::Hello, 0)) + frame(chat("Eve\x7f", "hi")), false,
         SDK_RC_PROTOCOL_ERROR},
        {"a bell in a console text",
         frame(replyTo(wire::MessageType::Hello, 0)) + frame(consoleText("ring\a")), false,
         SDK_RC_PROTOCOL_ERROR},
        {"clean chat and a console text over two lines",
         frame(replyTo(wire::MessageType::Hello, 0)) + frame(chat("Eve", "hi there")) +
             frame(consoleText("Eve:\thi\r\nnext line")),
         false, SDK_OK},
    };
    for (const Case& c : cases) {
        ScriptedWorld world(c.answer, c.closeAfter);
        WorldConnection connection;
        EXPECT_EQ(connection.open("127.0.0.1", world.port(), 300), c.code) << c.what;
        EXPECT_EQ(connection.isOpen(), c.code == SDK_OK) << c.what;
    }
}

TEST(WorldConnection, ConsoleMessagesToManySessionsTravelTogether) {
    ScriptedWorld world(frame(replyTo(wire::MessageType::Hello, 0)), false);
    WorldConnection connection;
    ASSERT_EQ(connection.open("127.0.0.1", world.port(), 1000), SDK_OK);
    for (int session = 1; session <= 3; ++session) {
        EXPECT_EQ(connection.postConsole(1, 2, 3, "same", session), SDK_OK);
    }
    EXPECT_EQ(connection.postConsole(1, 2, 3, "other", 4), SDK_OK);
    EXPECT_EQ(connection.postConsole(1, 2, 3, std::string(wire::MAX_CONSOLE_BYTES + 1, 'x'), 5),
              SDK_RC_TEXT_TOO_LONG);
    EXPECT_TRUE(connection.wantsWrite());
    // Two messages: three receivers of "same", then one of "other".
    wire::Message same;
    same.type = wire::MessageType::Console;
    same.red = 1;
    same.green = 2;
    same.blue = 3;
    same.text = "same";
    same.targets = {1, 2, 3};
    wire::Message other = same;
    other.text = "other";
    other.targets = {4};
    wire::Message probe;  // a later message of another kind closes the batch
    probe.type = wire::MessageType::Say;
    probe.text = "x";
    ASSERT_EQ(connection.post(probe), SDK_OK);
    ASSERT_EQ(connection.flush(), SDK_OK);
    EXPECT_FALSE(connection.wantsWrite());
    connection.close();
    EXPECT_EQ(world.collected(), frame(same) + frame(other) + frame(probe));
}

TEST(WorldConnection, AReplyWithNoRequestOutstandingClosesTheConnection) {
    // Replies that nothing asked for were once kept unread, until the
    // connection stopped reading for good.
    ScriptedWorld world(frame(replyTo(wire::MessageType::Hello, 0)), false,
                        frame(replyTo(wire::MessageType::State, 0)));
    WorldConnection connection;
    ASSERT_EQ(connection.open("127.0.0.1", world.port(), 1000), SDK_OK);
    wire::Message say;
    say.type = wire::MessageType::Say;
    say.text = "hello";
    ASSERT_EQ(connection.post(say), SDK_OK);
    ASSERT_EQ(connection.flush(), SDK_OK);
    int rc = SDK_OK;
    for (int turn = 0; turn < 50 && rc == SDK_OK; ++turn) {
        ASSERT_TRUE(connection.wait(100));
        rc = connection.receive();
    }
    EXPECT_EQ(rc, SDK_RC_PROTOCOL_ERROR);
    EXPECT_FALSE(connection.isOpen());
}

TEST(WorldConnection, AdoptsAConnectedSocketAfterItsHandshake) {
    struct Case {
        const char* what;
        std::string answer;
        int code;
    } cases[] = {
        {"accepted", frame(replyTo(wire::MessageType::Hello, 0)), SDK_OK},
        {"refused", frame(replyTo(wire::MessageType::Hello, SDK_RC_VERSION_MISMATCH)),
         SDK_RC_VERSION_MISMATCH},
        {"silent", "", SDK_RC_TIMEOUT},
    };
    for (const Case& c : cases) {
        int ends[2];
        ASSERT_TRUE(net::socketPair(ends));
        ASSERT_EQ(net::send(ends[0], c.answer.data(), c.answer.size()),
                  static_cast<long>(c.answer.size()));
        WorldConnection connection;
        EXPECT_EQ(connection.adopt(ends[1], 100), c.code) << c.what;
        EXPECT_EQ(connection.isOpen(), c.code == SDK_OK) << c.what;
        connection.close();
        // The world got the handshake, then the end of the stream: the
        // connection closed the descriptor it was given, on failure too.
        wire::Message hello;
        std::string received;
        char buffer[64];
        long n;
        while ((n = net::receive(ends[0], buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
        }
        EXPECT_EQ(received, frame(hello)) << c.what;
        net::close(ends[0]);
    }
}

TEST(WorldConnection, WhatCameWhileNoRequestWasOutTellsWhetherTheWorldEndedTheConnection) {
    struct Case {
        const char* what;
        std::string meanwhile;
        bool closeAfter;
        bool ended;
    } cases[] = {
        {"nothing", "", false, false},
        {"an answer that came early", frame(replyTo(wire::MessageType::Login, 0)), false, false},
        {"the world gave up waiting for a login",
         [] {
             wire::Message refusal;
             refusal.type = wire::MessageType::Error;
             refusal.request = wire::MessageType::Login;
             refusal.code = SDK_RC_TIMEOUT;
             return frame(refusal);
         }(),
         false, true},
        {"the end of the stream", "", true, true},
    };
    for (const Case& c : cases) {
        int ends[2];
        ASSERT_TRUE(net::socketPair(ends));
        const std::string accepted = frame(replyTo(wire::MessageType::Hello, 0));
        net::send(ends[0], accepted.data(), accepted.size());
        WorldConnection connection;
        ASSERT_EQ(connection.adopt(ends[1], 1000), SDK_OK) << c.what;
        net::send(ends[0], c.meanwhile.data(), c.meanwhile.size());
        if (c.closeAfter) {
            net::shutdownSending(ends[0]);
        }
        // Over TCP (the pair on Windows) the bytes take a moment to arrive.
        connection.wait(c.meanwhile.empty() && !c.closeAfter ? 0 : 1000);
        EXPECT_EQ(connection.endedWhileIdle(), c.ended) << c.what;
        EXPECT_EQ(connection.isOpen(), !c.ended) << c.what;
        net::close(ends[0]);
    }
}

// A world that stops reading the bot's socket for a while: the backend holds
// back instead of failing sends, and loses none of what the world sent.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/net.h"
#include "platform/process.h"
#include "protocol/monotonic_clock.h"
#include "protocol/wire_message.h"
#include "sdk/network_backend.h"
#include "support/loopback_listener.h"

namespace {

using wire::Message;
using wire::MessageType;

void sendFrame(int fd, const Message& message) {
    std::string bytes;
    wire::encodeFrame(message, bytes);
    [[maybe_unused]] long sent = net::send(fd, bytes.data(), bytes.size());
}

// Answers the handshake, the login, the entry and the state; then says
// LINES chat lines at once and reads nothing for STALL_MS; then reads
// everything, counting the console receivers, until the client closes.
class StallingWorld {
  public:
    static constexpr int STALL_MS = 1500;
    static constexpr int LINES = 3000;

    StallingWorld() {
        // A small buffer, so that the stall is felt before the kernel hides it.
        listener_ = listenOnLoopback(port_, 4096);
        thread_ = std::thread([this] { serve(); });
    }
    ~StallingWorld() {
        thread_.join();
        net::close(listener_);
    }
    int port() const { return port_; }
    long long receivers() const { return receivers_; }

  private:
    void serve() {
        int peer = net::accept(listener_);
        wire::FrameReader reader;
        char buffer[65536];
        bool stalled = false;
        for (;;) {
            long n = net::receive(peer, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            reader.append(buffer, static_cast<std::size_t>(n));
            std::string body;
            while (reader.next(body) == wire::FrameReader::Status::Frame) {
                std::optional<Message> message = wire::decodeBody(body);
                if (!message) {
                    continue;
                }
                if (message->type == MessageType::Console) {
                    receivers_ += static_cast<long long>(message->targets.size());
                    continue;
                }
                Message reply;
                reply.type = MessageType::Reply;
                reply.request = message->type;
                reply.value = 1;
                sendFrame(peer, reply);
                if (message->type == MessageType::State && !stalled) {
                    stalled = true;
                    std::string lines;
                    for (int line = 0; line < LINES; ++line) {
                        Message chat;
                        chat.type = MessageType::Chat;
                        chat.session = 2;
                        chat.name = "Eve";
                        chat.text = "line " + std::to_string(line);
                        wire::encodeFrame(chat, lines);
                    }
                    [[maybe_unused]] long sent = net::send(peer, lines.data(), lines.size());
                    sleepMs(STALL_MS);  // the stall itself, not pacing the test
                }
            }
        }
        net::close(peer);
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<long long> receivers_{0};
};

int chatLines = 0;
void countChat() { ++chatLines; }

TEST(NetworkBackpressure, AWorldThatStopsReadingIsWaitedForNotFailed) {
    constexpr int RECEIVERS = 1000;
    chatLines = 0;
    StallingWorld world;
    {
        NetworkBackend backend;
        backend.setEventHandler(SDK_EVENT_CHAT, countChat);
        ASSERT_EQ(backend.initialise(SDK_BUILD), SDK_OK);
        ASSERT_EQ(backend.createInstance("127.0.0.1", world.port(), 0), SDK_OK);
        ASSERT_EQ(backend.login(), SDK_OK);
        ASSERT_EQ(backend.enterWorld("welcome"), SDK_OK);
        ASSERT_EQ(backend.commitState(), SDK_OK);
        // As the relay does: each line heard goes to every receiver. Without
        // holding back, the output bound is reached within the stall and
        // the sends fail by the thousand.
        int failures = 0;
        const long long deadline = nowMs() + 30000;
        while (chatLines < StallingWorld::LINES && nowMs() < deadline) {
            const int before = chatLines;
            backend.processEvents(0);
            if (chatLines == before) {
                continue;
            }
            backend.setString(SDK_ATTR_CONSOLE_MESSAGE, "Eve:\tline " + std::to_string(before));
            for (int session = 10; session < 10 + RECEIVERS; ++session) {
                failures += backend.sendConsoleMessage(session) != SDK_OK ? 1 : 0;
            }
        }
        for (int turn = 0; turn < 5; ++turn) {
            backend.processEvents(0);  // writes what is left
        }
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(chatLines, StallingWorld::LINES);
    }
    EXPECT_EQ(world.receivers(), static_cast<long long>(StallingWorld::LINES) * RECEIVERS);
}

}  // namespace

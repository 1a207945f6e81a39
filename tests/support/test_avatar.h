#pragma once

// A scripted avatar for tests: one WorldConnection with helpers to log in,
// enter, move, speak, and wait (with a deadline) for what the server sends.

#include <functional>
#include <string>
#include <vector>

#include "protocol/wire_message.h"
#include "sdk/world_connection.h"

// The messages of one type, in order.
std::vector<wire::Message> messagesOfType(const std::vector<wire::Message>& messages,
                                          wire::MessageType type);

class TestAvatar {
  public:
    static constexpr int DEADLINE_MS = 10000;

    // Connects, logs in and, when world is not empty, enters it. Returns a
    // reason code (the first that is not 0).
    int join(int port, const std::string& name, int citizen = 0, const std::string& password = "",
             const std::string& world = "welcome", bool bot = false, bool hearAll = false);
    int enter(const std::string& world);
    int moveTo(int x, int y, int z);
    void say(const std::string& text);
    void whisper(int session, const std::string& text);
    void broadcast(const std::string& text);
    // A no-op round trip (a state request with the current position): every
    // message the server sent this avatar before answering it has arrived.
    void sync();

    // Waits until a received message satisfies the predicate; returns it, or
    // a message of type Hello when the deadline passed or the connection ended.
    wire::Message waitFor(const std::function<bool(const wire::Message&)>& matches,
                          int deadlineMs = DEADLINE_MS);
    // Every message received so far, in order.
    const std::vector<wire::Message>& received();
    std::vector<wire::Message> receivedOfType(wire::MessageType type);
    // Waits until the server closes the connection; false at the deadline.
    bool waitClosed(int deadlineMs = DEADLINE_MS);

    int session() const { return session_; }
    WorldConnection& connection() { return connection_; }

  private:
    void pump(int waitMs);

    WorldConnection connection_;
    std::vector<wire::Message> received_;
    int session_ = 0;
    int x_ = 0, y_ = 0, z_ = 0;
};

#pragma once

// One client connection to a world server: the socket, what waits to be sent
// and what has arrived. It never blocks except inside open and request, which
// wait at most their timeout. One process may hold many (one per avatar) and
// poll their descriptors together.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "protocol/heartbeat.h"
#include "protocol/wire_message.h"

class WorldConnection {
  public:
    // Unsent output beyond which post refuses more.
    static constexpr std::size_t MAX_OUTPUT_BYTES = 4 * 1024 * 1024;
    // Events held unread beyond which the connection stops reading, leaving
    // the rest to the socket (and the server's bound for slow clients).
    static constexpr std::size_t MAX_QUEUED_EVENTS = 65536;

    WorldConnection() = default;
    ~WorldConnection();
    WorldConnection(const WorldConnection&) = delete;
    WorldConnection& operator=(const WorldConnection&) = delete;

    // Connects within the timeout and exchanges the version handshake;
    // closes whatever was open before. Returns a reason code; on any code
    // but 0 the connection is left closed.
    int open(const std::string& address, int port, int timeoutMs);
    // Takes a stream socket already connected to a world (one end of a socket
    // pair, say) and exchanges the version handshake on it as open does;
    // closes whatever was open before. The descriptor is the connection's from
    // then on, closed by it on any failure too. Returns a reason code.
    int adopt(int fd, int timeoutMs);
    // Drops the socket, the output and the queued events.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Sends a request (Login, Enter, State) after all queued output and waits
    // up to the timeout for its reply; events that come first are queued.
    // Returns the reply's reason code, with its value in *value; a timeout or
    // a lost connection is a code too and closes the connection.
    int request(const wire::Message& message, int timeoutMs, int* value = nullptr);
    // Queues a message without waiting for anything. Returns a reason code:
    // not open, a text too long, or too much output already waiting.
    int post(const wire::Message& message);
    // Queues a console message to one session. Consecutive ones with the same
    // color and text leave as one message naming all their receivers.
    int postConsole(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                    const std::string& text, int session);
    // Adds one more receiver to the console message being gathered, when
    // there is one with room left: the cheap way to send one prepared text to
    // many sessions. False when there is none (nothing is queued); postConsole
    // then starts one.
    bool addConsoleTarget(int session) {
        if (console_.targets.empty() || console_.targets.size() >= wire::MAX_CONSOLE_TARGETS ||
            output_.size() >= MAX_OUTPUT_BYTES) {
            return false;
        }
        console_.targets.push_back(session);
        return true;
    }
    // Writes what it can without blocking. A failed write closes the
    // connection and returns SDK_RC_CONNECTION_LOST.
    int flush();
    bool wantsWrite() const { return !output_.empty() || !console_.targets.empty(); }
    // Bytes queued and not yet written (the console message being gathered
    // counted by its receivers).
    std::size_t unsentBytes() const { return output_.size() + 4 * console_.targets.size(); }
    // Reads and decodes what has arrived without blocking. An ended or broken
    // stream closes the connection and returns its reason code; so does a
    // protocol error (SDK_RC_PROTOCOL_ERROR): a malformed frame, a reply when
    // no request waits for one, or a text that breaks the protocol's rules
    // (a control byte in a name or chat text, one but TAB, LF and CR in a
    // console text).
    int receive();
    // The heartbeat, to be called now and then (at least every second or so):
    // sends a Ping after a quiet spell, and when a Ping has gone unanswered
    // for wire::PING_ANSWER_MS closes the connection and returns
    // SDK_RC_TIMEOUT. `nowMs` is nowMs() (protocol/monotonic_clock.h); tests
    // pass later times to skip the waits.
    int keepAlive(long long nowMs);
    // Reads what arrived while no request was out. True, with the
    // connection closed, when the world ended it meanwhile: the end of the
    // stream, or a refusal of Hello or Login that answers nothing asked (a
    // world sends one before it closes a connection that did not log in in
    // time). A reply that comes early is kept for the next request.
    bool endedWhileIdle();
    // Waits up to the timeout until something arrives (or, with output
    // pending, until it can be written). Returns false when the wait failed.
    bool wait(int timeoutMs);
    // Waits up to the timeout until the socket can take more output, whatever
    // has arrived meanwhile. Returns false when the wait failed.
    bool waitWritable(int timeoutMs);

    // Messages from the server in arrival order, replies excepted.
    std::deque<wire::Message>& events() { return events_; }

  private:
    int closeWith(int code);
    void closeConsoleBatch();
    int writeAllBefore(long long deadlineMs);

    int fd_ = -1;
    std::string output_;
    wire::Message console_;  // the console message being gathered, if it has targets
    wire::FrameReader reader_;
    wire::Heartbeat heartbeat_;
    bool socketFull_ = false;  // the last flush left output the socket would not take
    std::deque<wire::Message> events_;
    std::deque<wire::Message> replies_;
    bool awaitingReply_ = false;  // a request is out and its reply not yet taken
};

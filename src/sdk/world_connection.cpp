#include "sdk/world_connection.h"

#include "platform/net.h"
#include "sdk/reason_codes.h"
#include "protocol/monotonic_clock.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;

int remainingMs(long long deadline) {
    long long left = deadline - nowMs();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool isRequest(MessageType type) {
    return type == MessageType::Hello || type == MessageType::Login || type == MessageType::Enter ||
           type == MessageType::State;
}

// The protocol's text rules for what a server sends: names and chat texts
// hold no control byte, console texts no control byte but TAB, LF and CR.
// A text that breaks them could forge or break a line of the bot's console
// and chat log, so the message is a protocol error.
bool hasCleanTexts(const Message& m) {
    switch (m.type) {
        case MessageType::AvatarArrived:
        case MessageType::AvatarLeft:
            return wire::isCleanText(m.name, false);
        case MessageType::Chat:
            return wire::isCleanText(m.name, false) && wire::isCleanText(m.text, false);
        case MessageType::ConsoleMessage:
            return wire::isCleanConsoleText(m.text);
        default:
            return true;
    }
}

// Waits up to the timeout for the socket to be readable (when asked) or
// writable (when asked); false when the wait failed.
bool waitFor(int fd, bool read, bool write, int timeoutMs, bool* ready = nullptr) {
    net::PollEntry entry;
    entry.fd = fd;
    entry.wantRead = read;
    entry.wantWrite = write;
    const int n = net::poll(&entry, 1, timeoutMs);
    if (ready != nullptr) {
        *ready = n > 0;
    }
    return n >= 0;
}

}  // namespace

WorldConnection::~WorldConnection() {
    close();
}

int WorldConnection::open(const std::string& address, int port, int timeoutMs) {
    close();
    std::uint32_t target = 0;
    if (port < 1 || port > 65535 || !net::parseIpv4(address, target)) {
        return SDK_RC_BAD_ADDRESS;
    }
    const long long deadline = nowMs() + timeoutMs;
    int fd = net::connectBefore(target, port, remainingMs(deadline));
    if (fd < 0) {
        return SDK_RC_CONNECT_FAILED;
    }
    return adopt(fd, remainingMs(deadline));
}

int WorldConnection::adopt(int fd, int timeoutMs) {
    close();
    fd_ = fd;
    heartbeat_.start(nowMs());
    if (!net::setNonBlocking(fd_)) {
        close();
        return SDK_RC_CONNECT_FAILED;
    }
    Message hello;
    hello.type = MessageType::Hello;
    int rc = request(hello, timeoutMs);
    if (rc != SDK_OK) {
        close();  // a refused handshake leaves nothing to use
    }
    return rc;
}

void WorldConnection::close() {
    if (fd_ >= 0) {
        net::close(fd_);
        fd_ = -1;
    }
    output_.clear();
    socketFull_ = false;
    console_.targets.clear();
    reader_ = wire::FrameReader{};
    events_.clear();
    replies_.clear();
    awaitingReply_ = false;
}

int WorldConnection::closeWith(int code) {
    if (fd_ >= 0) {
        net::close(fd_);
        fd_ = -1;
    }
    output_.clear();
    console_.targets.clear();
    awaitingReply_ = false;
    return code;
}

int WorldConnection::request(const Message& message, int timeoutMs, int* value) {
    if (fd_ < 0) {
        return SDK_RC_CONNECTION_LOST;
    }
    int rc = post(message);
    if (rc != SDK_OK) {
        return rc;
    }
    awaitingReply_ = true;
    const long long deadline = nowMs() + timeoutMs;
    rc = writeAllBefore(deadline);
    while (rc == SDK_OK && replies_.empty()) {
        if (!wait(remainingMs(deadline))) {
            return closeWith(SDK_RC_CONNECTION_LOST);
        }
        rc = receive();
        if (rc == SDK_OK && replies_.empty() && nowMs() >= deadline) {
            // The reply may still come; the stream is out of step past this.
            return closeWith(SDK_RC_TIMEOUT);
        }
    }
    // A refusal may come just before the server closes the connection; after
    // a protocol error nothing that came with it can be trusted.
    if (replies_.empty() || rc == SDK_RC_PROTOCOL_ERROR) {
        return rc;
    }
    Message answer = replies_.front();
    replies_.pop_front();
    awaitingReply_ = false;
    if (answer.request != message.type) {
        return closeWith(SDK_RC_PROTOCOL_ERROR);
    }
    if (value != nullptr) {
        *value = answer.value;
    }
    return answer.code;
}

int WorldConnection::post(const Message& message) {
    if (fd_ < 0) {
        return SDK_RC_CONNECTION_LOST;
    }
    if (output_.size() >= MAX_OUTPUT_BYTES) {
        return SDK_RC_OUTPUT_FULL;
    }
    closeConsoleBatch();
    return wire::encodeFrame(message, output_) ? SDK_OK : SDK_RC_TEXT_TOO_LONG;
}

int WorldConnection::postConsole(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                 const std::string& text, int session) {
    if (fd_ < 0) {
        return SDK_RC_CONNECTION_LOST;
    }
    if (output_.size() >= MAX_OUTPUT_BYTES) {
        return SDK_RC_OUTPUT_FULL;
    }
    // A relayed line goes to many receivers with one color and text: only the
    // first of them pays for the checks, the rest add a session number.
    bool sameBatch = !console_.targets.empty() && console_.red == red && console_.green == green &&
                     console_.blue == blue && console_.text == text &&
                     console_.targets.size() < wire::MAX_CONSOLE_TARGETS;
    if (!sameBatch) {
        if (text.size() > wire::MAX_CONSOLE_BYTES) {
            return SDK_RC_TEXT_TOO_LONG;
        }
        if (!wire::isCleanConsoleText(text)) {
            return SDK_RC_INVALID_TEXT;
        }
        closeConsoleBatch();
        console_.type = MessageType::Console;
        console_.red = red;
        console_.green = green;
        console_.blue = blue;
        console_.text = text;
    }
    console_.targets.push_back(session);
    return SDK_OK;
}

void WorldConnection::closeConsoleBatch() {
    if (!console_.targets.empty()) {
        wire::encodeFrame(console_, output_);
        console_.targets.clear();
    }
}

int WorldConnection::flush() {
    if (fd_ < 0) {
        return SDK_RC_CONNECTION_LOST;
    }
    closeConsoleBatch();
    std::size_t written = 0;
    bool full = false;
    while (written < output_.size()) {
        const long n = net::send(fd_, output_.data() + written, output_.size() - written);
        if (n == net::AGAIN) {
            full = true;
            break;
        }
        if (n <= 0) {
            return closeWith(SDK_RC_CONNECTION_LOST);
        }
        written += static_cast<std::size_t>(n);
    }
    if (written > 0) {
        const long long now = nowMs();
        heartbeat_.sent(now);
        // A socket that was full takes bytes again only once the world has
        // acknowledged some: it is there, even while its answers wait unread
        // behind the bot's own output.
        if (socketFull_) {
            heartbeat_.heard(now);
        }
        output_.erase(0, written);
    }
    socketFull_ = full;
    return SDK_OK;
}

int WorldConnection::keepAlive(long long now) {
    if (fd_ < 0) {
        return SDK_RC_CONNECTION_LOST;
    }
    switch (heartbeat_.check(now)) {
        case wire::Heartbeat::Due::Nothing:
            return SDK_OK;
        case wire::Heartbeat::Due::Lost:
            return closeWith(SDK_RC_TIMEOUT);
        case wire::Heartbeat::Due::Ping:
            break;
    }
    Message ping;
    ping.type = MessageType::Ping;
    // Output that fills the buffer stands for the Ping: the world has the
    // same time to show it is there.
    heartbeat_.pinged(now);
    const int rc = post(ping);
    return rc == SDK_OK ? flush() : SDK_OK;
}

int WorldConnection::writeAllBefore(long long deadline) {
    int rc = flush();
    while (rc == SDK_OK && !output_.empty()) {
        bool ready = false;
        if (!waitFor(fd_, false, true, remainingMs(deadline), &ready) || !ready) {
            return closeWith(SDK_RC_TIMEOUT);
        }
        rc = flush();
    }
    return rc;
}

int WorldConnection::receive() {
    if (fd_ < 0) {
        return SDK_RC_CONNECTION_LOST;
    }
    char buffer[READ_CHUNK];
    while (events_.size() + replies_.size() < MAX_QUEUED_EVENTS) {
        const long n = net::receive(fd_, buffer, sizeof buffer);
        if (n == net::AGAIN) {
            return SDK_OK;
        }
        if (n <= 0) {
            return closeWith(SDK_RC_CONNECTION_LOST);
        }
        heartbeat_.heard(nowMs());
        reader_.append(buffer, static_cast<std::size_t>(n));
        std::string body;
        for (;;) {
            wire::FrameReader::Status status = reader_.next(body);
            if (status == wire::FrameReader::Status::NeedMore) {
                break;
            }
            std::optional<Message> message;
            if (status == wire::FrameReader::Status::Frame) {
                message = wire::decodeBody(body);
            }
            if (!message || !hasCleanTexts(*message)) {
                return closeWith(SDK_RC_PROTOCOL_ERROR);
            }
            if (message->type == MessageType::Pong) {
                continue;  // its bytes have done their work: something was heard
            }
            bool answers = message->type == MessageType::Reply ||
                           (message->type == MessageType::Error && isRequest(message->request));
            // One request is answered at a time: a reply that answers
            // nothing asked would pile up unread, so it breaks the protocol.
            if (answers && (!awaitingReply_ || !replies_.empty())) {
                return closeWith(SDK_RC_PROTOCOL_ERROR);
            }
            (answers ? replies_ : events_).push_back(std::move(*message));
        }
    }
    return SDK_OK;
}

bool WorldConnection::endedWhileIdle() {
    if (fd_ < 0) {
        return true;
    }
    // As if a request were out, so that one answer is taken, not refused.
    const bool awaiting = awaitingReply_;
    awaitingReply_ = true;
    receive();
    awaitingReply_ = awaiting;
    if (fd_ >= 0 && !awaiting && !replies_.empty() && replies_.front().type == MessageType::Error) {
        close();
    }
    return fd_ < 0;
}

bool WorldConnection::wait(int timeoutMs) {
    if (fd_ < 0) {
        return false;
    }
    return waitFor(fd_, true, wantsWrite(), timeoutMs);
}

bool WorldConnection::waitWritable(int timeoutMs) {
    if (fd_ < 0) {
        return false;
    }
    return waitFor(fd_, false, true, timeoutMs);
}

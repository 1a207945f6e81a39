#include "sdk/world_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

// A non-blocking socket connected within the timeout, or -1.
int connectBefore(const sockaddr_in& address, long long deadline) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (errno == EINPROGRESS) {
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, remainingMs(deadline)) == 1) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
                return fd;
            }
        }
    }
    ::close(fd);
    return -1;
}

}  // namespace

WorldConnection::~WorldConnection() {
    close();
}

int WorldConnection::open(const std::string& address, int port, int timeoutMs) {
    close();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (port < 1 || port > 65535 || ::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
        return SDK_RC_BAD_ADDRESS;
    }
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    const long long deadline = nowMs() + timeoutMs;
    int fd = connectBefore(target, deadline);
    if (fd < 0) {
        return SDK_RC_CONNECT_FAILED;
    }
    return adopt(fd, remainingMs(deadline));
}

int WorldConnection::adopt(int fd, int timeoutMs) {
    close();
    fd_ = fd;
    int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
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
        ::close(fd_);
        fd_ = -1;
    }
    output_.clear();
    console_.targets.clear();
    reader_ = wire::FrameReader{};
    events_.clear();
    replies_.clear();
    awaitingReply_ = false;
}

int WorldConnection::closeWith(int code) {
    if (fd_ >= 0) {
        ::close(fd_);
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
    while (written < output_.size()) {
        ssize_t n = ::send(fd_, output_.data() + written, output_.size() - written, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            break;
        }
        if (n <= 0) {
            return closeWith(SDK_RC_CONNECTION_LOST);
        }
        written += static_cast<std::size_t>(n);
    }
    output_.erase(0, written);
    return SDK_OK;
}

int WorldConnection::writeAllBefore(long long deadline) {
    int rc = flush();
    while (rc == SDK_OK && !output_.empty()) {
        pollfd writable{fd_, POLLOUT, 0};
        if (::poll(&writable, 1, remainingMs(deadline)) <= 0) {
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
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return SDK_OK;
        }
        if (n <= 0) {
            return closeWith(SDK_RC_CONNECTION_LOST);
        }
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

bool WorldConnection::wait(int timeoutMs) {
    if (fd_ < 0) {
        return false;
    }
    pollfd waiting{fd_, static_cast<short>(POLLIN | (wantsWrite() ? POLLOUT : 0)), 0};
    int n = ::poll(&waiting, 1, timeoutMs);
    return n >= 0 || errno == EINTR;
}

bool WorldConnection::waitWritable(int timeoutMs) {
    if (fd_ < 0) {
        return false;
    }
    pollfd waiting{fd_, POLLOUT, 0};
    int n = ::poll(&waiting, 1, timeoutMs);
    return n >= 0 || errno == EINTR;
}

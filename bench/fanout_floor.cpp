#include "fanout_floor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "avatar/avatar_fleet.h"
#include "child_output.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int READY_TIMEOUT_MS = 60000;
// As much as the avatar fleet reads at once.
constexpr std::size_t READ_BUFFER_BYTES = 256 * 1024;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A socket connecting to 127.0.0.1:port, non-blocking; -1 when that fails.
int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads what the socket holds as the avatar fleet does (until a read comes
// short), and hands each whole frame's body to onBody. False when the tool
// closed the connection.
template <typename OnBody>
bool readFrames(int fd, std::vector<char>& buffer, FrameScanner& scanner, OnBody&& onBody) {
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        if (n < 0) {
            return true;
        }
        scanner.feed(buffer.data(), static_cast<std::size_t>(n), [&](std::string_view body) {
            onBody(body);
            return true;
        });
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return true;
        }
    }
}

}  // namespace

RawFanoutTool::~RawFanoutTool() {
    child_.stop(SIGTERM);
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

int RawFanoutTool::start(const std::vector<std::string>& args) {
    char pattern[] = "/tmp/tintbeacon-fanout-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 0;
    }
    dir_ = pattern;
    if (!child_.start(std::string(TINTBEACON_BIN_DIR) + "/tintbeacon_raw_fanout", args,
                      dir_.string(), (dir_ / "out").string(), (dir_ / "err").string())) {
        std::fprintf(stderr, "tintbeacon_raw_fanout did not start\n");
        return 0;
    }
    const int port = awaitListeningPort(dir_ / "out", READY_TIMEOUT_MS);
    if (port == 0) {
        std::fprintf(stderr, "tintbeacon_raw_fanout did not get ready: %s\n",
                     readWholeFile(dir_ / "err").c_str());
    }
    return port;
}

bool RawFanoutTool::awaitReady(int timeoutMs) const {
    return awaitLine(dir_ / "out", "ready", timeoutMs);
}

FanoutFloor::~FanoutFloor() {
    for (Receiver& receiver : receivers_) {
        ::close(receiver.fd);
    }
    if (sender_ >= 0) {
        ::close(sender_);
    }
}

bool FanoutFloor::start(std::size_t receivers, const std::vector<std::string>& frameOptions) {
    buffer_.resize(READ_BUFFER_BYTES);
    if (!poller_.ok()) {
        std::fprintf(stderr, "poller: %s\n", poller_.error().c_str());
        return false;
    }
    std::vector<std::string> args = {"--connections", std::to_string(receivers + 1)};
    args.insert(args.end(), frameOptions.begin(), frameOptions.end());
    const int port = tool_.start(args);
    sender_ = port == 0 ? -1 : connectTo(port);
    if (sender_ < 0) {
        return false;
    }
    // Connections under way at once, as many as the fleet's joins.
    std::size_t connecting = 0;
    auto finishSome = [&] {
        poller_.wait(100, ready_);
        for (const Poller::Event& event : ready_) {
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(event.fd, SOL_SOCKET, SO_ERROR, &error, &size);
            if (error != 0) {
                return false;
            }
            poller_.modify(event.fd, Poller::READ);
            --connecting;
        }
        return true;
    };
    while (receivers_.size() < receivers) {
        Receiver receiver;
        receiver.fd = connectTo(port);
        if (receiver.fd < 0 || !poller_.add(receiver.fd, Poller::WRITE)) {
            std::perror("connect");
            return false;
        }
        byFd_.resize(std::max(byFd_.size(), static_cast<std::size_t>(receiver.fd) + 1));
        byFd_[static_cast<std::size_t>(receiver.fd)] = receivers_.size();
        receivers_.push_back(std::move(receiver));
        ++connecting;
        while (connecting >= AvatarFleet::JOINS_IN_FLIGHT ||
               (receivers_.size() == receivers && connecting > 0)) {
            if (!finishSome()) {
                std::fprintf(stderr, "a receiver could not connect to tintbeacon_raw_fanout\n");
                return false;
            }
        }
    }
    if (!tool_.awaitReady(READY_TIMEOUT_MS)) {
        std::fprintf(stderr, "tintbeacon_raw_fanout did not take every connection\n");
        return false;
    }
    return true;
}

template <typename OnFrame>
bool FanoutFloor::readReady(int timeoutMs, OnFrame&& onFrame) {
    if (!poller_.wait(timeoutMs, ready_)) {
        return false;
    }
    for (const Poller::Event& event : ready_) {
        const std::size_t index = byFd_[static_cast<std::size_t>(event.fd)];
        Receiver& receiver = receivers_[index];
        if (!readFrames(receiver.fd, buffer_, receiver.scanner,
                        [&](std::string_view) { onFrame(index, receiver.frames++); })) {
            std::fprintf(stderr, "tintbeacon_raw_fanout closed a receiver\n");
            return false;
        }
    }
    return true;
}

bool FanoutFloor::trigger(const std::string& frames) {
    std::size_t sent = 0;
    while (sent < frames.size()) {
        const ssize_t n = ::send(sender_, frames.data() + sent, frames.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return true;
}

double FanoutFloor::fanOutMs(int frame, int timeoutMs) {
    const long long round = ++rounds_;
    std::size_t remaining = receivers_.size();
    const auto start = Clock::now();
    if (!trigger(std::string(1, static_cast<char>(frame)))) {
        return -1;
    }
    while (remaining > 0 && millisSince(start) < timeoutMs) {
        if (!readReady(10, [&](std::size_t, long long number) {
                remaining -= number + 1 == round ? 1 : 0;
            })) {
            return -1;
        }
    }
    return remaining == 0 ? millisSince(start) : -1;
}

FanoutFloor::Stream FanoutFloor::stream(int frame, int rate, double seconds, int drainMs) {
    Stream result;
    result.lines = static_cast<long long>(rate * seconds);
    const long long first = rounds_;
    std::vector<Clock::time_point> sentAt(static_cast<std::size_t>(result.lines));
    auto onFrame = [&](std::size_t, long long number) {
        const long long line = number - first;
        if (line >= 0 && line < result.lines) {
            ++result.copies;
            result.latency.add(
                std::chrono::duration<double, std::milli>(Clock::now() - sentAt[line]).count());
        }
    };
    const auto start = Clock::now();
    long long said = 0;
    bool ok = true;
    while (said < result.lines && ok) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long long due = std::min(result.lines, static_cast<long long>(elapsed * rate) + 1);
        const auto now = Clock::now();
        for (long long line = said; line < due; ++line) {
            sentAt[static_cast<std::size_t>(line)] = now;
        }
        ok = trigger(std::string(static_cast<std::size_t>(due - said), static_cast<char>(frame))) &&
             readReady(1, onFrame);
        said = due;
    }
    rounds_ += said;
    const long long expected = result.lines * static_cast<long long>(receivers_.size());
    const auto drainUntil = Clock::now() + std::chrono::milliseconds(drainMs);
    while (ok && result.copies < expected && Clock::now() < drainUntil) {
        ok = readReady(10, onFrame);
    }
    return result;
}

double rawJoinSeconds(std::size_t avatars, const std::string& name, int timeoutMs) {
    RawFanoutTool tool;
    const int port = tool.start({"--join", name});
    Poller poller;
    if (port == 0 || !poller.ok()) {
        return -1;
    }
    struct Joiner {
        int fd = -1;
        int replies = 0;
        FrameScanner scanner;
    };
    std::vector<Joiner> joiners;
    std::vector<std::size_t> byFd;
    std::vector<char> buffer(READ_BUFFER_BYTES);
    std::vector<Poller::Event> ready;
    std::size_t joining = 0, joined = 0;
    bool failed = false;
    const auto start = Clock::now();
    while (joined < avatars && !failed && millisSince(start) < timeoutMs) {
        while (joiners.size() < avatars && joining < AvatarFleet::JOINS_IN_FLIGHT) {
            Joiner joiner;
            joiner.fd = connectTo(port);
            if (joiner.fd < 0 || !poller.add(joiner.fd, Poller::READ)) {
                std::perror("connect");
                failed = true;
                break;
            }
            byFd.resize(std::max(byFd.size(), static_cast<std::size_t>(joiner.fd) + 1));
            byFd[static_cast<std::size_t>(joiner.fd)] = joiners.size();
            joiners.push_back(std::move(joiner));
            ++joining;
        }
        poller.wait(100, ready);
        for (const Poller::Event& event : ready) {
            Joiner& joiner = joiners[byFd[static_cast<std::size_t>(event.fd)]];
            failed |= !readFrames(joiner.fd, buffer, joiner.scanner, [&](std::string_view body) {
                if (bodyType(body) == wire::MessageType::Reply && ++joiner.replies == 4) {
                    --joining;
                    ++joined;
                }
            });
        }
    }
    const double seconds = millisSince(start) / 1000.0;
    for (Joiner& joiner : joiners) {
        ::close(joiner.fd);
    }
    if (joined < avatars) {
        std::fprintf(stderr, "the raw join did not finish (%zu of %zu)\n", joined, avatars);
        return -1;
    }
    return seconds;
}

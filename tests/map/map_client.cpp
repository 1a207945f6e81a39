#include "map/map_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "protocol/monotonic_clock.h"

RawClient::RawClient(int port, int receiveBuffer, std::uint32_t from) : RawClient() {
    if (receiveBuffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(from);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source);
    connect(port);
}

RawClient::RawClient() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {}

RawClient::~RawClient() {
    ::close(fd_);
}

void RawClient::connect(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
}

void RawClient::send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

bool RawClient::read() {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            received_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        closed_ = closed_ || n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        return !closed_;
    }
}

bool runUntil(MapServer& server, const std::function<bool()>& done, int deadlineMs,
              int* readyTurns) {
    const long long deadline = nowMs() + deadlineMs;
    while (!done()) {
        if (nowMs() >= deadline) {
            return false;
        }
        pollfd watched{server.fd(), POLLIN, 0};
        int timeout = server.timeoutMs();
        ::poll(&watched, 1, timeout < 0 || timeout > 10 ? 10 : timeout);
        if (readyTurns != nullptr && watched.revents != 0) {
            ++*readyTurns;
        }
        server.turn(watched.revents != 0);
    }
    return true;
}

CapturedLog::CapturedLog() {
    char path[] = "/tmp/tintbeacon-map-log-XXXXXX";
    const int fd = ::mkstemp(path);
    path_ = path;
    std::fflush(stderr);
    saved_ = ::dup(2);
    ::dup2(fd, 2);
    ::close(fd);
}

CapturedLog::~CapturedLog() {
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    std::remove(path_.c_str());
}

std::string CapturedLog::text() const {
    std::fflush(stderr);
    std::ifstream in(path_);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int CapturedLog::lines() const {
    const std::string all = text();
    return static_cast<int>(std::count(all.begin(), all.end(), '\n'));
}

void MapServerFixture::start(MapLimits limits) {
    server_ = std::make_unique<MapServer>(std::vector<std::string>{"welcome"}, 20000, limits);
    std::string error;
    ASSERT_TRUE(server_->start("127.0.0.1", 0, error)) << error;
    ASSERT_GT(server_->port(), 0);
}

std::string MapServerFixture::exchange(const std::string& request, std::uint32_t from) {
    RawClient client(server_->port(), 0, from);
    EXPECT_TRUE(client.connected());
    client.send(request);
    runUntil(*server_, [&] { return !client.read(); });
    return client.received();
}

bool MapServerFixture::loadsPage(std::uint32_t from) {
    const std::string answer =
        exchange("GET / HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", from);
    return answer.rfind("HTTP/1.1 200 OK", 0) == 0 && answer.find("</html>") != std::string::npos;
}

bool MapServerFixture::streamIsReady(RawClient& page) {
    return runUntil(*server_,
                    [&] {
                        page.read();
                        return page.closed() ||
                               page.received().find("{\"type\":\"ready\"}") != std::string::npos;
                    }) &&
           !page.closed();
}

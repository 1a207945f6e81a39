#include "server/map/map_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "protocol/monotonic_clock.h"

namespace {

constexpr int DEADLINE_MS = 10000;

// A raw HTTP client on a non-blocking socket, so that the test's one thread
// can run both the map's loop and the client.
class RawClient {
  public:
    explicit RawClient(int port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads what has arrived; false once the server closed the connection.
    bool read() {
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
    const std::string& received() const { return received_; }
    bool closed() const { return closed_; }

  private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string received_;
};

// Runs the map's loop as the world server would, until the condition holds.
bool runUntil(MapServer& server, const std::function<bool()>& done, int deadlineMs = DEADLINE_MS) {
    const long long deadline = nowMs() + deadlineMs;
    while (!done()) {
        if (nowMs() >= deadline) {
            return false;
        }
        pollfd watched{server.fd(), POLLIN, 0};
        int timeout = server.timeoutMs();
        ::poll(&watched, 1, timeout < 0 || timeout > 10 ? 10 : timeout);
        server.turn(watched.revents != 0);
    }
    return true;
}

class MapServerTest : public ::testing::Test {
  protected:
    void SetUp() override { start(MAP_STREAM_BOUND); }
    void start(std::size_t bound) {
        server_ = std::make_unique<MapServer>(std::vector<std::string>{"welcome"}, 20000, bound);
        std::string error;
        ASSERT_TRUE(server_->start("127.0.0.1", 0, error)) << error;
        ASSERT_GT(server_->port(), 0);
    }
    // Sends one request and returns the whole answer (up to the close, or
    // what has come when the deadline passed).
    std::string exchange(const std::string& request) {
        RawClient client(server_->port());
        EXPECT_TRUE(client.connected());
        client.send(request);
        runUntil(*server_, [&] { return !client.read(); });
        return client.received();
    }

    std::unique_ptr<MapServer> server_;
};

}  // namespace

TEST_F(MapServerTest, ServesThePageAndRefusesEverythingElse) {
    struct Case {
        std::string request;
        std::string status;  // the answer's first line
        std::string holds;   // somewhere in the answer
    };
    const std::string close = "Connection: close\r\n\r\n";
    const std::vector<Case> cases = {
        {"GET / HTTP/1.1\r\nHost: a\r\n" + close, "HTTP/1.1 200 OK", "<canvas"},
        {"GET /?x=1 HTTP/1.1\r\nHost: a\r\n" + close, "HTTP/1.1 200 OK",
         "Content-Security-Policy: default-src 'none'"},
        {"HEAD / HTTP/1.1\r\nHost: a\r\n" + close, "HTTP/1.1 200 OK", "text/html"},
        {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\n" + close + "abc",
         "HTTP/1.1 405 Method Not Allowed", "Allow: GET, HEAD"},
        {"DELETE /events HTTP/1.1\r\nHost: a\r\n" + close, "HTTP/1.1 405 Method Not Allowed",
         "read-only"},
        {"GET /etc/passwd HTTP/1.1\r\nHost: a\r\n" + close, "HTTP/1.1 404 Not Found", ""},
        {"GET /../ HTTP/1.1\r\nHost: a\r\n" + close, "HTTP/1.1 404 Not Found", ""},
        // Not HTTP at all: closed without an answer.
        {"NONSENSE\r\n\r\n", "", ""},
        {"GET / HTTP/1.1\r\nHost: a\r\nX-Big: " + std::string(100000, 'x') + "\r\n" + close,
         "HTTP/1.1 431 Request Header Fields Too Large", ""},
    };
    for (const Case& c : cases) {
        const std::string answer = exchange(c.request);
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), c.status) << c.request.substr(0, 40);
        EXPECT_NE(answer.find(c.holds), std::string::npos) << c.request.substr(0, 40);
    }
    // Still serving after all that.
    EXPECT_NE(exchange("GET / HTTP/1.1\r\nHost: a\r\n" + close).find("200 OK"), std::string::npos);
}

TEST_F(MapServerTest, AStreamCarriesTheWorldsEventsAsTheyHappen) {
    server_->observer().arrived({2, 7, false, "Ann \"<i>\"", "welcome", 1, 2, 3});
    RawClient page(server_->port());
    page.send("GET /events HTTP/1.1\r\nHost: a\r\n\r\n");
    ASSERT_TRUE(runUntil(*server_, [&] {
        page.read();
        return page.received().find("{\"type\":\"ready\"}") != std::string::npos;
    }));
    EXPECT_NE(page.received().find("Content-Type: text/event-stream"), std::string::npos);
    EXPECT_NE(page.received().find("\"name\":\"Ann \\\"\\u003ci\\u003e\\\"\""), std::string::npos);
    EXPECT_EQ(server_->map().streamCount(), 1u);
    // Nothing to send for a while, then a said line: it comes at once.
    runUntil(
        *server_, [] { return false; }, 100);
    server_->observer().said(2, "hello");
    ASSERT_TRUE(runUntil(*server_, [&] {
        page.read();
        return page.received().find(R"({"type":"said","session":2,"text":"hello"})") !=
               std::string::npos;
    }));
}

TEST_F(MapServerTest, APageThatStopsReadingIsDroppedAndOthersCarryOn) {
    start(64 * 1024);
    RawClient stuck(server_->port(), 4096);
    RawClient reading(server_->port());
    stuck.send("GET /events HTTP/1.1\r\nHost: a\r\n\r\n");
    reading.send("GET /events HTTP/1.1\r\nHost: a\r\n\r\n");
    ASSERT_TRUE(runUntil(*server_, [&] { return server_->map().streamCount() == 2; }));
    server_->observer().arrived({2, 7, false, "Ann", "welcome", 1, 2, 3});
    // Far more than the bound and the sockets' buffers hold, in steps, while
    // the reading page keeps up.
    const std::string text(400, 'w');
    int said = 0;
    ASSERT_TRUE(runUntil(
        *server_,
        [&] {
            for (int i = 0; i < 50; ++i, ++said) {
                server_->observer().said(2, text);
            }
            reading.read();
            return server_->map().streamCount() == 1 && said > 20000;
        },
        30000));
    EXPECT_FALSE(reading.closed());
    server_->observer().said(2, "the last one");
    EXPECT_TRUE(runUntil(*server_, [&] {
        reading.read();
        return reading.received().find("the last one") != std::string::npos;
    }));
}

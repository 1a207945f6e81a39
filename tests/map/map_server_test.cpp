#include "server/map/map_server.h"

#include <gtest/gtest.h>

#include <string>

#include "map/map_client.h"

namespace {

class MapServerTest : public MapServerFixture {};

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
    start({.streamBound = 64 * 1024});
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

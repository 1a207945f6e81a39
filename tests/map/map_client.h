#pragma once

// Real-socket helpers for the map's HTTP tests: a raw client on a
// non-blocking socket, so that the test's one thread can run both the map's
// loop and its clients, and a fixture that starts a map server.

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/map/map_server.h"

inline constexpr int MAP_TEST_DEADLINE_MS = 10000;

// It connects from the loopback address given (127.0.0.0/8 holds many), so
// that a test can be clients at several addresses.
class RawClient {
  public:
    explicit RawClient(int port, int receiveBuffer = 0, std::uint32_t from = INADDR_LOOPBACK);
    // The socket alone, connected later: for a test that must make it before
    // it takes every descriptor.
    RawClient();
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    void connect(int port);
    bool connected() const { return connected_; }
    void send(const std::string& bytes);
    // Reads what has arrived; false once the server closed the connection.
    bool read();
    const std::string& received() const { return received_; }
    bool closed() const { return closed_; }

  private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string received_;
};

// Runs the map's loop as the world server would, until the condition holds;
// `readyTurns`, when given, counts the turns in which the map's descriptor
// was ready.
bool runUntil(MapServer& server, const std::function<bool()>& done,
              int deadlineMs = MAP_TEST_DEADLINE_MS, int* readyTurns = nullptr);

// What this process writes on standard error (the world's log) while it lives.
class CapturedLog {
  public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;
    std::string text() const;
    int lines() const;

  private:
    int saved_ = -1;
    std::string path_;
};

class MapServerFixture : public ::testing::Test {
  protected:
    void SetUp() override { start({}); }
    void start(MapLimits limits);
    // Sends one request and returns the whole answer (up to the close, or
    // what has come when the deadline passed).
    std::string exchange(const std::string& request, std::uint32_t from = INADDR_LOOPBACK);
    // The page from that address, whole, and whether it came.
    bool loadsPage(std::uint32_t from);
    // Runs the loop until the client's stream has told every avatar present.
    bool streamIsReady(RawClient& page);

    std::unique_ptr<MapServer> server_;
};

#pragma once

// The world server's loop: one poller for every descriptor, the listening
// socket, a wake-up for stop requests, and a guest service that shares the
// loop (the live map). Each turn waits for the first of input, room to
// write, a deadline of the connections or the guest's time, then hands
// every ready connection to the connections and ends their turn.

#include <atomic>
#include <string>
#include <vector>

#include "platform/poller.h"
#include "server/server_config.h"
#include "server/world_observer.h"

class Connections;

class ServerLoop {
  public:
    explicit ServerLoop(const ServerConfig& config);
    ~ServerLoop();
    ServerLoop(const ServerLoop&) = delete;
    ServerLoop& operator=(const ServerLoop&) = delete;

    // The poller that every connection's socket is watched by.
    Poller& poller() { return poller_; }
    // Binds and listens; false with a message when that fails.
    bool start(std::string& error);
    int port() const { return port_; }
    void stop();
    bool stopRequested() const { return stopRequested_; }
    void setGuest(LoopGuest* guest, Connections& connections);

    // One turn; false when waiting failed.
    bool serveOnce(int timeoutMs, Connections& connections);

  private:
    void acceptAll(Connections& connections);

    const ServerConfig& config_;
    Poller poller_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int spareFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopRequested_{false};
    LoopGuest* guest_ = nullptr;
    std::vector<Poller::Event> ready_;
};

#pragma once

// A TCP proxy on 127.0.0.1 for tests of a dead path: it forwards bytes both
// ways between each client and a target port, in a thread of its own, and
// on command stops moving anything while closing nothing, as a pulled cable,
// a dead host or a dropped NAT entry does. New connections then wait in the
// listen backlog (connected, as far as the client can tell) until thawed.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class FreezingProxy {
  public:
    explicit FreezingProxy(int targetPort);
    ~FreezingProxy();
    FreezingProxy(const FreezingProxy&) = delete;
    FreezingProxy& operator=(const FreezingProxy&) = delete;

    // The port to connect to; 0 when the proxy could not start.
    int port() const { return port_; }
    void freeze();
    void thaw();
    // Connections accepted so far.
    int accepted() const { return accepted_; }

  private:
    struct Pair {
        int client = -1;
        int upstream = -1;
        std::string toUpstream;
        std::string toClient;
    };

    void run();
    void wake();
    void acceptOne();
    // Moves what it can; false once either side has ended or failed.
    bool serve(Pair& pair, bool clientReadable, bool upstreamReadable);

    int targetPort_;
    int listener_ = -1;
    int port_ = 0;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> frozen_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::vector<Pair> pairs_;  // the thread's own
    std::thread thread_;
};

#include "server/server_loop.h"

#include <algorithm>

#include "platform/net.h"
#include "server/connections.h"
#include "server/server_log.h"

namespace {

// Connections taken from the listener in one turn; the kernel's backlog
// holds the rest for the next.
constexpr int ACCEPTS_PER_TURN = 1024;
// TCP keepalive of every connection: probes after a minute of silence, ten
// seconds apart, and a peer that answers none of three is gone (about 90 s).
// A client that keeps the heartbeat is never that silent.
constexpr int KEEPALIVE_IDLE_S = 60;
constexpr int KEEPALIVE_INTERVAL_S = 10;
constexpr int KEEPALIVE_PROBES = 3;

// "127.0.0.5:40312" -> 127.0.0.5; 0 when it does not read.
std::uint32_t addressOf(const std::string& peer) {
    std::uint32_t address = 0;
    return net::parseIpv4(peer.substr(0, peer.rfind(':')), address) ? address : 0;
}

}  // namespace

ServerLoop::ServerLoop(const ServerConfig& config) : config_(config) {}

ServerLoop::~ServerLoop() {
    for (int fd : {listenFd_, wakeRead_, wakeWrite_}) {
        net::close(fd);
    }
    net::releaseDescriptor(spareFd_);
}

bool ServerLoop::start(std::string& error) {
    std::uint32_t address = 0;
    if (!net::parseIpv4(config_.address, address)) {
        error = "not an IPv4 address: " + config_.address;
        return false;
    }
    // The wake-up: a byte on a socket pair, which every system can poll.
    int wakeEnds[2];
    if (!net::socketPair(wakeEnds)) {
        error = "socketpair: " + net::lastError();
        return false;
    }
    wakeRead_ = wakeEnds[0];
    wakeWrite_ = wakeEnds[1];
    if (!net::setNonBlocking(wakeRead_) || !net::setNonBlocking(wakeWrite_)) {
        error = "socketpair: " + net::lastError();
        return false;
    }
    if (!poller_.ok() || !poller_.add(wakeRead_, Poller::READ)) {
        error = poller_.error();
        return false;
    }
    listenFd_ = net::listenOn(address, config_.port, 512);
    if (listenFd_ < 0 || !net::setNonBlocking(listenFd_)) {
        error = "cannot listen on " + config_.address + ":" + std::to_string(config_.port) + ": " +
                net::lastError();
        return false;
    }
    port_ = net::localPort(listenFd_);
    if (!poller_.add(listenFd_, Poller::READ)) {
        error = poller_.error();
        return false;
    }
    spareFd_ = net::reserveDescriptor();
    return true;
}

void ServerLoop::stop() {
    stopRequested_ = true;
    char byte = 0;
    net::send(wakeWrite_, &byte, 1);
}

void ServerLoop::setGuest(LoopGuest* guest, Connections& connections) {
    if (guest_ != nullptr) {
        poller_.remove(guest_->fd());
    }
    guest_ = guest;
    if (guest_ != nullptr && !poller_.add(guest_->fd(), Poller::READ)) {
        connections.log("error", "the map's descriptor cannot be watched: " + poller_.error());
    }
}

bool ServerLoop::serveOnce(int timeoutMs, Connections& connections) {
    if (!poller_.ok()) {
        logLine(poller_.error());
        return false;
    }
    if (const long long deadline = connections.nextDeadline(); deadline != 0) {
        const long long untilDeadline = std::max(0LL, deadline - connections.now());
        if (timeoutMs < 0 || untilDeadline < timeoutMs) {
            timeoutMs = static_cast<int>(std::min<long long>(untilDeadline, 1 << 30));
        }
    }
    if (guest_ != nullptr) {
        const int guestTimeout = guest_->timeoutMs();
        if (guestTimeout >= 0 && (timeoutMs < 0 || guestTimeout < timeoutMs)) {
            timeoutMs = guestTimeout;
        }
    }
    if (!poller_.wait(timeoutMs, ready_)) {
        logLine(poller_.error());
        return false;
    }
    connections.beginTurn();
    bool guestReady = false;
    for (const Poller::Event& event : ready_) {
        if (guest_ != nullptr && event.fd == guest_->fd()) {
            guestReady = true;
        } else if (event.fd == wakeRead_) {
            char drain[64];
            while (net::receive(wakeRead_, drain, sizeof drain) > 0) {
            }
        } else if (event.fd == listenFd_) {
            acceptAll(connections);
        } else {
            connections.serveEvent(event);
        }
    }
    connections.endTurn(ready_.empty());
    if (guest_ != nullptr) {
        guest_->turn(guestReady);
    }
    return true;
}

void ServerLoop::acceptAll(Connections& connections) {
    for (int i = 0; i < ACCEPTS_PER_TURN; ++i) {
        std::string peer;
        const int fd = net::accept(listenFd_, true, &peer);
        if (fd == net::OUT_OF_DESCRIPTORS && spareFd_ >= 0) {
            // Out of descriptors: take the waiting connection with the spare
            // one and close it, so the listener does not stay readable forever.
            net::releaseDescriptor(spareFd_);
            net::close(net::accept(listenFd_));
            spareFd_ = net::reserveDescriptor();
            connections.log("refusal", "out of file descriptors: refused a connection");
            continue;
        }
        if (fd < 0) {
            return;
        }
        net::setNoDelay(fd);
        // Version 1 clients send no Ping and are exempt from the idle
        // limit: the system's probes find those whose host or path died.
        net::setKeepAlive(fd, KEEPALIVE_IDLE_S, KEEPALIVE_INTERVAL_S, KEEPALIVE_PROBES);
        connections.add(fd, addressOf(peer), "from " + peer);
    }
}

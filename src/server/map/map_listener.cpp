#include "server/map/map_listener.h"

#include <charconv>

#include "platform/net.h"

namespace {

// Enough for a burst of page loads in one turn, few enough that a flood of
// connections cannot hold the world's loop.
constexpr int ACCEPTS_PER_TURN = 64;
constexpr int LISTEN_BACKLOG = 1024;

// "127.0.0.1:5000" as its address and port.
bool splitPeer(const std::string& peer, std::uint32_t& address, int& port) {
    const std::size_t colon = peer.rfind(':');
    if (colon == std::string::npos || !net::parseIpv4(peer.substr(0, colon), address)) {
        return false;
    }
    const char* end = peer.data() + peer.size();
    return std::from_chars(peer.data() + colon + 1, end, port).ptr == end;
}

}  // namespace

MapListener::MapListener(unsigned perAddress, unsigned total, LogThrottle& log)
    : perAddressLimit_(perAddress), totalLimit_(total), log_(log) {}

MapListener::~MapListener() {
    net::releaseDescriptor(spareFd_);
    if (fd_ >= 0) {
        net::close(fd_);
    }
}

bool MapListener::start(std::uint32_t address, int port, std::string& error) {
    fd_ = net::listenOn(address, port, LISTEN_BACKLOG);
    if (fd_ < 0 || !net::setNonBlocking(fd_)) {
        error = net::lastError();
        return false;
    }
    spareFd_ = net::reserveDescriptor();
    return true;
}

int MapListener::port() const {
    return net::localPort(fd_);
}

void MapListener::acceptWaiting(long long nowMs, const Admit& admit) {
    for (int i = 0; i < ACCEPTS_PER_TURN && listening(nowMs); ++i) {
        std::string peer;
        const int fd = net::accept(fd_, true, &peer);
        if (fd == net::OUT_OF_DESCRIPTORS) {
            if (shedOne(nowMs)) {
                continue;
            }
            return;
        }
        if (fd < 0) {
            return;
        }
        std::uint32_t address = 0;
        int port = 0;
        if (!splitPeer(peer, address, port)) {
            net::close(fd);
            continue;
        }
        const std::string why = refusal(address);
        if (!why.empty()) {
            net::close(fd);
            log_.log("map refusal", "map connection from " + peer + " refused: " + why, nowMs);
            continue;
        }
        admit(fd, address, port);
    }
}

bool MapListener::shedOne(long long nowMs) {
    // Take the waiting connection with the spare descriptor and close it, so
    // that the listener is not left ready for a connection no one can take.
    // (The system says so even when none waits: then none is taken.)
    int taken = net::OUT_OF_DESCRIPTORS;
    if (spareFd_ >= 0) {
        net::releaseDescriptor(spareFd_);
        taken = net::accept(fd_);
        if (taken >= 0) {
            net::close(taken);
        }
        spareFd_ = net::reserveDescriptor();
    }
    if (taken >= 0) {
        log_.log("map descriptors",
                 "out of file descriptors: a map connection was closed unanswered", nowMs);
        return true;
    }
    if (taken == net::OUT_OF_DESCRIPTORS) {
        // No spare, or the system as a whole is out: stop listening a while.
        resumeAtMs_ = nowMs + MAP_ACCEPT_PAUSE_MS;
        log_.log("map descriptors", "out of file descriptors: the map stops listening for a second",
                 nowMs);
    }
    return false;
}

std::string MapListener::refusal(std::uint32_t address) const {
    if (total_ >= totalLimit_) {
        return "all " + std::to_string(totalLimit_) + " places of the map are taken";
    }
    const auto found = perAddress_.find(address);
    if (found != perAddress_.end() && found->second >= perAddressLimit_) {
        return std::to_string(perAddressLimit_) + " connections from that address are open";
    }
    return {};
}

void MapListener::opened(std::uint32_t address) {
    ++perAddress_[address];
    ++total_;
}

void MapListener::closed(std::uint32_t address) {
    auto found = perAddress_.find(address);
    if (found == perAddress_.end()) {
        return;
    }
    --total_;
    if (--found->second == 0) {
        perAddress_.erase(found);
    }
}

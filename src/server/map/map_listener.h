#pragma once

// The live map's listening socket. The map takes its connections itself and
// hands the ones it lets in to the HTTP library, so that it decides who comes
// in: at most `perAddress` connections at once from one client address and
// `total` in all. A connection beyond either is closed at once, unanswered:
// a page's event stream that meets a closed connection tries again by itself,
// where an error status would end it for good.
//
// With no descriptor left in the process, a waiting connection is taken with
// a descriptor kept in reserve and closed, so that the listener does not stay
// ready and turn the loop for nothing; when even that fails, the map stops
// listening for MAP_ACCEPT_PAUSE_MS. Refusals are logged through the map's
// throttle, never a line each.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "server/log_throttle.h"

inline constexpr long long MAP_ACCEPT_PAUSE_MS = 1000;

class MapListener {
  public:
    // Given each connection let in: its socket (non-blocking), and the
    // client's IPv4 address and port (host order).
    using Admit = std::function<void(int fd, std::uint32_t address, int port)>;

    MapListener(unsigned perAddress, unsigned total, LogThrottle& log);
    ~MapListener();
    MapListener(const MapListener&) = delete;
    MapListener& operator=(const MapListener&) = delete;

    // Listens on address:port (0 picks one); false with the reason.
    bool start(std::uint32_t address, int port, std::string& error);
    int fd() const { return fd_; }
    int port() const;

    // Takes the connections waiting (a bounded number per call) and admits
    // or closes each. After it, listening() may have become false.
    void acceptWaiting(long long nowMs, const Admit& admit);
    // Whether the socket should be watched now; false during a pause, which
    // ends by resumeAtMs().
    bool listening(long long nowMs) const { return nowMs >= resumeAtMs_; }
    long long resumeAtMs() const { return resumeAtMs_; }

    // A connection that was admitted is now counted against its address, or
    // no longer is.
    void opened(std::uint32_t address);
    void closed(std::uint32_t address);
    unsigned connections() const { return total_; }

  private:
    // Why a connection from the address is refused now; empty when it may
    // come in.
    std::string refusal(std::uint32_t address) const;
    // Out of descriptors: closes one waiting connection; false when none
    // was waiting or none could be taken.
    bool shedOne(long long nowMs);

    unsigned perAddressLimit_;
    unsigned totalLimit_;
    LogThrottle& log_;
    int fd_ = -1;
    int spareFd_ = -1;
    long long resumeAtMs_ = 0;
    unsigned total_ = 0;
    std::unordered_map<std::uint32_t, unsigned> perAddress_;
};

#pragma once

// The live map's HTTP side: serves the page at "/" and the world's events at
// "/events" (Server-Sent Events), read-only, GET and HEAD only. It runs in
// the world server's own thread: the map accepts its connections itself
// (MapListener: places per client address and in all) and hands them to the
// HTTP library, which works in external-epoll mode; one epoll descriptor of
// the map's own, watching the listener, the library's descriptor and the
// hang-ups of idle streams, is watched by the server's loop, and turn() does
// the work without blocking. A page whose stream backlog passes the bound is
// dropped; memory for it stays below the bound. A connection that moves no
// byte for `idleTimeoutS` (a request sent in part, a page that does not read)
// is closed; an idle stream is not, and its heartbeat finds dead pages. The
// map's log lines go through a throttle: a flood of refusals, drops or the
// library's complaints is one line per period with a count.

#include <cstddef>
#include <memory>
#include <string>

#include "server/map/live_map.h"
#include "server/world_observer.h"

struct MHD_Daemon;
struct MapStreams;

inline constexpr std::size_t MAP_STREAM_BOUND = 1024 * 1024;
inline constexpr long long MAP_HEARTBEAT_MS = 15000;

struct MapLimits {
    std::size_t streamBound = MAP_STREAM_BOUND;
    // A browser opens a few connections per page; a household or an office
    // behind one address has room for several pages.
    unsigned perAddress = 8;
    unsigned total = 256;
    unsigned idleTimeoutS = 5;
    long long heartbeatMs = MAP_HEARTBEAT_MS;
};

class MapServer : public LoopGuest {
  public:
    MapServer(std::vector<std::string> worlds, int hearingRange, MapLimits limits = {});
    ~MapServer() override;
    MapServer(const MapServer&) = delete;
    MapServer& operator=(const MapServer&) = delete;

    // Listens on the IPv4 address and port (0 picks one); false with a
    // message when that fails.
    bool start(const std::string& address, int port, std::string& error);
    int port() const { return port_; }
    // Told of the world's changes by the world server.
    WorldObserver& observer() { return map_; }
    LiveMap& map() { return map_; }

    int fd() const override { return epollFd_; }
    int timeoutMs() override;
    void turn(bool ready) override;

  private:
    void watchListener(long long nowMs);
    void serveReady(long long nowMs);

    MapLimits limits_;
    LiveMap map_;
    std::unique_ptr<MapStreams> streams_;
    MHD_Daemon* daemon_ = nullptr;
    int epollFd_ = -1;  // the map's own: listener, library, idle streams
    int port_ = 0;
    bool listenerWatched_ = false;
    long long nextHeartbeatMs_ = 0;
    long long libraryDueMs_ = 0;  // when the library asked to run at the latest
};

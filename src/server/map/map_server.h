#pragma once

// The live map's HTTP side: serves the page at "/" and the world's events at
// "/events" (Server-Sent Events), read-only, GET and HEAD only. It runs in
// the world server's own thread: the HTTP library works in external-epoll
// mode, its one epoll descriptor is watched by the server's loop, and turn()
// lets it do its work without blocking. A page whose stream backlog passes
// the bound is dropped; memory for it stays below the bound.

#include <cstddef>
#include <memory>
#include <string>

#include "server/map/live_map.h"
#include "server/world_observer.h"

struct MHD_Daemon;
struct MapStreams;

inline constexpr std::size_t MAP_STREAM_BOUND = 1024 * 1024;
inline constexpr unsigned MAP_MAX_CONNECTIONS = 64;
inline constexpr long long MAP_HEARTBEAT_MS = 15000;

class MapServer : public LoopGuest {
  public:
    MapServer(std::vector<std::string> worlds, int hearingRange,
              std::size_t streamBound = MAP_STREAM_BOUND);
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
    LiveMap map_;
    std::unique_ptr<MapStreams> streams_;
    MHD_Daemon* daemon_ = nullptr;
    int epollFd_ = -1;
    int port_ = 0;
    long long nextHeartbeatMs_ = 0;
    long long libraryDueMs_ = 0;  // when the library asked to run at the latest
};

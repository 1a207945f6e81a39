// The live map's HTTP side in a build without the HTTP library (the Windows
// build): the map is kept as ever, but start() refuses with a message that
// says why, so that --http fails at start-up instead of serving nothing.
#include "server/map/map_server.h"

struct MapStreams {};

MapServer::MapServer(std::vector<std::string> worlds, int hearingRange, MapLimits limits)
    : limits_(limits), map_(std::move(worlds), hearingRange, limits.streamBound) {}

MapServer::~MapServer() = default;

bool MapServer::start(const std::string&, int, std::string& error) {
    error = "this build of the world has no live map (it was built without libmicrohttpd)";
    return false;
}

int MapServer::timeoutMs() { return -1; }

void MapServer::turn(bool) {}

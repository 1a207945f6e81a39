// tintbeacon-world: a small world server for the bot and its avatars.

#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"
#include "server/map/map_server.h"
#include "server/server_config.h"
#include "server/server_log.h"
#include "server/world_server.h"
#include "tintbeacon_version.h"

namespace {

WorldServer* running = nullptr;

void onStop() {
    if (running != nullptr) {
        running->stop();
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    CommandLineRequest request = CommandLineRequest::Run;
    std::optional<ServerConfig> config =
        parseServerOptions(std::vector<std::string>(argv + 1, argv + argc), error, request);
    if (!config) {
        std::fprintf(stderr, "tintbeacon-world: %s\nTry 'tintbeacon-world --help'.\n",
                     error.c_str());
        return BAD_USAGE_STATUS;
    }
    if (request == CommandLineRequest::Help) {
        std::fputs(serverUsage(), stdout);
        return 0;
    }
    if (request == CommandLineRequest::Version) {
        std::printf("tintbeacon-world %s\n", TINTBEACON_VERSION);
        return 0;
    }
    // Many avatars need many sockets.
    raiseOpenFileLimit();
    WorldServer server(*config);
    if (!server.start(error)) {
        logLine(error);
        return 1;
    }
    // The map is told of the world and shares its loop; its page is read-only.
    std::unique_ptr<MapServer> map;
    if (config->http) {
        map = std::make_unique<MapServer>(
            std::vector<std::string>(config->worlds.begin(), config->worlds.end()),
            config->hearingRange);
        if (!map->start(config->httpAddress, config->httpPort, error)) {
            logLine(error);
            return 1;
        }
        server.setObserver(&map->observer());
        server.setGuest(map.get());
    }
    running = &server;
    ignoreBrokenPipe();
    onStopRequest(onStop, false);
    std::printf("tintbeacon-world listening on %s:%d\n", config->address.c_str(), server.port());
    if (map) {
        std::printf("tintbeacon-world map on http://%s:%d/\n", config->httpAddress.c_str(),
                    map->port());
    }
    std::fflush(stdout);
    server.run();
    logLine("stopped");
    return 0;
}

#include "server/world_server.h"

#include <utility>

#include "platform/net.h"

namespace {

ServerConfig withAWorld(ServerConfig config) {
    if (config.worlds.empty()) {
        config.worlds.insert("welcome");
    }
    return config;
}

}  // namespace

WorldServer::WorldServer(ServerConfig config, Clock clock)
    : config_(withAWorld(std::move(config))),
      addresses_(config_),
      loop_(config_),
      rules_(config_, connections_, addresses_),
      connections_(config_, clock, rules_, loop_.poller(), addresses_) {}

void WorldServer::run() {
    while (!loop_.stopRequested() && serveOnce(-1)) {
    }
}

void WorldServer::adoptClient(int fd, std::uint32_t address) {
    net::setNonBlocking(fd);
    connections_.add(fd, address, "adopted");
}

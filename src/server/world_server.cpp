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
      loop_(config_),
      rules_(config_, connections_),
      connections_(config_, clock, rules_, loop_.poller()) {}

void WorldServer::run() {
    while (!loop_.stopRequested() && serveOnce(-1)) {
    }
}

void WorldServer::adoptClient(int fd, std::uint32_t address) {
    net::setNonBlocking(fd);
    connections_.log("connection", "connection " + std::to_string(fd) + " adopted");
    connections_.add(fd, address);
}

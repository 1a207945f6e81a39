// tintbeacon-world: a small world server for the bot and its avatars.

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "server/server_config.h"
#include "server/world_server.h"

namespace {

WorldServer* running = nullptr;

void onSignal(int) {
    if (running != nullptr) {
        running->stop();
    }
}

// Many avatars need many sockets: take the hard limit of open files.
void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(serverUsage(), stdout);
        return 0;
    }
    std::string error;
    std::optional<ServerConfig> config = parseServerOptions(args, error);
    if (!config) {
        std::fprintf(stderr, "tintbeacon-world: %s\n%s", error.c_str(), serverUsage());
        return 2;
    }
    raiseFileLimit();
    WorldServer server(*config);
    if (!server.start(error)) {
        std::fprintf(stderr, "tintbeacon-world: %s\n", error.c_str());
        return 1;
    }
    running = &server;
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("tintbeacon-world listening on %s:%d\n", config->address.c_str(), server.port());
    std::fflush(stdout);
    server.run();
    std::fprintf(stderr, "tintbeacon-world: stopped\n");
    return 0;
}

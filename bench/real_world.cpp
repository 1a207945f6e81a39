#include "real_world.h"

#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "child_output.h"

namespace {

constexpr int READY_TIMEOUT_MS = 10000;

// The world's --help, so that a benchmark can run an older world too: its
// options tell which limits it has to switch off, and whether it marks bots.
std::string worldHelp(const std::string& program, const std::filesystem::path& dir) {
    ChildProcess help;
    const std::string out = (dir / "world-help.txt").string();
    if (!help.start(program, {"--help"}, dir.string(), out, (dir / "world-help.err").string())) {
        return "";
    }
    awaitLine(out, "", READY_TIMEOUT_MS);  // its first line; the rest comes with it
    help.stop(SIGTERM);
    return readWholeFile(out);
}

}  // namespace

RealWorld::~RealWorld() {
    bot_.stop(SIGTERM);
    world_.stop(SIGTERM);
    if (!dir_.empty() && !keep_) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool RealWorld::start(std::size_t maxClients, bool publicLimits) {
    char pattern[] = "/tmp/tintbeacon-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return false;
    }
    dir_ = pattern;
    const std::string world = std::string(TINTBEACON_BIN_DIR) + "/tintbeacon-world";
    const std::string help = worldHelp(world, dir_);
    const bool marksBots = help.find(":bot") != std::string::npos;
    std::vector<std::string> args = {
        "--listen",      "127.0.0.1:0",
        "--max-clients", std::to_string(maxClients),
        "--citizen",     marksBots ? "1:bench:bot" : "1:bench",
        "--citizen",     std::to_string(SPEAKER_CITIZEN) + ":" + SPEAKER_PASSWORD};
    if (!publicLimits && help.find("--chat-rate") != std::string::npos) {
        args.insert(args.end(), {"--chat-rate", "0"});
    }
    if (!publicLimits && help.find("--exempt") != std::string::npos) {
        args.insert(args.end(), {"--exempt", "127.0.0.1"});
    }
    // The places kept for citizens come out of --max-clients: 16 of them,
    // so that maxClients - 16 tourists fit, as asked.
    if (!publicLimits && help.find("--reserved-places") != std::string::npos) {
        args.insert(args.end(), {"--reserved-places", "16"});
    }
    if (!world_.start(world, args, dir_.string(), (dir_ / "world.out").string(),
                      (dir_ / "world.log").string())) {
        std::fprintf(stderr, "the world server did not start\n");
        return false;
    }
    port_ = awaitListeningPort(dir_ / "world.out", READY_TIMEOUT_MS);
    if (port_ == 0) {
        std::fprintf(stderr, "the world server did not get ready\n");
        return false;
    }
    std::ofstream(dir_ / "address.txt") << "127.0.0.1\n" << port_ << "\n";
    std::ofstream(dir_ / "home.txt") << "welcome\n0N 0W\n";
    std::ofstream(dir_ / "account.txt") << "1\nbench\nyes\n0.4\n";
    if (!bot_.start(std::string(TINTBEACON_BIN_DIR) + "/tintbeacon", {}, dir_.string(),
                    (dir_ / "bot.out").string(), (dir_ / "bot.err").string(), {"LC_ALL=C.UTF-8"})) {
        std::fprintf(stderr, "the bot did not start\n");
        return false;
    }
    return true;
}

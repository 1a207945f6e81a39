#pragma once

// The real programs for the scale and throughput benchmarks: the world server
// `tintbeacon-world` and the bot `tintbeacon`, each a child process of the
// benchmark, in a scratch directory removed afterwards. The benchmark's own
// avatars (an AvatarFleet) join over TCP like anyone else.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "e2e/child_process.h"
#include "process_figures.h"

class RealWorld {
  public:
    // The bot logs in as citizen 1, speakers that need to broadcast as
    // citizen SPEAKER_CITIZEN with SPEAKER_PASSWORD.
    static constexpr int SPEAKER_CITIZEN = 2;
    static constexpr const char* SPEAKER_PASSWORD = "speak";

    RealWorld() = default;
    ~RealWorld();
    RealWorld(const RealWorld&) = delete;
    RealWorld& operator=(const RealWorld&) = delete;

    // Starts the world on a free port, taking maxClients connections and with
    // its flood limit and its limits per address switched off (every avatar
    // of a benchmark comes from 127.0.0.1) and 16 of them kept for citizens
    // (tourists may take the rest), then the bot at 0N 0W. With
    // `publicLimits` the world keeps every limit a public world has. False
    // with a message on standard error when either fails to start.
    bool start(std::size_t maxClients, bool publicLimits = false);
    // The scratch directory: the bot's files (chat.txt), the logs
    // (world.log, bot.err).
    const std::filesystem::path& dir() const { return dir_; }
    // Leaves the scratch directory in place when done, for a look at it.
    void keep() { keep_ = true; }

    int port() const { return port_; }
    pid_t worldPid() const { return world_.pid(); }
    pid_t botPid() const { return bot_.pid(); }

  private:
    std::filesystem::path dir_;
    ChildProcess world_;
    ChildProcess bot_;
    int port_ = 0;
    bool keep_ = false;
};

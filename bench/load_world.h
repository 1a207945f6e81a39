#pragma once

// The scene of the relay load tools: a world server in this process, the real
// bot as a child process at 0N 0W, a speaker beside it and many listeners far
// away, every one a real TCP connection.

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/child_process.h"
#include "sdk/world_connection.h"
#include "server/world_server.h"

class LoadWorld {
  public:
    LoadWorld() = default;
    ~LoadWorld();
    LoadWorld(const LoadWorld&) = delete;
    LoadWorld& operator=(const LoadWorld&) = delete;

    // Starts the world (with the given configuration; its port, the bot's
    // citizen, no chat limit and no log are set here), the bot, the speaker and the listeners, and
    // waits until a line reaches every listener. False with a message on
    // standard error when any of it fails.
    bool start(int listeners, ServerConfig config = ServerConfig{});

    // The speaker says the text (queued and flushed at once).
    void say(const std::string& text);
    // Reads every listener until each has a console message with the text,
    // or the timeout passes; false then.
    bool awaitRelay(const std::string& text, int timeoutMs);

    // The bot's CPU time so far (user and system), in nanoseconds.
    long long botCpuNs() const;
    pid_t botPid() const { return bot_.pid(); }

    std::vector<std::unique_ptr<WorldConnection>>& listeners() { return listeners_; }

  private:
    std::unique_ptr<WorldServer> server_;
    std::thread serverThread_;
    std::filesystem::path dir_;
    ChildProcess bot_;
    WorldConnection speaker_;
    std::vector<std::unique_ptr<WorldConnection>> listeners_;
};

// The relayed form of a said line, as listeners receive it.
inline std::string relayedText(const std::string& said) { return "Speaker:\t" + said; }

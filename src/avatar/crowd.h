#pragma once

// A simulated crowd: many avatars in one process, spread over the world so
// that many stand beyond relay distance of each other, chatting and moving at
// a set rate, some of them using the bot's commands. It measures what comes
// back: relayed lines per avatar and the time from a said line to its
// relayed copies.

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>

struct CrowdSettings {
    std::string address = "127.0.0.1";
    int port = 6670;
    std::string world = "welcome";
    int avatars = 20;
    double linesPerSecond = 5.0;    // said lines, all avatars together
    double movesPerSecond = 1.0;    // all avatars together
    double seconds = 10.0;          // how long to chat
    double drainSeconds = 2.0;      // how long to keep listening afterwards
    // The first `commanders` avatars log in as citizens citizenBase, +1, ...
    // with commanderPassword; that share of all said lines are the bot's
    // commands, each from one of them.
    int commanders = 0;
    int citizenBase = 100;
    std::string commanderPassword = "crowd";
    double commandShare = 0.1;
    std::uint32_t seed = 1;
};

struct CrowdReport {
    int joined = 0;
    int failedJoins = 0;
    long long linesSaid = 0;
    long long commandsSaid = 0;
    long long relayedReceived = 0;
    long long relayedMin = 0, relayedMedian = 0, relayedMax = 0;  // per avatar
    long long latencySamples = 0;
    double latencyMedianMs = 0, latencyP99Ms = 0;
    long long otherConsoleMessages = 0;  // command replies and the like
    bool connectionLost = false;
    double secondsChatted = 0;  // settings.seconds, or less when stopped early
    bool stopped = false;       // asked to stop before its time
};

// Runs the crowd and returns what it measured; progress goes to `log`. When
// `stop` is given and becomes true (a signal handler may set it), the crowd
// stops joining and chatting and reports what it measured so far.
CrowdReport runCrowd(const CrowdSettings& settings, std::ostream& log,
                     const std::atomic<bool>* stop = nullptr);

// The report as readable lines.
void printCrowdReport(const CrowdReport& report, const CrowdSettings& settings, std::ostream& out);

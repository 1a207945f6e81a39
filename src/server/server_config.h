#pragma once

// The world server's settings and their command-line options.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/command_line.h"

// An allowance of events: `rate` a second on average after a `burst` at
// once. A rate of 0 switches it off.
struct Allowance {
    double rate = 0;
    int burst = 1;
};

struct ServerConfig {
    std::string address = "127.0.0.1";
    int port = 6670;                      // 0 picks a free port, printed in the ready line
    std::set<std::string> worlds;         // empty means {"welcome"}
    std::map<int, std::string> citizens;  // citizen number -> privilege password
    std::set<int> bots;                   // the citizens that may log in as bots
    int hearingRange = 20000;             // on each axis, inclusive
    std::size_t maxClients = 4096;
    // Places that tourists may not take, so that a bot or a citizen always
    // gets in; -1: a sixteenth of maxClients, at least 1.
    int reservedPlaces = -1;
    std::size_t maxOutputBytes = 4 * 1024 * 1024;  // per client, then it is dropped
    // Across all clients. Past half of it the world stops reading the
    // clients whose messages fill it (bots excepted) until it is down to a
    // quarter; past all of it the client that has taken nothing for the
    // longest is dropped.
    std::size_t maxTotalOutputBytes = 256 * 1024 * 1024;
    // A client whose socket takes nothing of its waiting output this long
    // is dropped.
    int writeTimeoutMs = 10000;
    // A connection not logged in this long after it was accepted is closed.
    int loginTimeoutMs = 10000;
    // A connection that keeps the heartbeat (protocol version 2) and has
    // sent nothing this long is closed, so that an avatar whose host or path
    // died leaves; 0 switches the limit off. Clients speak at least every
    // wire::QUIET_BEFORE_PING_MS, so a shorter limit would close healthy ones.
    int idleTimeoutMs = 30000;
    // Said, whispered and broadcast lines per session: `chatRate` a second on
    // average, `chatBurst` at once. A rate of 0 switches the limit off.
    double chatRate = 10;
    int chatBurst = 20;
    Allowance moves{20, 40};    // State messages per session
    Allowance entries{0.2, 3};  // Enter messages per session
    // One client address may say, move and enter as much as this many
    // sessions together; 0 switches the addresses' allowances off.
    int addressShare = 4;
    Allowance connects{2, 16};            // new connections per address
    std::size_t addressConnections = 16;  // connections at once per address; 0: no limit
    int loginAttempts = 3;                // refused logins before a connection is closed
    // Addresses (IPv4, host order) that no allowance per address applies to.
    std::set<std::uint32_t> exempt;
    // Input read from one client in one turn before the others are served;
    // the rest is read in the next turns. No option: tests set it small.
    std::size_t readBudgetBytes = 1024 * 1024;
    // Connections, logins, drops and errors go to standard error unless off.
    bool logToStderr = true;
    // The live map's HTTP address (--http), off unless given.
    bool http = false;
    std::string httpAddress = "127.0.0.1";
    int httpPort = 0;

    // Places tourists may not take, `reservedPlaces` worked out.
    std::size_t reserved() const;
};

// Parses the options (argv[1..]); on a fault, std::nullopt and a message.
// `request` tells whether --help or --version was asked for instead of a run
// (then the configuration is not checked).
std::optional<ServerConfig> parseServerOptions(const std::vector<std::string>& args,
                                               std::string& error, CommandLineRequest& request);
std::optional<ServerConfig> parseServerOptions(const std::vector<std::string>& args,
                                               std::string& error);

// The usage text printed for --help and after a bad option.
const char* serverUsage();

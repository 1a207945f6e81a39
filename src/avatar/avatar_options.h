#pragma once

// Command-line options of tintbeacon-avatar.

#include <optional>
#include <string>
#include <vector>

#include "avatar/avatar_client.h"
#include "avatar/crowd.h"

struct AvatarOptions {
    bool crowd = false;    // run a simulated crowd instead of one avatar
    bool help = false;     // --help: print the usage, run nothing
    bool version = false;  // --version: print the version, run nothing
    ClientSettings client;
    CrowdSettings crowdSettings;
};

// Parses argv[1..] ("--option value" or "--option=value", in any order).
// Names and passwords are taken as typed (UTF-8 on a UTF-8 terminal) and
// converted to Windows-1251. On a fault: nothing, and `error` says what is
// wrong; --help or --version anywhere wins over faults.
std::optional<AvatarOptions> parseAvatarOptions(const std::vector<std::string>& args,
                                                TerminalEncoding encoding, std::string& error);

const char* avatarUsage();

#pragma once

// Command-line options of the world server and the avatar client, read with
// the C library's getopt_long: "--name value" and "--name=value", in any
// order, with --help (or -h) and --version built in.

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One long option. `apply` receives the value (empty for an option that takes
// none) and returns false when the value is not acceptable.
struct OptionEntry {
    const char* name;  // without the leading "--"
    bool takesValue;
    const char* expected;  // what a value must be, for the error message ("a number from 1 to 9")
    std::function<bool(const std::string& value)> apply;
};

enum class CommandLineRequest { Run, Help, Version };

// Applies args (argv[1..]) to the entries in their order on the line. --help or
// --version anywhere wins over every other option and over every fault in
// them. Otherwise Run, or nothing on the first fault with `error` saying what
// is wrong: an unknown option, a missing value, a value not acceptable, a
// value given to an option that takes none, a stray argument.
//
// getopt_long keeps its state in globals: not for use from several threads.
std::optional<CommandLineRequest> parseCommandLine(const std::vector<std::string>& args,
                                                   const std::vector<OptionEntry>& entries,
                                                   std::string& error);

// Exit status for a command line that cannot be used.
inline constexpr int BAD_USAGE_STATUS = 2;

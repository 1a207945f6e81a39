#pragma once

// The bot's command line. The bot is configured by the files of its working
// directory and its start-up dialogue, never by arguments; it answers only
// --help and --version, and touches no file for either.

#include <string>
#include <vector>

#include "console/operator_console.h"

enum class BotRequest { Run, Help, Version, BadUsage };

// Exit statuses of the bot beyond 0, 1 (no instance) and 2 (input ended).
inline constexpr int BOT_BAD_USAGE_STATUS = 64;
inline constexpr int BOT_ALREADY_RUNNING_STATUS = 3;

// What the arguments (argv[1..], in the given encoding) ask for: Run when
// there are none; Help for --help or -h, Version for --version, alone;
// BadUsage for anything else, after saying so on standard error.
BotRequest readBotCommandLine(const std::vector<std::string>& args,
                              TerminalEncoding argumentEncoding);

// The help and the version, on standard output.
void printBotHelp();
void printBotVersion();

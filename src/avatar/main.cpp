// tintbeacon-avatar: join a world as an avatar, from a terminal or a script,
// or run a simulated crowd.

#include <unistd.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "avatar/avatar_options.h"
#include "cli/command_line.h"
#include "console/operator_console.h"
#include "platform/process.h"
#include "platform/program_arguments.h"
#include "platform/standard_input.h"
#include "tintbeacon_version.h"

namespace {

std::atomic<bool> crowdStop{false};

void onCrowdStop() { crowdStop = true; }

}  // namespace

int main(int argc, char** argv) {
    ignoreBrokenPipe();
    const TerminalEncoding encoding = terminalEncodingFromEnvironment();
    std::string error;
    // Names and worlds on the command line are turned into Windows-1251 from
    // the encoding the arguments come in.
    const TerminalEncoding argumentEncoding =
        PROGRAM_ARGUMENTS_ARE_UTF8 ? TerminalEncoding::Utf8 : encoding;
    auto options = parseAvatarOptions(programArguments(argc, argv), argumentEncoding, error);
    if (!options) {
        std::cerr << "tintbeacon-avatar: " << error << "\nTry 'tintbeacon-avatar --help'.\n";
        return BAD_USAGE_STATUS;
    }
    if (options->help) {
        std::cout << avatarUsage();
        return 0;
    }
    if (options->version) {
        std::cout << "tintbeacon-avatar " << TINTBEACON_VERSION << '\n';
        return 0;
    }
    if (options->crowd) {
        // Asked to stop (SIGINT, SIGTERM, SIGHUP), the crowd ends its run
        // early, with its report. It holds a socket per avatar.
        onStopRequest(onCrowdStop, true);
        raiseOpenFileLimit();
        const CrowdReport report = runCrowd(options->crowdSettings, std::cerr, &crowdStop);
        printCrowdReport(report, options->crowdSettings, std::cout);
        return report.joined > 0 && !report.connectionLost ? 0 : 1;
    }
    options->client.style.encoding = encoding;
    options->client.style.colored = !options->client.scripted && ::isatty(STDOUT_FILENO) != 0;
    options->client.lineEditing =
        !options->client.scripted && ::isatty(STDIN_FILENO) != 0 && ::isatty(STDOUT_FILENO) != 0;
    const int input = options->client.lineEditing ? STDIN_FILENO : openStandardInput();
    if (input < 0) {
        std::cerr << "tintbeacon-avatar: standard input cannot be read\n";
        return 1;
    }
    return runAvatarClient(options->client, input, std::cout);
}

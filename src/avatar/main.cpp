// tintbeacon-avatar: join a world as an avatar, from a terminal or a script,
// or run a simulated crowd.

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "avatar/avatar_options.h"
#include "cli/command_line.h"
#include "console/operator_console.h"
#include "tintbeacon_version.h"

namespace {

std::atomic<bool> crowdStop{false};

void onCrowdSignal(int) { crowdStop = true; }

// SIGINT, SIGTERM and SIGHUP end the crowd's run early, with its report.
void stopCrowdOnSignals() {
    struct sigaction action {};
    action.sa_handler = onCrowdSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

// A crowd holds a socket per avatar: take the hard limit of open files.
void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const TerminalEncoding encoding = terminalEncodingFromEnvironment();
    std::string error;
    auto options = parseAvatarOptions(std::vector<std::string>(argv + 1, argv + argc), encoding, error);
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
        stopCrowdOnSignals();
        raiseFileLimit();
        const CrowdReport report = runCrowd(options->crowdSettings, std::cerr, &crowdStop);
        printCrowdReport(report, options->crowdSettings, std::cout);
        return report.joined > 0 && !report.connectionLost ? 0 : 1;
    }
    options->client.style.encoding = encoding;
    options->client.style.colored = !options->client.scripted && ::isatty(STDOUT_FILENO) != 0;
    options->client.lineEditing =
        !options->client.scripted && ::isatty(STDIN_FILENO) != 0 && ::isatty(STDOUT_FILENO) != 0;
    return runAvatarClient(options->client, STDIN_FILENO, std::cout);
}

// The real bot's CPU time per relayed line, network backend included: a world
// server in this process, the bot as a child process, a speaker beside it and
// N distant listeners over TCP. Lines are said one at a time, each after the
// last reached every listener; the bot's CPU (the scheduler's nanosecond
// account) over the run, less what it uses idle over the same time, is divided
// by the lines.
//
//   tintbeacon_bot_line_cost [RECEIVERS...] [--lines N]   (defaults 10 1000, 500 lines)

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "load_world.h"
#include "protocol/monotonic_clock.h"

namespace {

struct Figure {
    int receivers = 0;
    int lines = 0;
    double microsPerLine = 0;
    double idleMicrosPerSecond = 0;
};

bool measure(int receivers, int lines, Figure& figure) {
    LoadWorld world;
    if (!world.start(receivers)) {
        return false;
    }
    const long long startNs = world.botCpuNs();
    const long long startMs = nowMs();
    for (int i = 0; i < lines; ++i) {
        const std::string text = "a line of ordinary length for the relay, number " +
                                 std::to_string(i);
        world.say(text);
        if (!world.awaitRelay(relayedText(text), 30000)) {
            std::fprintf(stderr, "line %d did not reach every listener\n", i);
            return false;
        }
    }
    const long long busyNs = world.botCpuNs() - startNs;
    const long long elapsedMs = nowMs() - startMs;
    // The same time with nothing said: what the bot costs while it waits.
    const long long idleStartNs = world.botCpuNs();
    ::usleep(static_cast<useconds_t>(std::min<long long>(elapsedMs, 2000) * 1000));
    const double idleNsPerMs =
        static_cast<double>(world.botCpuNs() - idleStartNs) /
        static_cast<double>(std::max<long long>(1, std::min<long long>(elapsedMs, 2000)));
    figure.receivers = receivers;
    figure.lines = lines;
    figure.microsPerLine =
        (static_cast<double>(busyNs) - idleNsPerMs * static_cast<double>(elapsedMs)) / lines / 1000.0;
    figure.idleMicrosPerSecond = idleNsPerMs;  // ns per ms is µs per s
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> receivers;
    int lines = 500;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lines") == 0 && i + 1 < argc) {
            lines = std::atoi(argv[++i]);
        } else {
            receivers.push_back(std::atoi(argv[i]));
        }
    }
    if (receivers.empty()) {
        receivers = {10, 1000};
    }
    std::vector<Figure> figures;
    for (int count : receivers) {
        Figure figure;
        if (!measure(count, lines, figure)) {
            return 1;
        }
        figures.push_back(figure);
    }
    std::printf("| receivers | lines | bot CPU per relayed line (µs) | bot CPU idle (µs/s) |\n");
    std::printf("|---|---|---|---|\n");
    for (const Figure& f : figures) {
        std::printf("| %d | %d | %.1f | %.1f |\n", f.receivers, f.lines, f.microsPerLine,
                    f.idleMicrosPerSecond);
    }
    std::printf("\nrepeat: tintbeacon_bot_line_cost");
    for (int count : receivers) {
        std::printf(" %d", count);
    }
    std::printf(" --lines %d\n", lines);
    return 0;
}

// The real bot's CPU time per relayed line, network backend included: a world
// server in this process, the bot as a child process, a speaker beside it and
// N distant listeners over TCP. Lines are said one at a time, each after the
// last reached every listener; the bot's CPU (the scheduler's nanosecond
// account) over the run, less what it uses idle over the same time, is divided
// by the lines. A CPU cost, not a time: it has no floor.
//
//   tintbeacon_bot_line_cost [RECEIVERS...] [--lines N] [--runs N] [--strict] [--settle S]
//   (defaults 10 1000, 500 lines, 3 runs)

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_report.h"
#include "load_world.h"
#include "protocol/monotonic_clock.h"

namespace {

struct Figure {
    double load = 0;
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
    figure.microsPerLine =
        (static_cast<double>(busyNs) - idleNsPerMs * static_cast<double>(elapsedMs)) / lines / 1000.0;
    figure.idleMicrosPerSecond = idleNsPerMs;  // ns per ms is µs per s
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    std::string error;
    std::vector<int> receivers;
    int lines = 500;
    bool usage = !bench::takeOptions(argc, argv, options, error);
    for (int i = 1; i < argc && !usage; ++i) {
        if (std::strcmp(argv[i], "--lines") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            lines = std::atoi(argv[++i]);
        } else if (std::atoi(argv[i]) > 0) {
            receivers.push_back(std::atoi(argv[i]));
        } else {
            usage = true;
        }
    }
    if (usage) {
        return bench::usage(error, "tintbeacon_bot_line_cost [RECEIVERS...] [--lines N]");
    }
    if (receivers.empty()) {
        receivers = {10, 1000};
    }
    bench::Report report(argv[0], options);
    std::vector<std::vector<Figure>> figures(receivers.size());
    const int status = report.measure(receivers.size(), [&](int, std::size_t i, double load) {
        Figure figure;
        figure.load = load;
        figures[i].push_back(figure);
        return measure(receivers[i], lines, figures[i].back());
    });
    if (status != 0) {
        return status;
    }
    bench::Table table(
        {"receivers", "lines", "bot CPU per relayed line µs", "bot CPU idle µs/s", "load"});
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        std::vector<double> perLine, idle, loads;
        for (const Figure& f : figures[i]) {
            perLine.push_back(f.microsPerLine);
            idle.push_back(f.idleMicrosPerSecond);
            loads.push_back(f.load);
        }
        table.add({std::to_string(receivers[i]), std::to_string(lines),
                   bench::formatSpread(perLine, 1), bench::formatSpread(idle, 1),
                   report.loadCell(loads)});
    }
    table.print();
    std::vector<std::string> arguments;
    for (int count : receivers) {
        arguments.push_back(std::to_string(count));
    }
    arguments.insert(arguments.end(), {"--lines", std::to_string(lines)});
    report.finish(arguments);
    return 0;
}

// Load tool: the time from one said line to its relay reaching every one of
// many distant avatars, beside its floor. Runs the world server in this
// process, the real bot as a child process, a speaker next to the bot and N
// listeners far away; then, in the same run once the world is gone, the
// same console frame written raw to N receivers by `tintbeacon_raw_fanout`
// as many times. Each run's figure is the median of its lines.
//
//   tintbeacon_relay_load [LISTENERS] [LINES] [--runs N] [--strict] [--settle S]
//   (defaults 1000 and 20, 3 runs)

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_report.h"
#include "fanout_floor.h"
#include "load_world.h"

namespace {

constexpr int TIMEOUT_MS = 30000;

struct Run {
    double relayMs = 0;  // medians of the lines
    double floorMs = 0;
};

double median(const std::vector<double>& values) {
    return bench::spreadOf(values).value_or(bench::Spread{}).median;
}

bool measure(int listeners, int lines, Run& run) {
    {
        LoadWorld world;
        if (!world.start(listeners)) {
            return false;
        }
        std::vector<double> millis;
        for (int i = 0; i < lines; ++i) {
            const std::string text = "line " + std::to_string(i);
            const auto start = std::chrono::steady_clock::now();
            world.say(text);
            if (!world.awaitRelay(relayedText(text), TIMEOUT_MS)) {
                std::fprintf(stderr, "line %d did not reach every listener\n", i);
                return false;
            }
            millis.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        run.relayMs = median(millis);
    }
    FanoutFloor floor;
    if (!floor.start(static_cast<std::size_t>(listeners), {"--console", relayedText("line 0")})) {
        return false;
    }
    std::vector<double> millis;
    for (int i = 0; i < lines; ++i) {
        millis.push_back(floor.fanOutMs(0, TIMEOUT_MS));
        if (millis.back() < 0) {
            std::fprintf(stderr, "a raw fan-out did not reach every receiver\n");
            return false;
        }
    }
    run.floorMs = median(millis);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    std::string error;
    if (!bench::takeOptions(argc, argv, options, error) || argc > 3 ||
        (argc > 1 && std::atoi(argv[1]) <= 0) || (argc > 2 && std::atoi(argv[2]) <= 0)) {
        return bench::usage(error, "tintbeacon_relay_load [LISTENERS] [LINES]");
    }
    const int listeners = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 20;
    bench::Report report(argv[0], options);
    std::vector<double> relay, floor, loads;
    const int status = report.measure(1, [&](int, std::size_t, double load) {
        Run run;
        if (!measure(listeners, lines, run)) {
            return false;
        }
        relay.push_back(run.relayMs);
        floor.push_back(run.floorMs);
        loads.push_back(load);
        return true;
    });
    if (status != 0) {
        return status;
    }
    bench::Table table({"listeners", "lines a run", "relay to the last ms", "raw fan-out floor ms",
                        "relay / floor", "load"});
    table.add({std::to_string(listeners), std::to_string(lines), bench::formatSpread(relay, 2),
               bench::formatSpread(floor, 2), bench::formatSpread(bench::ratios(relay, floor), 2),
               report.loadCell(loads)});
    table.print();
    std::printf("\neach run's figure: the median of its lines\n");
    report.finish({std::to_string(listeners), std::to_string(lines)});
    return 0;
}

// Throughput benchmark: the highest rate of said lines that the real bot
// relays to many distant avatars with no line lost and a p99 latency under
// 200 ms. The world server `tintbeacon-world` and the bot run as child
// processes; this process holds the speakers beside the bot and the
// listeners beyond relay distance (the crowd tool's AvatarFleet). Each step
// says lines at one rate for a while, spread over the speakers, then waits
// for the last copies; every relayed copy is timed from its line's sending.
// Steps go up until one fails. Then, in the same run once the world is gone,
// the floor of each step: the relayed console frame written raw at the same
// rate to as many receivers by `tintbeacon_raw_fanout`, timed the same way.
//
//   tintbeacon_relay_throughput [--listeners N] [--speakers K] [--seconds S]
//                               [--rates R1,R2,...] [--all] [--runs N] [--strict] [--settle S]
//   (defaults 1000 listeners, 1 speaker, 20 s, 500,1000,2000,3000,4000, 3 runs)

#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "avatar/avatar_fleet.h"
#include "bench_report.h"
#include "fanout_floor.h"
#include "latency_histogram.h"
#include "protocol/monotonic_clock.h"
#include "real_world.h"
#include "sdk/reason_codes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double P99_LIMIT_MS = 200.0;
// How long a step waits for the last copies once its lines are said.
constexpr int DRAIN_MS = 5000;

struct Settings {
    int listeners = 1000;
    int speakers = 1;
    double seconds = 20;
    std::vector<int> rates = {500, 1000, 2000, 3000, 4000};
    bool all = false;
};

// Counts and times the relayed copies of the lines of the current step. A
// relayed text is "SpeakerK:\tNUMBER"; the number indexes the step's lines.
class CopyCounter : public FleetObserver {
  public:
    void startStep(long long firstLine, std::size_t lines) {
        firstLine_ = firstLine;
        sentAt_.assign(lines, Clock::time_point{});
        copies_ = 0;
        latency_ = LatencyHistogram{};
    }
    void sent(long long line) {
        sentAt_[static_cast<std::size_t>(line - firstLine_)] = Clock::now();
    }
    long long copies() const { return copies_; }
    const LatencyHistogram& latency() const { return latency_; }
    bool lost() const { return lost_; }

    void onConsole(std::size_t, std::string_view text) override {
        const std::size_t tab = text.find('\t');
        long long line = 0;
        if (tab == std::string_view::npos ||
            std::from_chars(text.data() + tab + 1, text.data() + text.size(), line).ec !=
                std::errc{} ||
            line < firstLine_ || line - firstLine_ >= static_cast<long long>(sentAt_.size())) {
            return;  // the warm-up, or a late copy of an earlier step
        }
        const Clock::time_point said = sentAt_[static_cast<std::size_t>(line - firstLine_)];
        ++copies_;
        latency_.add(std::chrono::duration<double, std::milli>(Clock::now() - said).count());
    }
    void onLost(std::size_t) override { lost_ = true; }

  private:
    long long firstLine_ = 0;
    std::vector<Clock::time_point> sentAt_;
    long long copies_ = 0;
    LatencyHistogram latency_;
    bool lost_ = false;
};

struct Step {
    int rate = 0;
    long long lines = 0, expected = 0, copies = 0;
    double p50 = 0, p99 = 0;
    double worldCpu = 0, botCpu = 0, ownCpu = 0;  // share of one core over the step
    double botMicrosPerLine = 0;
    // The raw fan-out of the same frame at the same rate.
    long long floorCopies = 0;
    double floorP50 = 0, floorP99 = 0;
    bool passed() const { return copies == expected && p99 < P99_LIMIT_MS; }
};

struct Run {
    double load = 0;
    int best = 0;  // the highest passing rate
    std::vector<Step> steps;
};

bool warmUp(AvatarFleet& fleet, CopyCounter& counter, int speakers, long long& nextLine) {
    const std::size_t listeners = fleet.size() - static_cast<std::size_t>(speakers);
    for (int attempt = 0; attempt < 30; ++attempt) {
        counter.startStep(nextLine, 1);
        fleet.say(0, std::to_string(nextLine));
        counter.sent(nextLine++);
        const long long deadline = nowMs() + 2000;
        while (counter.copies() < static_cast<long long>(listeners) && nowMs() < deadline) {
            fleet.turn(10);
        }
        if (counter.copies() == static_cast<long long>(listeners)) {
            return true;
        }
    }
    return false;
}

Step runStep(AvatarFleet& fleet, CopyCounter& counter, const Settings& settings, int rate,
             long long& nextLine, const RealWorld& world) {
    Step step;
    step.rate = rate;
    step.lines = static_cast<long long>(rate * settings.seconds);
    step.expected = step.lines * settings.listeners;
    counter.startStep(nextLine, static_cast<std::size_t>(step.lines));
    const double worldCpu = cpuSeconds(world.worldPid()), botCpu = cpuSeconds(world.botPid());
    const long long botNs = onCpuNanoseconds(world.botPid());
    const double ownCpu = ownCpuSeconds();
    const auto start = Clock::now();
    long long said = 0;
    while (said < step.lines && !counter.lost()) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long long due = std::min(step.lines, static_cast<long long>(elapsed * rate) + 1);
        for (; said < due; ++said) {
            // A line the world does not take is sent nonetheless: its copies
            // never come, so it counts as lost.
            fleet.say(static_cast<std::size_t>(said % settings.speakers), std::to_string(nextLine));
            counter.sent(nextLine++);
        }
        fleet.turn(1);
    }
    const long long drainUntil = nowMs() + DRAIN_MS;
    while (counter.copies() < step.expected && nowMs() < drainUntil && !counter.lost()) {
        fleet.turn(10);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    step.worldCpu = (cpuSeconds(world.worldPid()) - worldCpu) / seconds;
    step.botCpu = (cpuSeconds(world.botPid()) - botCpu) / seconds;
    step.botMicrosPerLine = static_cast<double>(onCpuNanoseconds(world.botPid()) - botNs) /
                            static_cast<double>(step.lines) / 1000.0;
    step.ownCpu = (ownCpuSeconds() - ownCpu) / seconds;
    step.copies = counter.copies();
    step.p50 = counter.latency().percentile(50);
    step.p99 = counter.latency().percentile(99);
    return step;
}

bool parseRates(const char* text, std::vector<int>& rates) {
    rates.clear();
    for (const char* at = text; *at != '\0';) {
        char* end = nullptr;
        const long rate = std::strtol(at, &end, 10);
        if (end == at || rate <= 0 || (*end != ',' && *end != '\0')) {
            return false;
        }
        rates.push_back(static_cast<int>(rate));
        at = *end == ',' ? end + 1 : end;
    }
    return !rates.empty();
}

bool parseSettings(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--listeners") == 0 && hasValue) {
            settings.listeners = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--speakers") == 0 && hasValue) {
            settings.speakers = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
            settings.seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--rates") == 0 && hasValue) {
            if (!parseRates(argv[++i], settings.rates)) {
                return false;
            }
        } else if (std::strcmp(argv[i], "--all") == 0) {
            settings.all = true;
        } else {
            return false;
        }
    }
    return settings.listeners > 0 && settings.speakers > 0 && settings.seconds > 0;
}

// One run: the world's steps, then their floors.
bool run(const Settings& settings, Run& result) {
    {
        RealWorld world;
        if (!world.start(static_cast<std::size_t>(settings.listeners + settings.speakers) + 16)) {
            return false;
        }
        CopyCounter counter;
        AvatarFleet fleet(counter);
        std::vector<AvatarLogin> logins;
        for (int i = 0; i < settings.speakers + settings.listeners; ++i) {
            AvatarLogin login;
            login.port = world.port();
            if (i < settings.speakers) {
                login.name = "Speaker" + std::to_string(i);  // beside the bot at 0N 0W
            } else {
                login.name = "Listener" + std::to_string(i);
                login.position = Position{50000 + i % 100 * 100, 0, i / 100 * 100};
            }
            logins.push_back(login);
        }
        fleet.join(logins);
        for (std::size_t i = 0; i < fleet.size(); ++i) {
            if (!fleet.joined(i)) {
                std::fprintf(stderr, "avatar %zu could not join (reason %d)\n", i,
                             fleet.joinCode(i));
                return false;
            }
        }
        long long nextLine = 1;
        if (!warmUp(fleet, counter, settings.speakers, nextLine)) {
            std::fprintf(stderr, "the warm-up line did not reach every listener\n");
            return false;
        }
        for (int rate : settings.rates) {
            const Step step = runStep(fleet, counter, settings, rate, nextLine, world);
            std::fprintf(stderr, "%d lines/s: %lld of %lld copies, p50 %.1f ms, p99 %.1f ms, %s\n",
                         step.rate, step.copies, step.expected, step.p50, step.p99,
                         step.passed() ? "passed" : "failed");
            result.steps.push_back(step);
            if (step.passed()) {
                result.best = std::max(result.best, rate);
            } else if (!settings.all) {
                break;
            }
            if (counter.lost()) {
                std::fprintf(stderr, "an avatar lost its connection\n");
                break;
            }
        }
    }
    FanoutFloor floor;
    // A relayed line as the world sends it: "SpeakerK:\tNUMBER", the number
    // of seven digits.
    if (!floor.start(static_cast<std::size_t>(settings.listeners),
                     {"--console", "Speaker0:\t1000000"})) {
        return false;
    }
    for (Step& step : result.steps) {
        const FanoutFloor::Stream raw = floor.stream(0, step.rate, settings.seconds, DRAIN_MS);
        step.floorCopies = raw.copies;
        step.floorP50 = raw.latency.percentile(50);
        step.floorP99 = raw.latency.percentile(99);
    }
    return true;
}

void printTable(const bench::Report& report, const Settings& settings,
                const std::vector<Run>& runs) {
    bench::Table table({"lines/s", "runs passed", "copies lost", "p50 ms", "floor p50 ms", "p99 ms",
                        "floor p99 ms", "p99 / floor p99", "floor copies lost", "world CPU %",
                        "bot CPU %", "bot CPU µs per line", "listeners' CPU %", "load"});
    for (int rate : settings.rates) {
        std::vector<double> lost, p50, floorP50, p99, floorP99, floorLost, world, bot, botLine, own,
            loads;
        int passed = 0, tried = 0;
        for (const Run& r : runs) {
            for (const Step& step : r.steps) {
                if (step.rate != rate) {
                    continue;
                }
                ++tried;
                passed += step.passed() ? 1 : 0;
                lost.push_back(static_cast<double>(step.expected - step.copies));
                p50.push_back(step.p50);
                floorP50.push_back(step.floorP50);
                p99.push_back(step.p99);
                floorP99.push_back(step.floorP99);
                floorLost.push_back(static_cast<double>(step.expected - step.floorCopies));
                world.push_back(step.worldCpu * 100);
                bot.push_back(step.botCpu * 100);
                botLine.push_back(step.botMicrosPerLine);
                own.push_back(step.ownCpu * 100);
                loads.push_back(r.load);
            }
        }
        if (tried == 0) {
            continue;
        }
        using bench::formatSpread;
        table.add({std::to_string(rate), std::to_string(passed) + " of " + std::to_string(tried),
                   formatSpread(lost, 0), formatSpread(p50, 1), formatSpread(floorP50, 1),
                   formatSpread(p99, 1), formatSpread(floorP99, 1),
                   formatSpread(bench::ratios(p99, floorP99), 1), formatSpread(floorLost, 0),
                   formatSpread(world, 0), formatSpread(bot, 0), formatSpread(botLine, 1),
                   formatSpread(own, 0), report.loadCell(loads)});
    }
    table.print();
    std::vector<double> best;
    for (const Run& r : runs) {
        best.push_back(r.best);
    }
    std::printf(
        "\nhighest passing rate (no copy lost, p99 < %.0f ms) to %d listeners, %g s a step: %s "
        "lines/s\n",
        P99_LIMIT_MS, settings.listeners, settings.seconds, bench::formatSpread(best, 0).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    bench::Options options;
    std::string error;
    if (!bench::takeOptions(argc, argv, options, error) || !parseSettings(argc, argv, settings)) {
        return bench::usage(error,
                            "tintbeacon_relay_throughput [--listeners N] [--speakers K] "
                            "[--seconds S] [--rates R1,R2,...] [--all]");
    }
    raiseFileLimit();
    bench::Report report(argv[0], options);
    std::vector<Run> runs;
    const int status = report.measure(1, [&](int, std::size_t, double load) {
        runs.emplace_back();
        runs.back().load = load;
        return run(settings, runs.back());
    });
    if (status != 0) {
        return status;
    }
    printTable(report, settings, runs);
    std::string rates;
    for (int rate : settings.rates) {
        rates += (rates.empty() ? "" : ",") + std::to_string(rate);
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", settings.seconds);
    std::vector<std::string> arguments = {"--listeners", std::to_string(settings.listeners),
                                          "--speakers",  std::to_string(settings.speakers),
                                          "--seconds",   seconds,
                                          "--rates",     rates};
    if (settings.all) {
        arguments.push_back("--all");
    }
    report.finish(arguments);
    return 0;
}

// Throughput benchmark: the highest rate of said lines that the real bot
// relays to many distant avatars with no line lost and a p99 latency under
// 200 ms. The world server `tintbeacon-world` and the bot run as child
// processes; this process holds the speakers beside the bot and the
// listeners beyond relay distance (the crowd tool's AvatarFleet). Each step
// says lines at one rate for a while, spread over the speakers, then waits
// for the last copies; every relayed copy is timed from its line's sending.
// Steps go up until one fails.
//
//   tintbeacon_relay_throughput [--listeners N] [--speakers K] [--seconds S]
//                               [--rates R1,R2,...] [--all]
//   (defaults 1000 listeners, 1 speaker, 20 s, 500,1000,2000,3000,4000)

#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "avatar/avatar_fleet.h"
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
    bool passed() const { return copies == expected && p99 < P99_LIMIT_MS; }
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

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parseSettings(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tintbeacon_relay_throughput [--listeners N] [--speakers K] "
                     "[--seconds S] [--rates R1,R2,...] [--all]\n");
        return 2;
    }
    raiseFileLimit();
    const std::string loadBefore = loadAverage();
    RealWorld world;
    if (!world.start(static_cast<std::size_t>(settings.listeners + settings.speakers) + 16)) {
        return 1;
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
            std::fprintf(stderr, "avatar %zu could not join (reason %d)\n", i, fleet.joinCode(i));
            return 1;
        }
    }
    long long nextLine = 1;
    if (!warmUp(fleet, counter, settings.speakers, nextLine)) {
        std::fprintf(stderr, "the warm-up line did not reach every listener\n");
        return 1;
    }
    std::printf(
        "| lines/s | lines sent | relayed copies received | lost | p50 ms | p99 ms | "
        "world CPU | bot CPU | listeners' CPU | passed |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    int best = 0;
    for (int rate : settings.rates) {
        const Step step = runStep(fleet, counter, settings, rate, nextLine, world);
        std::printf(
            "| %d | %lld | %lld of %lld | %lld | %.1f | %.1f | %.0f %% | %.0f %% | %.0f %% | %s "
            "|\n",
            step.rate, step.lines, step.copies, step.expected, step.expected - step.copies,
            step.p50, step.p99, step.worldCpu * 100, step.botCpu * 100, step.ownCpu * 100,
            step.passed() ? "yes" : "no");
        std::fflush(stdout);
        if (step.passed()) {
            best = std::max(best, rate);
        } else if (!settings.all) {
            break;
        }
        if (counter.lost()) {
            std::fprintf(stderr, "an avatar lost its connection\n");
            break;
        }
    }
    std::printf(
        "\nhighest passing rate: %d lines/s to %d listeners (no line lost, p99 < %.0f ms, "
        "%g s a step); load average before %s, after %s\n",
        best, settings.listeners, P99_LIMIT_MS, settings.seconds, loadBefore.c_str(),
        loadAverage().c_str());
    std::printf(
        "repeat: tintbeacon_relay_throughput --listeners %d --speakers %d --seconds %g "
        "--rates ",
        settings.listeners, settings.speakers, settings.seconds);
    for (std::size_t i = 0; i < settings.rates.size(); ++i) {
        std::printf("%s%d", i == 0 ? "" : ",", settings.rates[i]);
    }
    std::printf("%s\n", settings.all ? " --all" : "");
    return 0;
}

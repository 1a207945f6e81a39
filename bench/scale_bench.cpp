// Scale benchmark: N avatars in one world of the real programs. The world
// server `tintbeacon-world` and the bot run as child processes; this process
// holds the avatars (the crowd tool's AvatarFleet): a speaker beside the bot
// and N listeners beyond relay distance. It measures how long the N take to
// join, the world's CPU when they all leave at once, the world's and the
// bot's memory, and the time for one line to reach
// the last listener two ways: said by the speaker and relayed by the bot as a
// console message, and broadcast by the speaker, which the world delivers
// itself. The ratio relay / broadcast is the bot's price for its reach.
//
// Each time stands beside its floor, measured in the same run once the world
// is gone, with as many sockets: the same frame written raw to N receivers by
// `tintbeacon_raw_fanout` (a console frame, a broadcast's chat frame), and
// the bytes of a join of N sent raw to N connections that join as the fleet
// does. Each run's figure is the median of its rounds; the table gives min /
// median / max over the runs.
//
//   tintbeacon_scale_bench [AVATARS...] [--rounds R] [--runs N] [--strict] [--settle S]
//   (defaults 1000 10000, 5 rounds, 3 runs)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "avatar/avatar_fleet.h"
#include "bench_report.h"
#include "fanout_floor.h"
#include "protocol/monotonic_clock.h"
#include "real_world.h"
#include "sdk/reason_codes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int PROBE_TIMEOUT_MS = 60000;

// Waits for one text at every listener (members 1 and on), as a relayed
// console message or as a broadcast.
class Probe : public FleetObserver {
  public:
    void expect(std::size_t members, const std::string& text, bool broadcast) {
        seen_.assign(members, false);
        seen_[0] = true;  // the speaker
        remaining_ = members - 1;
        text_ = text;
        broadcast_ = broadcast;
    }
    std::size_t remaining() const { return remaining_; }
    bool lost() const { return lost_; }

    void onConsole(std::size_t member, std::string_view text) override {
        if (!broadcast_ && text == text_) {
            mark(member);
        }
    }
    void onChat(std::size_t member, const ChatView& chat) override {
        if (broadcast_ && chat.chatType == 1 && chat.text == text_) {
            mark(member);
        }
    }
    void onLost(std::size_t) override { lost_ = true; }

  private:
    void mark(std::size_t member) {
        if (!seen_[member]) {
            seen_[member] = true;
            --remaining_;
        }
    }

    std::vector<bool> seen_;
    std::size_t remaining_ = 0;
    std::string text_;
    bool broadcast_ = false;
    bool lost_ = false;
};

// One run at one size.
struct Run {
    double load = 0;
    double joinSeconds = 0, joinFloorSeconds = 0;
    double joinWorldCpu = 0, joinOwnCpu = 0;  // CPU seconds spent joining
    double leaveWorldCpu = 0;                  // the world's, for all leaving at once
    double worldRssMb = 0, worldPeakMb = 0, botRssMb = 0, botPeakMb = 0;
    double relayMs = 0, broadcastMs = 0;            // medians of the rounds
    double relayFloorMs = 0, broadcastFloorMs = 0;  // the same, raw
};

double median(const std::vector<double>& values) {
    return bench::spreadOf(values).value_or(bench::Spread{}).median;
}

// Sends the text and turns until every listener has it; milliseconds, or -1.
double timeProbe(AvatarFleet& fleet, Probe& probe, const std::string& text, bool broadcast,
                 int timeoutMs = PROBE_TIMEOUT_MS) {
    // The bot relays a said line as "name:\ttext".
    probe.expect(fleet.size(), broadcast ? text : "Speaker:\t" + text, broadcast);
    const auto start = Clock::now();
    const int rc = broadcast ? fleet.broadcast(0, text) : fleet.say(0, text);
    if (rc != SDK_OK) {
        return -1;
    }
    const long long deadline = nowMs() + timeoutMs;
    while (probe.remaining() > 0 && !probe.lost() && nowMs() < deadline) {
        fleet.turn(10);
    }
    if (probe.remaining() > 0) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Reads whatever is still on its way for a while.
void settle(AvatarFleet& fleet, int ms) {
    const long long until = nowMs() + ms;
    while (nowMs() < until) {
        fleet.turn(10);
    }
}

// The world's CPU seconds from the moment every avatar of the fleet leaves at
// once (its sockets closed) until the world has been quiet for a moment.
double leavingWorldCpu(pid_t world, std::unique_ptr<AvatarFleet>& fleet) {
    const double before = cpuSeconds(world);
    fleet.reset();
    double last = before;
    const long long deadline = nowMs() + 60000;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const double now = cpuSeconds(world);
        if (now == last || nowMs() > deadline) {
            return now - before;
        }
        last = now;
    }
}

bool measureWorld(int avatars, int rounds, Run& row) {
    RealWorld world;
    if (!world.start(static_cast<std::size_t>(avatars) + 16)) {
        return false;
    }
    Probe probe;
    auto owned = std::make_unique<AvatarFleet>(probe);
    AvatarFleet& fleet = *owned;
    AvatarLogin speaker;
    speaker.port = world.port();
    speaker.name = "Speaker";
    speaker.citizen = RealWorld::SPEAKER_CITIZEN;
    speaker.password = RealWorld::SPEAKER_PASSWORD;
    fleet.join({speaker});
    std::vector<AvatarLogin> listeners(static_cast<std::size_t>(avatars));
    for (std::size_t i = 0; i < listeners.size(); ++i) {
        listeners[i].port = world.port();
        listeners[i].name = "Listener" + std::to_string(i);
        // All beyond relay distance of the bot at 0N 0W, a little apart.
        listeners[i].position =
            Position{50000 + static_cast<int>(i % 100) * 100, 0, static_cast<int>(i / 100) * 100};
    }
    const auto joinStart = Clock::now();
    const double worldCpu = cpuSeconds(world.worldPid()), ownCpu = ownCpuSeconds();
    fleet.join(listeners);
    row.joinSeconds = std::chrono::duration<double>(Clock::now() - joinStart).count();
    row.joinWorldCpu = cpuSeconds(world.worldPid()) - worldCpu;
    row.joinOwnCpu = ownCpuSeconds() - ownCpu;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        if (!fleet.joined(i)) {
            std::fprintf(stderr, "avatar %zu could not join (reason %d)\n", i, fleet.joinCode(i));
            return false;
        }
    }
    // Once a line reaches everyone, the bot knows every listener.
    bool warm = false;
    for (int attempt = 0; attempt < 30 && !warm; ++attempt) {
        warm = timeProbe(fleet, probe, "warm up " + std::to_string(attempt), false, 5000) >= 0;
    }
    if (!warm) {
        std::fprintf(stderr, "the warm-up line did not reach every listener\n");
        return false;
    }
    settle(fleet, 500);
    std::vector<double> relay, broadcast;
    for (int round = 0; round < rounds; ++round) {
        const double relayed = timeProbe(fleet, probe, "relay " + std::to_string(round), false);
        settle(fleet, 200);
        const double broadcasted =
            timeProbe(fleet, probe, "broadcast " + std::to_string(round), true);
        settle(fleet, 200);  // the bot relays the broadcast too
        if (relayed < 0 || broadcasted < 0) {
            std::fprintf(stderr, "round %d did not reach every listener\n", round);
            return false;
        }
        relay.push_back(relayed);
        broadcast.push_back(broadcasted);
    }
    row.worldRssMb = static_cast<double>(statusKb(world.worldPid(), "VmRSS")) / 1024;
    row.worldPeakMb = static_cast<double>(statusKb(world.worldPid(), "VmHWM")) / 1024;
    row.botRssMb = static_cast<double>(statusKb(world.botPid(), "VmRSS")) / 1024;
    row.botPeakMb = static_cast<double>(statusKb(world.botPid(), "VmHWM")) / 1024;
    row.relayMs = median(relay);
    row.broadcastMs = median(broadcast);
    row.leaveWorldCpu = leavingWorldCpu(world.worldPid(), owned);
    return true;
}

// The floors of the same run: the first round's frames (the rounds' texts
// differ in length by a digit at most), raw to as many receivers.
bool measureFloors(int avatars, int rounds, Run& row) {
    row.joinFloorSeconds =
        rawJoinSeconds(static_cast<std::size_t>(avatars), "Listener" + std::to_string(avatars / 2),
                       PROBE_TIMEOUT_MS * 5);
    FanoutFloor floor;
    if (row.joinFloorSeconds < 0 ||
        !floor.start(static_cast<std::size_t>(avatars),
                     {"--console", "Speaker:\trelay 0", "--chat", "Speaker", "broadcast 0"})) {
        return false;
    }
    std::vector<double> relay, broadcast;
    for (int round = 0; round < rounds; ++round) {
        relay.push_back(floor.fanOutMs(0, PROBE_TIMEOUT_MS));
        broadcast.push_back(floor.fanOutMs(1, PROBE_TIMEOUT_MS));
        if (relay.back() < 0 || broadcast.back() < 0) {
            std::fprintf(stderr, "a raw fan-out did not reach every receiver\n");
            return false;
        }
    }
    row.relayFloorMs = median(relay);
    row.broadcastFloorMs = median(broadcast);
    return true;
}

template <typename Field>
std::vector<double> field(const std::vector<Run>& runs, Field Run::*member) {
    std::vector<double> values;
    for (const Run& run : runs) {
        values.push_back(run.*member);
    }
    return values;
}

void printTables(const bench::Report& report, const std::vector<int>& sizes,
                 const std::vector<std::vector<Run>>& runs) {
    bench::Table join({"avatars", "join s", "raw join floor s", "join / floor",
                       "world CPU s joining", "avatars' CPU s joining",
                       "world CPU s, all leaving at once", "world RSS MB",
                       "world peak MB", "bot RSS MB", "bot peak MB", "load"});
    bench::Table relay({"avatars", "relay to the last ms", "raw fan-out floor ms", "relay / floor",
                        "broadcast to the last ms", "raw fan-out floor ms (chat)",
                        "broadcast / floor", "relay / broadcast", "load"});
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::vector<Run>& r = runs[i];
        const std::string avatars = std::to_string(sizes[i]);
        const std::string load = report.loadCell(field(r, &Run::load));
        using bench::formatSpread;
        using bench::ratios;
        join.add(
            {avatars, formatSpread(field(r, &Run::joinSeconds), 2),
             formatSpread(field(r, &Run::joinFloorSeconds), 2),
             formatSpread(ratios(field(r, &Run::joinSeconds), field(r, &Run::joinFloorSeconds)), 2),
             formatSpread(field(r, &Run::joinWorldCpu), 1),
             formatSpread(field(r, &Run::joinOwnCpu), 1),
             formatSpread(field(r, &Run::leaveWorldCpu), 2),
             formatSpread(field(r, &Run::worldRssMb), 1),
             formatSpread(field(r, &Run::worldPeakMb), 1),
             formatSpread(field(r, &Run::botRssMb), 1), formatSpread(field(r, &Run::botPeakMb), 1),
             load});
        relay.add(
            {avatars, formatSpread(field(r, &Run::relayMs), 1),
             formatSpread(field(r, &Run::relayFloorMs), 1),
             formatSpread(ratios(field(r, &Run::relayMs), field(r, &Run::relayFloorMs)), 2),
             formatSpread(field(r, &Run::broadcastMs), 1),
             formatSpread(field(r, &Run::broadcastFloorMs), 1),
             formatSpread(ratios(field(r, &Run::broadcastMs), field(r, &Run::broadcastFloorMs)), 2),
             formatSpread(ratios(field(r, &Run::relayMs), field(r, &Run::broadcastMs)), 2), load});
    }
    join.print();
    relay.print();
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    std::string error;
    std::vector<int> sizes;
    int rounds = 5;
    bool usage = !bench::takeOptions(argc, argv, options, error);
    for (int i = 1; i < argc && !usage; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::atoi(argv[i]) > 0) {
            sizes.push_back(std::atoi(argv[i]));
        } else {
            usage = true;
        }
    }
    if (usage) {
        return bench::usage(error, "tintbeacon_scale_bench [AVATARS...] [--rounds R]");
    }
    if (sizes.empty()) {
        sizes = {1000, 10000};
    }
    raiseFileLimit();
    bench::Report report(argv[0], options);
    std::vector<std::vector<Run>> runs(sizes.size());
    const int status = report.measure(sizes.size(), [&](int run, std::size_t i, double load) {
        Run figures;
        figures.load = load;
        if (!measureWorld(sizes[i], rounds, figures) || !measureFloors(sizes[i], rounds, figures)) {
            return false;
        }
        std::fprintf(stderr,
                     "run %d, %d avatars: join %.2f s (floor %.2f), relay %.1f ms (floor %.1f), "
                     "broadcast %.1f ms (floor %.1f)\n",
                     run + 1, sizes[i], figures.joinSeconds, figures.joinFloorSeconds,
                     figures.relayMs, figures.relayFloorMs, figures.broadcastMs,
                     figures.broadcastFloorMs);
        runs[i].push_back(figures);
        return true;
    });
    if (status != 0) {
        return status;
    }
    printTables(report, sizes, runs);
    std::printf("\neach run's relay and broadcast: the median of %d rounds\n", rounds);
    std::vector<std::string> arguments;
    for (int avatars : sizes) {
        arguments.push_back(std::to_string(avatars));
    }
    arguments.insert(arguments.end(), {"--rounds", std::to_string(rounds)});
    report.finish(arguments);
    return 0;
}

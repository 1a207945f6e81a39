// The heartbeat's cost in an idle world: the real world server and the bot
// as child processes, and N avatars (an AvatarFleet in this process, one TCP
// connection each) that join and then say nothing for a minute. Each run
// counts, over that minute, the bytes the avatars sent the world and got
// from it (the payload of their sockets, as the fleet counts it), the
// frames they got, and the wake-ups (voluntary context switches of its main
// thread: each is a wait that slept) and CPU time of the world and the bot
// (/proc/PID). The avatars speak protocol version 1 (no heartbeat)
// or version 2 (a Ping after 15 s of quiet, a Pong back); the difference is
// what the heartbeat costs.
//
//   tintbeacon_heartbeat_cost [AVATARS] [--seconds S] [--runs R]   (10000, 60, 3)

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "avatar/avatar_fleet.h"
#include "bench_report.h"
#include "protocol/monotonic_clock.h"
#include "real_world.h"

namespace {

// What one process did, read from /proc.
struct Counters {
    long long wakeUps = 0;
    double cpu = 0;
};

Counters countersOf(pid_t pid) {
    Counters c;
    c.wakeUps = procField(pid, "status", "voluntary_ctxt_switches");
    c.cpu = cpuSeconds(pid);
    return c;
}

class Quiet : public FleetObserver {
  public:
    void onConsole(std::size_t, std::string_view) override {}
    void onLost(std::size_t) override { ++lost; }
    int lost = 0;
};

struct Run {
    int version = 0;
    double perMinute = 0;  // scale of the counts below to a minute
    Counters world, bot;
    long long frames = 0;
    long long bytesSent = 0, bytesReceived = 0;  // by the avatars
    int joined = 0;
    int lost = 0;
};

Counters minus(const Counters& after, const Counters& before) {
    return {after.wakeUps - before.wakeUps, after.cpu - before.cpu};
}

bool runOnce(int avatars, int version, double seconds, Run& run) {
    RealWorld world;
    if (!world.start(static_cast<std::size_t>(avatars) + 64)) {
        return false;
    }
    Quiet observer;
    AvatarFleet fleet(observer, static_cast<std::uint16_t>(version));
    std::vector<AvatarLogin> logins(static_cast<std::size_t>(avatars));
    for (std::size_t i = 0; i < logins.size(); ++i) {
        logins[i].port = world.port();
        logins[i].name = "Idle" + std::to_string(i);
        logins[i].position.eastWest = static_cast<int>(i % 100) * 25000;
    }
    fleet.join(logins);
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        run.joined += fleet.joined(i) ? 1 : 0;
    }
    // Arrivals still on their way, then the quiet minute.
    const long long settleUntil = nowMs() + 5000;
    while (nowMs() < settleUntil) {
        fleet.turn(100);
    }
    const Counters worldBefore = countersOf(world.worldPid());
    const Counters botBefore = countersOf(world.botPid());
    const long long framesBefore = fleet.framesReceived();
    const long long sentBefore = fleet.bytesSent();
    const long long receivedBefore = fleet.bytesReceived();
    const long long start = nowMs();
    const long long end = start + static_cast<long long>(seconds * 1000);
    while (nowMs() < end) {
        fleet.turn(static_cast<int>(std::min<long long>(end - nowMs(), 1000)));
    }
    const double elapsed = static_cast<double>(nowMs() - start) / 1000.0;
    run.version = version;
    run.perMinute = 60.0 / elapsed;
    run.world = minus(countersOf(world.worldPid()), worldBefore);
    run.bot = minus(countersOf(world.botPid()), botBefore);
    run.frames = fleet.framesReceived() - framesBefore;
    run.bytesSent = fleet.bytesSent() - sentBefore;
    run.bytesReceived = fleet.bytesReceived() - receivedBefore;
    run.lost = observer.lost;
    return true;
}

// One measure of every run of one version, per minute.
std::string spreadOf(const std::vector<Run>& runs, int version, double (*pick)(const Run&)) {
    std::vector<double> values;
    for (const Run& run : runs) {
        if (run.version == version) {
            values.push_back(pick(run) * run.perMinute);
        }
    }
    return bench::formatSpread(values, 0);
}

}  // namespace

int main(int argc, char** argv) {
    int avatars = 10000;
    double seconds = 60;
    bench::Options options;
    std::string error;
    bool usage = !bench::takeOptions(argc, argv, options, error);
    for (int i = 1; i < argc && !usage; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::atoi(argv[i]) > 0) {
            avatars = std::atoi(argv[i]);
        } else {
            usage = true;
        }
    }
    if (usage || seconds <= 0) {
        return bench::usage(error, "tintbeacon_heartbeat_cost [AVATARS] [--seconds S]");
    }
    raiseFileLimit();
    bench::Report report(argv[0], options);
    std::vector<Run> all;
    std::vector<double> loads;
    // Each run measures both versions, one after the other.
    const int measured = report.measure(2, [&](int round, std::size_t item, double load) {
        const int version = static_cast<int>(item) + 1;
        Run run;
        if (!runOnce(avatars, version, seconds, run)) {
            return false;
        }
        std::fprintf(stderr,
                     "run %d, version %d: %d joined, %d lost; avatars sent %lld B, got %lld B "
                     "in %lld frames; world %lld wake-ups, %.2f s CPU\n",
                     round + 1, version, run.joined, run.lost, run.bytesSent, run.bytesReceived,
                     run.frames, run.world.wakeUps, run.world.cpu);
        all.push_back(run);
        loads.push_back(load);
        return true;
    });
    if (measured != 0) {
        return measured;
    }
    std::printf("\nper idle minute of %d avatars (min / median / max of %d runs), load %s\n\n",
                avatars, report.runs(), report.loadCell(loads).c_str());
    bench::Table table({"measure", "version 1 (no heartbeat)", "version 2"});
    const struct {
        const char* name;
        double (*pick)(const Run&);
    } measures[] = {
        {"avatars: bytes sent to the world",
         [](const Run& r) { return static_cast<double>(r.bytesSent); }},
        {"avatars: bytes got from the world",
         [](const Run& r) { return static_cast<double>(r.bytesReceived); }},
        {"avatars: frames got", [](const Run& r) { return static_cast<double>(r.frames); }},
        {"world: wake-ups", [](const Run& r) { return static_cast<double>(r.world.wakeUps); }},
        {"world: CPU ms", [](const Run& r) { return r.world.cpu * 1000; }},
        {"bot: wake-ups", [](const Run& r) { return static_cast<double>(r.bot.wakeUps); }},
        {"avatars lost", [](const Run& r) { return static_cast<double>(r.lost) / r.perMinute; }},
    };
    for (const auto& measure : measures) {
        table.add({measure.name, spreadOf(all, 1, measure.pick), spreadOf(all, 2, measure.pick)});
    }
    table.print();
    char secondsText[32];
    std::snprintf(secondsText, sizeof secondsText, "%g", seconds);
    report.finish({std::to_string(avatars), "--seconds", secondsText});
    return 0;
}

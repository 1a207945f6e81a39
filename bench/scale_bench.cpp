// Scale benchmark: N avatars in one world of the real programs. The world
// server `tintbeacon-world` and the bot run as child processes; this process
// holds the avatars (the crowd tool's AvatarFleet): a speaker beside the bot
// and N listeners beyond relay distance. It measures how long the N take to
// join, the world's and the bot's memory, and the time for one line to reach
// the last listener two ways: said by the speaker and relayed by the bot as a
// console message, and broadcast by the speaker, which the world delivers
// itself. The ratio of the medians is the bot's price for its reach.
//
//   tintbeacon_scale_bench [AVATARS...] [--rounds R]   (defaults 1000 10000, 5 rounds)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "avatar/avatar_fleet.h"
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

struct Row {
    int avatars = 0;
    double joinSeconds = 0;
    double joinWorldCpu = 0, joinOwnCpu = 0;  // CPU seconds spent joining
    long long worldRssKb = 0, worldPeakKb = 0, botRssKb = 0, botPeakKb = 0;
    double relayMs = 0, broadcastMs = 0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[(values.size() - 1) / 2];
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

bool measure(int avatars, int rounds, Row& row) {
    RealWorld world;
    if (!world.start(static_cast<std::size_t>(avatars) + 16)) {
        return false;
    }
    Probe probe;
    AvatarFleet fleet(probe);
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
    row.avatars = avatars;
    row.worldRssKb = statusKb(world.worldPid(), "VmRSS");
    row.worldPeakKb = statusKb(world.worldPid(), "VmHWM");
    row.botRssKb = statusKb(world.botPid(), "VmRSS");
    row.botPeakKb = statusKb(world.botPid(), "VmHWM");
    row.relayMs = median(relay);
    row.broadcastMs = median(broadcast);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::atoi(argv[i]) > 0) {
            sizes.push_back(std::atoi(argv[i]));
        } else {
            std::fprintf(stderr, "usage: tintbeacon_scale_bench [AVATARS...] [--rounds R]\n");
            return 2;
        }
    }
    if (sizes.empty()) {
        sizes = {1000, 10000};
    }
    raiseFileLimit();
    const std::string loadBefore = loadAverage();
    std::vector<Row> rows;
    for (int avatars : sizes) {
        Row row;
        if (!measure(avatars, rounds, row)) {
            return 1;
        }
        rows.push_back(row);
    }
    std::printf(
        "| avatars | join s | CPU s joining: world, avatars | world RSS MB (peak) | "
        "bot RSS MB (peak) | relay to the last ms | broadcast to the last ms | relay / broadcast "
        "|\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        std::printf("| %d | %.2f | %.1f, %.1f | %.1f (%.1f) | %.1f (%.1f) | %.1f | %.1f | %.2f |\n",
                    r.avatars, r.joinSeconds, r.joinWorldCpu, r.joinOwnCpu, r.worldRssKb / 1024.0,
                    r.worldPeakKb / 1024.0, r.botRssKb / 1024.0, r.botPeakKb / 1024.0, r.relayMs,
                    r.broadcastMs, r.broadcastMs > 0 ? r.relayMs / r.broadcastMs : 0.0);
    }
    std::printf("\nmedians of %d rounds; load average before %s, after %s\n", rounds,
                loadBefore.c_str(), loadAverage().c_str());
    std::printf("repeat: tintbeacon_scale_bench");
    for (int avatars : sizes) {
        std::printf(" %d", avatars);
    }
    std::printf(" --rounds %d\n", rounds);
    return 0;
}

#include "avatar/crowd.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <ostream>
#include <random>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "avatar/avatar_fleet.h"
#include "avatar/latency_stats.h"
#include "sdk/reason_codes.h"
#include "text/cp1251.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int GRID = 10;               // cells per axis
constexpr int CELL = 25000;            // more than the relay distance apart
// A relayed copy is matched to its said line for this long; older lines are
// forgotten, so a crowd that runs for days keeps a bounded table.
constexpr auto MATCH_WINDOW = std::chrono::seconds(60);
// What the crowd says; a line number makes each said line unique, so its
// relayed copies can be matched to it.
constexpr const char* PHRASES[] = {"Привет всем!", "Hello from my corner of the world",
                                   "Кто-нибудь видел маяк?", "Nice weather up here",
                                   "Встречаемся у фонтана", "Anyone near the lighthouse?"};
constexpr const char* COMMANDS[] = {"!color DeepPink", "!c 0 0 128", "!global off",
                                    "!global on",      "!help",      "!color SeaGreen"};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Cell i of the grid, spread on east-west and north-south, a little apart
// from others in the same cell.
Position gridPosition(int cell, int i) {
    Position position;
    position.eastWest = (cell % GRID - GRID / 2) * CELL + (i % 7) * 100;
    position.northSouth = (cell / GRID % GRID - GRID / 2) * CELL + (i % 5) * 100;
    return position;
}

// Hashes std::string and std::string_view alike, so that a relayed text seen
// in place can be looked up without a copy.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>{}(text);
    }
};

class Crowd : public FleetObserver {
  public:
    Crowd(const CrowdSettings& settings, std::ostream& log, const std::atomic<bool>* stop)
        : settings_(settings), log_(log), stop_(stop), random_(settings.seed), fleet_(*this) {}
    CrowdReport run();

    void onConsole(std::size_t member, std::string_view text) override;
    void onLost(std::size_t member) override;

  private:
    void joinAll();
    void sayOne();
    void moveOne();
    void forgetOldLines();
    void summarise();
    bool stopAsked() const { return stop_ != nullptr && stop_->load(); }
    std::string name(std::size_t member) const { return "Crowd" + std::to_string(member); }

    const CrowdSettings& settings_;
    std::ostream& log_;
    const std::atomic<bool>* stop_;
    std::mt19937 random_;
    AvatarFleet fleet_;
    std::vector<std::size_t> joined_;      // members that joined, in order
    std::vector<std::size_t> commanders_;  // those of them that joined as citizens
    std::vector<long long> relayed_;       // per member
    // relayed line -> when said
    std::unordered_map<std::string, Clock::time_point, TextHash, std::equal_to<>> sentAt_;
    std::deque<std::string> sentOrder_;  // sentAt_'s keys, oldest first
    LatencyStats latency_;
    CrowdReport report_;
    long long lineNumber_ = 0;
};

CrowdReport Crowd::run() {
    joinAll();
    if (joined_.empty()) {
        return report_;
    }
    const auto start = Clock::now();
    double nextLine = 0.0, nextMove = 0.0;
    const double lineGap = settings_.linesPerSecond > 0 ? 1.0 / settings_.linesPerSecond : 1e9;
    const double moveGap = settings_.movesPerSecond > 0 ? 1.0 / settings_.movesPerSecond : 1e9;
    while (secondsSince(start) < settings_.seconds && !report_.connectionLost && !stopAsked()) {
        const double now = secondsSince(start);
        if (now >= nextLine) {
            sayOne();
            nextLine += lineGap;
        }
        if (now >= nextMove) {
            moveOne();
            nextMove += moveGap;
        }
        const double until = std::min({nextLine, nextMove, settings_.seconds}) - secondsSince(start);
        fleet_.turn(std::max(0, static_cast<int>(until * 1000)));
    }
    // To a tenth of a second, for the report.
    report_.secondsChatted = std::round(std::min(secondsSince(start), settings_.seconds) * 10) / 10;
    report_.stopped = stopAsked();
    const auto drainStart = Clock::now();
    while (secondsSince(drainStart) < settings_.drainSeconds && !report_.connectionLost &&
           !report_.stopped) {
        fleet_.turn(50);
    }
    summarise();
    return report_;
}

void Crowd::joinAll() {
    std::vector<AvatarLogin> logins(static_cast<std::size_t>(settings_.avatars));
    for (std::size_t i = 0; i < logins.size(); ++i) {
        AvatarLogin& login = logins[i];
        login.address = settings_.address;
        login.port = settings_.port;
        login.world = settings_.world;
        login.name = name(i);
        if (i < static_cast<std::size_t>(settings_.commanders)) {
            login.citizen = settings_.citizenBase + static_cast<int>(i);
            login.password = settings_.commanderPassword;
        }
        login.position = gridPosition(static_cast<int>(i) % (GRID * GRID), static_cast<int>(i));
    }
    relayed_.assign(logins.size(), 0);
    fleet_.join(logins, stop_);
    for (std::size_t i = 0; i < fleet_.size(); ++i) {
        if (fleet_.joined(i)) {
            joined_.push_back(i);
            if (i < static_cast<std::size_t>(settings_.commanders)) {
                commanders_.push_back(i);
            }
        } else if (fleet_.failed(i) && ++report_.failedJoins == 1) {
            log_ << "crowd: " << name(i) << " could not join (reason " << fleet_.joinCode(i)
                 << ")\n";
        }
    }
    report_.joined = static_cast<int>(joined_.size());
    log_ << "crowd: " << report_.joined << " avatars joined\n";
}

void Crowd::sayOne() {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const bool command = !commanders_.empty() && chance(random_) < settings_.commandShare;
    const std::vector<std::size_t>& speakers = command ? commanders_ : joined_;
    const std::size_t i = speakers[random_() % speakers.size()];
    std::string text;
    if (command) {
        text = COMMANDS[random_() % std::size(COMMANDS)];
        ++report_.commandsSaid;
    } else {
        text = ru(PHRASES[random_() % std::size(PHRASES)]) + " #" + std::to_string(++lineNumber_);
        forgetOldLines();
        const std::string relayed = name(i) + ":\t" + text;
        sentAt_[relayed] = Clock::now();
        sentOrder_.push_back(relayed);
    }
    if (fleet_.say(i, text) == SDK_OK) {
        ++report_.linesSaid;
    }
}

void Crowd::forgetOldLines() {
    const auto horizon = Clock::now() - MATCH_WINDOW;
    while (!sentOrder_.empty() && sentAt_.find(sentOrder_.front())->second < horizon) {
        sentAt_.erase(sentOrder_.front());
        sentOrder_.pop_front();
    }
}

void Crowd::moveOne() {
    const std::size_t i = joined_[random_() % joined_.size()];
    fleet_.moveTo(i,
                  gridPosition(static_cast<int>(random_() % (GRID * GRID)), static_cast<int>(i)));
}

void Crowd::onConsole(std::size_t member, std::string_view text) {
    auto sent = sentAt_.find(text);
    if (sent == sentAt_.end()) {
        ++report_.otherConsoleMessages;
        return;
    }
    ++relayed_[member];
    ++report_.relayedReceived;
    latency_.add(std::chrono::duration<double, std::milli>(Clock::now() - sent->second).count());
}

void Crowd::onLost(std::size_t member) {
    if (!report_.connectionLost) {
        report_.connectionLost = true;
        log_ << "crowd: " << name(member) << " lost its connection\n";
    }
}

void Crowd::summarise() {
    std::vector<long long> counts;
    counts.reserve(joined_.size());
    for (std::size_t i : joined_) {
        counts.push_back(relayed_[i]);
    }
    std::sort(counts.begin(), counts.end());
    if (!counts.empty()) {
        report_.relayedMin = counts.front();
        report_.relayedMedian = counts[(counts.size() - 1) / 2];
        report_.relayedMax = counts.back();
    }
    report_.latencySamples = static_cast<long long>(latency_.count());
    report_.latencyMedianMs = latency_.median();
    report_.latencyP99Ms = latency_.p99();
}

}  // namespace

CrowdReport runCrowd(const CrowdSettings& settings, std::ostream& log,
                     const std::atomic<bool>* stop) {
    Crowd crowd(settings, log, stop);
    return crowd.run();
}

void printCrowdReport(const CrowdReport& report, const CrowdSettings& settings, std::ostream& out) {
    out << "avatars joined: " << report.joined << " of " << settings.avatars << '\n'
        << "lines said: " << report.linesSaid << " (" << report.commandsSaid << " commands) in "
        << report.secondsChatted << " s" << (report.stopped ? " (stopped early)" : "") << '\n'
        << "relayed lines received: " << report.relayedReceived << " (per avatar: min "
        << report.relayedMin << ", median " << report.relayedMedian << ", max "
        << report.relayedMax << ")\n"
        << "other console messages: " << report.otherConsoleMessages << '\n'
        << "latency from a said line to its relayed copy: median " << report.latencyMedianMs
        << " ms, p99 " << report.latencyP99Ms << " ms (" << report.latencySamples
        << " copies)\n";
    if (report.connectionLost) {
        out << "a connection was lost during the run\n";
    }
}

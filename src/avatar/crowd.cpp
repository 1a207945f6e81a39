#include "avatar/crowd.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <ostream>
#include <random>
#include <unordered_map>
#include <vector>

#include "avatar/avatar_session.h"
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

class Crowd {
public:
    Crowd(const CrowdSettings& settings, std::ostream& log, const std::atomic<bool>* stop)
        : settings_(settings), log_(log), stop_(stop), random_(settings.seed) {}
    CrowdReport run();

private:
    void joinAll();
    void sayOne();
    void moveOne();
    void forgetOldLines();
    void pollAll(int timeoutMs);
    void collect(std::size_t avatar, std::deque<wire::Message>& events);
    void summarise();
    bool stopAsked() const { return stop_ != nullptr && stop_->load(); }

    const CrowdSettings& settings_;
    std::ostream& log_;
    const std::atomic<bool>* stop_;
    std::mt19937 random_;
    std::vector<std::unique_ptr<AvatarSession>> avatars_;
    std::vector<std::string> names_;
    std::vector<long long> relayed_;
    std::unordered_map<std::string, Clock::time_point> sentAt_;  // relay line -> when said
    std::deque<std::string> sentOrder_;                          // sentAt_'s keys, oldest first
    LatencyStats latency_;
    CrowdReport report_;
    long long lineNumber_ = 0;
};

CrowdReport Crowd::run() {
    joinAll();
    if (avatars_.empty()) {
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
        pollAll(std::max(0, static_cast<int>(until * 1000)));
    }
    // To a tenth of a second, for the report.
    report_.secondsChatted = std::round(std::min(secondsSince(start), settings_.seconds) * 10) / 10;
    report_.stopped = stopAsked();
    const auto drainStart = Clock::now();
    while (secondsSince(drainStart) < settings_.drainSeconds && !report_.connectionLost &&
           !report_.stopped) {
        pollAll(50);
    }
    summarise();
    return report_;
}

void Crowd::joinAll() {
    for (int i = 0; i < settings_.avatars && !stopAsked(); ++i) {
        AvatarLogin login;
        login.address = settings_.address;
        login.port = settings_.port;
        login.world = settings_.world;
        login.name = "Crowd" + std::to_string(i);
        if (i < settings_.commanders) {
            login.citizen = settings_.citizenBase + i;
            login.password = settings_.commanderPassword;
        }
        login.position = gridPosition(i % (GRID * GRID), i);
        auto avatar = std::make_unique<AvatarSession>();
        const int rc = avatar->join(login);
        if (rc != SDK_OK) {
            ++report_.failedJoins;
            if (report_.failedJoins == 1) {
                log_ << "crowd: " << login.name << " could not join (reason " << rc << ")\n";
            }
            continue;
        }
        names_.push_back(login.name);
        avatars_.push_back(std::move(avatar));
        // Read what the joins so far have sent, so no buffer fills meanwhile.
        if (avatars_.size() % 50 == 0) {
            pollAll(0);
        }
    }
    report_.joined = static_cast<int>(avatars_.size());
    relayed_.assign(avatars_.size(), 0);
    log_ << "crowd: " << report_.joined << " avatars joined\n";
}

void Crowd::sayOne() {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const int commanders = std::min<int>(settings_.commanders, static_cast<int>(avatars_.size()));
    const bool command = commanders > 0 && chance(random_) < settings_.commandShare;
    const std::size_t i = random_() % (command ? static_cast<std::size_t>(commanders) : avatars_.size());
    std::string text;
    if (command) {
        text = COMMANDS[random_() % std::size(COMMANDS)];
        ++report_.commandsSaid;
    } else {
        text = ru(PHRASES[random_() % std::size(PHRASES)]) + " #" + std::to_string(++lineNumber_);
        forgetOldLines();
        const std::string relayed = names_[i] + ":\t" + text;
        sentAt_[relayed] = Clock::now();
        sentOrder_.push_back(relayed);
    }
    if (avatars_[i]->say(text) == SDK_OK) {
        ++report_.linesSaid;
    }
}

void Crowd::forgetOldLines() {
    const auto horizon = Clock::now() - MATCH_WINDOW;
    while (!sentOrder_.empty() && sentAt_.at(sentOrder_.front()) < horizon) {
        sentAt_.erase(sentOrder_.front());
        sentOrder_.pop_front();
    }
}

void Crowd::moveOne() {
    const std::size_t i = random_() % avatars_.size();
    avatars_[i]->moveTo(gridPosition(static_cast<int>(random_() % (GRID * GRID)), static_cast<int>(i)));
}

void Crowd::pollAll(int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(avatars_.size());
    for (auto& avatar : avatars_) {
        WorldConnection& connection = avatar->connection();
        const short events = static_cast<short>(POLLIN | (connection.wantsWrite() ? POLLOUT : 0));
        fds.push_back(pollfd{connection.fd(), events, 0});
    }
    ::poll(fds.data(), fds.size(), timeoutMs);
    for (std::size_t i = 0; i < avatars_.size(); ++i) {
        if (fds[i].revents != 0 || avatars_[i]->connection().wantsWrite()) {
            collect(i, avatars_[i]->poll());
        }
        if (!avatars_[i]->connection().isOpen() && !report_.connectionLost) {
            report_.connectionLost = true;
            log_ << "crowd: " << names_[i] << " lost its connection\n";
        }
    }
}

void Crowd::collect(std::size_t avatar, std::deque<wire::Message>& events) {
    for (const wire::Message& event : events) {
        if (event.type != wire::MessageType::ConsoleMessage) {
            continue;
        }
        auto sent = sentAt_.find(event.text);
        if (sent == sentAt_.end()) {
            ++report_.otherConsoleMessages;
            continue;
        }
        ++relayed_[avatar];
        ++report_.relayedReceived;
        latency_.add(std::chrono::duration<double, std::milli>(Clock::now() - sent->second).count());
    }
    events.clear();
}

void Crowd::summarise() {
    std::vector<long long> counts = relayed_;
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

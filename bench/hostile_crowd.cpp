// Overload benchmark: a crowd that keeps every limit of a public world and
// still tries to silence the relay. The real world (every default limit, no
// address exempt) and the real bot run as child processes; this process
// holds TALKERS tourists beside the bot, four to a client address, each
// saying RATE lines a second (under the world's 10), and DEAF tourists far
// away, ten to an address, that never read what they are sent after they
// joined. Per run it prints the lines said, refused by the world and so
// accepted, the accepted lines missing from the bot's chat.txt, the times
// the bot lost the world, the deaf tourists that left, and the world's peak
// memory beside its output budget; then min, median and max over the runs.
// Counts, not times: it has no floor.
//
//   tintbeacon_hostile_crowd [TALKERS] [DEAF] [--rate R] [--seconds S] [--keep]
//                            [--runs N] [--strict] [--settle S]
//   (defaults 500 1000, 9.5 lines a second, 20 s, 3 runs)

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench_report.h"
#include "child_output.h"
#include "protocol/monotonic_clock.h"
#include "raw_client.h"
#include "real_world.h"
#include "sdk/reason_codes.h"
#include "text/cp1251.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr int TALKERS_PER_ADDRESS = 4;
constexpr int DEAF_PER_ADDRESS = 10;
constexpr long long JOIN_TIMEOUT_MS = 30000;
constexpr long long DRAIN_TIMEOUT_MS = 120000;
// The bot is taken to have logged all it will once its log has not grown
// for this long (longer than the world's longest hold on input).
constexpr long long QUIET_MS = 15000;
constexpr std::size_t WORLD_OUTPUT_BUDGET_KB = 256 * 1024;  // the default --max-total-output

struct Settings {
    int talkers = 500;
    int deaf = 1000;
    double rate = 9.5;
    int seconds = 20;
    bool keep = false;  // leave each run's files (chat.txt, world.log, bot.err) in place
};

struct Result {
    double load = 0;  // at the run's start
    long long said = 0;
    long long refused = 0;
    long long accepted = 0;
    long long logged = 0;   // of this run's lines, those in chat.txt (each once)
    long long missing = 0;  // accepted but not in chat.txt
    long long botLost = 0;
    long long deafLeft = 0;
    long long worldPeakKb = 0;
};

long long count(const std::string& text, const std::string& what) {
    long long found = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++found;
    }
    return found;
}

// Joins every client (Hello, Login, Enter, State sent at once), reading
// until each has its four replies. False when one was refused or timed out.
bool joinAll(std::vector<RawClient>& clients) {
    std::vector<int> replies(clients.size(), 0);
    std::size_t done = 0;
    const long long deadline = nowMs() + JOIN_TIMEOUT_MS;
    std::vector<Message> received;
    while (done < clients.size() && nowMs() < deadline) {
        std::vector<pollfd> fds;
        for (RawClient& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        ::poll(fds.data(), fds.size(), 100);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (replies[i] >= 4 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            received.clear();
            clients[i].flush();
            clients[i].receive(&received);
            for (const Message& m : received) {
                if (m.type == MessageType::Reply && m.code != SDK_OK) {
                    std::fprintf(stderr, "a join was refused: %d\n", m.code);
                    return false;
                }
                replies[i] += m.type == MessageType::Reply ? 1 : 0;
            }
            done += replies[i] >= 4 ? 1 : 0;
        }
    }
    return done == clients.size();
}

std::vector<RawClient> openClients(int count, int perAddress, int firstOctet, int port,
                                   int receiveBuffer, const std::string& name, int x, int z) {
    std::vector<RawClient> clients(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int address = i / perAddress;
        if (!clients[i].open(loopbackAddress(firstOctet, address / 250, address % 250 + 1), port,
                             receiveBuffer)) {
            std::perror("connect");
            return {};
        }
        sendJoin(clients[i], name + std::to_string(i), x + i % 100, z);
    }
    return clients;
}

bool run(const Settings& settings, int index, Result& result) {
    RealWorld world;
    if (!world.start(4096, true)) {
        return false;
    }
    if (settings.keep) {
        world.keep();
        std::fprintf(stderr, "run %d keeps its files in %s\n", index + 1, world.dir().c_str());
    }
    // The bot is in the world once the world logs its login.
    for (int waited = 0;
         readWholeFile(world.dir() / "world.log").find("citizen 1, bot") == std::string::npos;
         waited += 50) {
        if (waited > 10000) {
            std::fprintf(stderr, "the bot did not log in\n");
            return false;
        }
        ::usleep(50000);
    }
    // Deaf ones first, with small receive buffers: what they are sent piles
    // up in the world soon.
    std::vector<RawClient> deaf =
        openClients(settings.deaf, DEAF_PER_ADDRESS, 2, world.port(), 4096, "Deaf", 900000, 900000);
    std::vector<RawClient> talkers =
        openClients(settings.talkers, TALKERS_PER_ADDRESS, 1, world.port(), 0, "Talker", 0, 0);
    if (deaf.size() != static_cast<std::size_t>(settings.deaf) ||
        talkers.size() != static_cast<std::size_t>(settings.talkers) || !joinAll(deaf) ||
        !joinAll(talkers)) {
        std::fprintf(stderr, "the crowd did not join\n");
        return false;
    }
    const std::string tag = "hc-" + std::to_string(index) + "-";
    std::vector<long long> said(talkers.size(), 0);
    std::vector<Message> received;
    auto serveTalkers = [&](int timeoutMs) {
        std::vector<pollfd> fds;
        for (RawClient& talker : talkers) {
            fds.push_back(
                {talker.fd, static_cast<short>(POLLIN | (talker.unsent.empty() ? 0 : POLLOUT)), 0});
        }
        ::poll(fds.data(), fds.size(), timeoutMs);
        for (std::size_t i = 0; i < talkers.size(); ++i) {
            if ((fds[i].revents & POLLOUT) != 0) {
                talkers[i].flush();
            }
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                received.clear();
                talkers[i].receive(&received);
                for (const Message& m : received) {
                    result.refused += m.type == MessageType::Error &&
                                              m.request == MessageType::Say &&
                                              m.code == SDK_RC_RATE_LIMITED
                                          ? 1
                                          : 0;
                }
            }
        }
    };
    const long long start = nowMs();
    for (long long now = start; now - start < settings.seconds * 1000LL; now = nowMs()) {
        const double due = settings.rate * static_cast<double>(now - start) / 1000.0;
        for (std::size_t i = 0; i < talkers.size(); ++i) {
            // Each talker starts at its own moment within the first second.
            const double own = due - static_cast<double>(i % 100) / 100.0;
            while (static_cast<double>(said[i]) < own) {
                talkers[i].send(
                    sayMessage(tag + std::to_string(i) + "-" + std::to_string(said[i])));
                ++said[i];
                ++result.said;
            }
        }
        serveTalkers(10);
    }
    // What the talkers still hold leaves as the world takes it; then the
    // bot has until its log stops growing.
    const long long drainUntil = nowMs() + DRAIN_TIMEOUT_MS;
    auto unsent = [&] {
        return std::any_of(talkers.begin(), talkers.end(),
                           [](const RawClient& t) { return !t.unsent.empty() && !t.closed; });
    };
    while (unsent() && nowMs() < drainUntil) {
        serveTalkers(10);
    }
    std::size_t size = 0;
    for (long long quietSince = nowMs(); nowMs() - quietSince < QUIET_MS && nowMs() < drainUntil;) {
        serveTalkers(100);
        const std::size_t now = readWholeFile(world.dir() / "chat.txt").size();
        if (now != size) {
            size = now;
            quietSince = nowMs();
        }
    }
    result.worldPeakKb = statusKb(world.worldPid(), "VmHWM");
    result.accepted = result.said - result.refused;
    const std::string chat = readWholeFile(world.dir() / "chat.txt");
    std::set<std::string> lines;
    for (std::size_t at = chat.find(tag); at != std::string::npos; at = chat.find(tag, at + 1)) {
        lines.insert(chat.substr(at, chat.find('\n', at) - at));
    }
    result.logged = static_cast<long long>(lines.size());
    result.missing = result.accepted - result.logged;
    result.botLost = count(readWholeFile(world.dir() / "bot.err"), "Связь с миром потеряна");
    // The bot logs "NAME вышел(а) из мира" for every avatar that leaves.
    const std::string leftWords = utf8ToCp1251(" вышел(а) из мира");
    std::istringstream chatLines(chat);
    for (std::string line; std::getline(chatLines, line);) {
        result.deafLeft +=
            line.rfind("Deaf", 0) == 0 && line.size() > leftWords.size() &&
                    line.compare(line.size() - leftWords.size(), leftWords.size(), leftWords) == 0
                ? 1
                : 0;
    }
    for (RawClient& client : deaf) {
        client.close();
    }
    for (RawClient& client : talkers) {
        client.close();
    }
    return true;
}

template <typename Field>
std::string spread(const std::vector<Result>& results, Field Result::*field, int decimals = 0) {
    std::vector<double> values;
    for (const Result& r : results) {
        values.push_back(static_cast<double>(r.*field));
    }
    return bench::formatSpread(values, decimals);
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    bench::Options options;
    std::string error;
    std::vector<int> counts;
    bool usage = !bench::takeOptions(argc, argv, options, error);
    for (int i = 1; i < argc && !usage; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rate" && i + 1 < argc) {
            settings.rate = std::atof(argv[++i]);
        } else if (arg == "--seconds" && i + 1 < argc) {
            settings.seconds = std::atoi(argv[++i]);
        } else if (arg == "--keep") {
            settings.keep = true;
        } else if (std::atoi(argv[i]) > 0 && counts.size() < 2) {
            counts.push_back(std::atoi(argv[i]));
        } else {
            usage = true;
        }
    }
    if (usage || settings.rate <= 0 || settings.seconds <= 0) {
        return bench::usage(
            error, "tintbeacon_hostile_crowd [TALKERS] [DEAF] [--rate R] [--seconds S] [--keep]");
    }
    if (counts.size() > 0) {
        settings.talkers = counts[0];
    }
    if (counts.size() > 1) {
        settings.deaf = counts[1];
    }
    raiseFileLimit();
    bench::Report report(argv[0], options);
    std::vector<Result> results;
    const int measured = report.measure(1, [&](int i, std::size_t, double load) {
        Result result;
        result.load = load;
        if (!run(settings, i, result)) {
            return false;
        }
        std::fprintf(
            stderr,
            "run %d: said %lld, refused %lld, accepted %lld, in chat.txt %lld, missing %lld, "
            "bot lost the world %lld times, deaf that left %lld, world peak %lld kB\n",
            i + 1, result.said, result.refused, result.accepted, result.logged, result.missing,
            result.botLost, result.deafLeft, result.worldPeakKb);
        results.push_back(result);
        return true;
    });
    if (measured != 0) {
        return measured;
    }
    bench::Table table({"measure", "min / median / max"});
    table.add({"lines said", spread(results, &Result::said)});
    table.add({"refused by the world (21)", spread(results, &Result::refused)});
    table.add({"accepted lines missing from chat.txt", spread(results, &Result::missing)});
    table.add({"times the bot lost the world", spread(results, &Result::botLost)});
    table.add({"deaf tourists that left", spread(results, &Result::deafLeft)});
    table.add(
        {"world peak memory, kB (output budget " + std::to_string(WORLD_OUTPUT_BUDGET_KB) + " kB)",
         spread(results, &Result::worldPeakKb)});
    std::vector<double> loads;
    for (const Result& r : results) {
        loads.push_back(r.load);
    }
    table.add({"load", report.loadCell(loads)});
    table.print();
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", settings.rate);
    std::vector<std::string> arguments = {std::to_string(settings.talkers),
                                          std::to_string(settings.deaf),
                                          "--rate",
                                          rate,
                                          "--seconds",
                                          std::to_string(settings.seconds)};
    if (settings.keep) {
        arguments.push_back("--keep");
    }
    report.finish(arguments);
    bool failed = false;
    for (const Result& r : results) {
        failed |= r.missing != 0 || r.botLost != 0;
    }
    return failed ? 1 : 0;
}

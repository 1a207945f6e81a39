// What one client address can make a public world accept, whatever it does.
// The real world (every default limit) and the real bot run as child
// processes; for each action an attacker of its own address does it as fast
// as its sockets take it, for S seconds, over as many connections as the
// address may hold: said lines, moves, world entries, logins with wrong
// passwords, and new connections. It prints what the world accepted beside
// the allowance the defaults give an address in that time, the attempts,
// and how much the world's log grew; min, median and max over the runs.
// Counts, not times: it has no floor.
//
//   tintbeacon_address_flood [--seconds S] [--runs N] [--strict] [--settle S]
//   (defaults 20 s, 3 runs)

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_report.h"
#include "protocol/monotonic_clock.h"
#include "raw_client.h"
#include "real_world.h"
#include "sdk/reason_codes.h"

using wire::Message;
using wire::MessageType;

namespace {

// The world's defaults, as an address sees them: what 4 sessions may.
constexpr int SHARE = 4;
constexpr int CONNECTIONS_AT_ONCE = 16;

enum class Action { Lines, Moves, Entries, Logins, Connections };
constexpr Action ACTIONS[] = {Action::Lines, Action::Moves, Action::Entries, Action::Logins,
                              Action::Connections};

const char* nameOf(Action action) {
    switch (action) {
        case Action::Lines:
            return "said lines";
        case Action::Moves:
            return "moves (State)";
        case Action::Entries:
            return "world entries";
        case Action::Logins:
            return "logins looked at";
        case Action::Connections:
            return "connections";
    }
    return "";
}

// What the defaults allow one address in `seconds`: a burst, then a rate.
// Joining the flooders counts: their entries and first moves are in it.
double allowance(Action action, int seconds) {
    switch (action) {
        case Action::Lines:
            return SHARE * (10.0 * seconds + 20);
        case Action::Moves:
            return SHARE * (20.0 * seconds + 40);
        case Action::Entries:
            return SHARE * (0.2 * seconds + 3);
        case Action::Logins: {
            // Three free, then waits of 1, 2, 4, ... 60 s between them.
            double looked = 3, at = 0;
            for (long long wait = 1000; at + static_cast<double>(wait) / 1000 <= seconds;
                 wait = std::min(wait * 2, 60000LL)) {
                at += static_cast<double>(wait) / 1000;
                ++looked;
            }
            return looked + 1;  // the one that starts the first wait
        }
        case Action::Connections:
            return 16 + 2.0 * seconds;
    }
    return 0;
}

struct Outcome {
    long long accepted = 0;
    long long attempts = 0;
    long long logBytes = 0;
};

Message request(MessageType type) {
    Message m;
    m.type = type;
    if (type == MessageType::Enter) {
        m.name = "welcome";
    }
    return m;
}

Message wrongLogin() {
    Message m;
    m.type = MessageType::Login;
    m.citizen = RealWorld::SPEAKER_CITIZEN;
    m.password = "guess";
    m.name = "Guesser";
    return m;
}

// Replies and refusals of one kind in what a client received.
long long answered(const std::vector<Message>& received, MessageType type, int code) {
    return std::count_if(received.begin(), received.end(), [&](const Message& m) {
        return (m.type == MessageType::Reply || m.type == MessageType::Error) &&
               m.request == type && m.code == code;
    });
}

// Keeps the clients' sockets full of the action's requests and reads what
// comes, for `seconds`; counts what the world accepted.
Outcome flood(Action action, int port, int octet, int seconds, RawClient& listener) {
    Outcome outcome;
    const std::uint32_t from = loopbackAddress(3, 0, octet);
    std::vector<RawClient> clients;
    std::vector<Message> received;
    auto openOne = [&](bool join) {
        RawClient client;
        if (!client.open(from, port)) {
            return false;
        }
        if (join) {
            sendJoin(client, "Flooder" + std::to_string(clients.size()), 0, 0);
        } else {
            client.send(request(MessageType::Hello));
        }
        clients.push_back(std::move(client));
        return true;
    };
    const bool joins =
        action == Action::Lines || action == Action::Moves || action == Action::Entries;
    if (joins) {
        for (int i = 0; i < CONNECTIONS_AT_ONCE; ++i) {
            openOne(true);
        }
    }
    long long sequence = 0;
    const long long end = nowMs() + seconds * 1000LL;
    while (nowMs() < end) {
        if (action == Action::Connections || action == Action::Logins) {
            // New connections as fast as the address may open them, and
            // faster: the world says no to the rest.
            clients.erase(std::remove_if(clients.begin(), clients.end(),
                                         [](const RawClient& c) { return c.closed; }),
                          clients.end());
            while (clients.size() < CONNECTIONS_AT_ONCE) {
                ++outcome.attempts;
                if (!openOne(false)) {
                    break;
                }
                if (action == Action::Logins && !clients.empty()) {
                    for (int i = 0; i < 4; ++i) {
                        clients.back().send(wrongLogin());
                    }
                }
            }
        }
        // In batches, one write each, and no more than the socket holds: an
        // attacker that cannot read its refusals as fast as they come is
        // dropped, and would measure nothing.
        for (RawClient& client : clients) {
            for (int i = 0; joins && !client.closed && client.unsent.size() < 16384 && i < 256;
                 ++i) {
                const Message m = action == Action::Lines
                                      ? sayMessage("flood-" + std::to_string(sequence++))
                                      : request(action == Action::Moves ? MessageType::State
                                                                        : MessageType::Enter);
                wire::encodeFrame(m, client.unsent);
                ++outcome.attempts;
            }
            client.flush();
        }
        std::vector<pollfd> fds;
        for (RawClient& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        fds.push_back({listener.fd, POLLIN, 0});
        ::poll(fds.data(), fds.size(), 1);
        for (RawClient& client : clients) {
            received.clear();
            client.receive(
                action == Action::Lines ? nullptr : &received,
                action == Action::Connections ? static_cast<MessageType>(0) : MessageType::Reply);
            switch (action) {
                case Action::Moves:
                    outcome.accepted += answered(received, MessageType::State, SDK_OK);
                    break;
                case Action::Entries:
                    outcome.accepted += answered(received, MessageType::Enter, SDK_OK);
                    break;
                case Action::Logins:
                    outcome.accepted +=
                        answered(received, MessageType::Login, SDK_RC_BAD_CREDENTIALS);
                    if (answered(received, MessageType::Login, SDK_RC_RATE_LIMITED) > 0) {
                        client.close();  // a barred address: try again on a new connection
                    }
                    break;
                case Action::Connections:
                    if (answered(received, MessageType::Hello, SDK_OK) > 0) {
                        ++outcome.accepted;
                        client.close();
                    }
                    break;
                case Action::Lines:
                    break;
            }
        }
        received.clear();
        listener.receive(&received, MessageType::Chat);
        if (action == Action::Lines) {
            outcome.accepted +=
                std::count_if(received.begin(), received.end(), [](const Message& m) {
                    return m.type == MessageType::Chat && m.text.rfind("flood-", 0) == 0;
                });
        }
    }
    for (RawClient& client : clients) {
        client.close();
    }
    return outcome;
}

// The world, a listener of its own address to hear the attacker's lines, and
// every action in turn, each from an address of its own.
bool run(int seconds, std::vector<std::vector<Outcome>>& outcomes, int index) {
    RealWorld world;
    if (!world.start(4096, true)) {
        return false;
    }
    RawClient listener;
    if (!listener.open(loopbackAddress(4, 0, 1), world.port())) {
        return false;
    }
    sendJoin(listener, "Listener", 0, 0);
    int octet = 1;
    for (std::size_t a = 0; a < std::size(ACTIONS); ++a) {
        const auto logBefore = std::filesystem::file_size(world.dir() / "world.log");
        Outcome outcome = flood(ACTIONS[a], world.port(), octet++, seconds, listener);
        outcome.logBytes = static_cast<long long>(
            std::filesystem::file_size(world.dir() / "world.log") - logBefore);
        outcomes[a].push_back(outcome);
        std::fprintf(stderr, "run %d, %s: accepted %lld of %lld attempts, world log +%lld bytes\n",
                     index + 1, nameOf(ACTIONS[a]), outcome.accepted, outcome.attempts,
                     outcome.logBytes);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    std::string error;
    int seconds = 20;
    bool usage = !bench::takeOptions(argc, argv, options, error);
    for (int i = 1; i < argc && !usage; i += 2) {
        usage = std::string(argv[i]) != "--seconds" || i + 1 >= argc ||
                (seconds = std::atoi(argv[i + 1])) <= 0;
    }
    if (usage) {
        return bench::usage(error, "tintbeacon_address_flood [--seconds S]");
    }
    raiseFileLimit();
    bench::Report report(argv[0], options);
    std::vector<std::vector<Outcome>> outcomes(std::size(ACTIONS));
    std::vector<double> loads;
    const int status = report.measure(1, [&](int i, std::size_t, double load) {
        loads.push_back(load);
        return run(seconds, outcomes, i);
    });
    if (status != 0) {
        return status;
    }
    bench::Table table({"one address, " + std::to_string(seconds) + " s", "accepted", "allowance",
                        "attempts", "world log, bytes", "load"});
    for (std::size_t a = 0; a < std::size(ACTIONS); ++a) {
        std::vector<double> accepted, attempts, log;
        for (const Outcome& o : outcomes[a]) {
            accepted.push_back(static_cast<double>(o.accepted));
            attempts.push_back(static_cast<double>(o.attempts));
            log.push_back(static_cast<double>(o.logBytes));
        }
        char allowed[32];
        std::snprintf(allowed, sizeof allowed, "%.0f", allowance(ACTIONS[a], seconds));
        table.add({nameOf(ACTIONS[a]), bench::formatSpread(accepted, 0), allowed,
                   bench::formatSpread(attempts, 0), bench::formatSpread(log, 0),
                   report.loadCell(loads)});
    }
    table.print();
    report.finish({"--seconds", std::to_string(seconds)});
    return 0;
}

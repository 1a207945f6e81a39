// Memory of a world server under tourists that never read and one flooder,
// and the time a silent connection stays open. Starts the given world binary
// (so that two builds can be compared), logs in N tourists next to a
// flooder, stops reading for them, and has the flooder say long lines as
// fast as the world takes them for some seconds; samples the world's
// resident memory from /proc meanwhile. Then opens one connection that
// sends nothing and waits (at most 15 s) for the world to close it. A new
// world each run; min / median / max over the runs.
//
//   tintbeacon_world_memory WORLD_BINARY [TOURISTS] [SECONDS] [WORLD OPTION]...
//                           [--runs N] [--strict] [--settle S]
//                           (defaults 50 and 5, 3 runs)

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "child_output.h"
#include "e2e/child_process.h"
#include "protocol/wire_message.h"
#include "sdk/reason_codes.h"
#include "sdk/world_connection.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr int TIMEOUT_MS = 10000;
constexpr int SILENT_PATIENCE_MS = 15000;
using Clock = std::chrono::steady_clock;

struct Figures {
    double load = 0;
    double idle = 0, loggedIn = 0, peak = 0, after = 0;  // resident MiB
    double said = 0, dropped = 0;
    double silentMs = -1;  // -1: still open after SILENT_PATIENCE_MS
};

// Resident memory of the process in MiB, from /proc; -1 when it is gone.
double residentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return -1;
}

bool join(WorldConnection& connection, int port, const std::string& name) {
    if (connection.open("127.0.0.1", port, TIMEOUT_MS) != SDK_OK) {
        return false;
    }
    Message login;
    login.type = MessageType::Login;
    login.name = name;
    Message enter;
    enter.type = MessageType::Enter;
    enter.name = "welcome";
    return connection.request(login, TIMEOUT_MS) == SDK_OK &&
           connection.request(enter, TIMEOUT_MS) == SDK_OK;
}

// Milliseconds until the server closes a connection that sends nothing; -1
// when it stays open past the patience.
long long silentConnectionLifetime(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = Clock::now();
    long long lifetime = -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        pollfd waiting{fd, POLLIN, 0};
        char buffer[256];
        while (::poll(&waiting, 1, SILENT_PATIENCE_MS) > 0) {
            if (::recv(fd, buffer, sizeof buffer, 0) <= 0) {
                lifetime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                                 start)
                               .count();
                break;
            }
        }
    }
    ::close(fd);
    return lifetime;
}

// One run against a new world; false with a message when it cannot start.
bool measure(const std::string& world, int tourists, int seconds,
             const std::vector<std::string>& options, Figures& figures) {
    char pattern[] = "/tmp/tintbeacon-memory-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return false;
    }
    // Removed however the run ends, after the world has stopped.
    struct ScratchDirectory {
        std::filesystem::path path;
        ~ScratchDirectory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } scratch{pattern};
    const std::filesystem::path& dir = scratch.path;
    ChildProcess server;
    if (!server.start(world, options, dir.string(), (dir / "world.out").string(),
                      (dir / "world.err").string())) {
        std::fprintf(stderr, "cannot start %s\n", world.c_str());
        return false;
    }
    const int port = awaitListeningPort(dir / "world.out", 5000);
    const pid_t pid = server.pid();
    if (port == 0 || pid <= 0) {
        std::fprintf(stderr, "the world did not start\n");
        return false;
    }
    figures.idle = residentMiB(pid);

    WorldConnection flooder;
    std::vector<std::unique_ptr<WorldConnection>> deaf;
    bool joined = join(flooder, port, "Flooder");
    for (int i = 0; joined && i < tourists; ++i) {
        deaf.push_back(std::make_unique<WorldConnection>());
        joined = join(*deaf.back(), port, "Deaf" + std::to_string(i));
    }
    if (!joined) {
        std::fprintf(stderr, "could not log everyone in\n");
        return false;
    }
    figures.loggedIn = residentMiB(pid);

    // The flooder says as fast as the world reads and reads what it is sent
    // (refusals), so that it is not the one dropped; the tourists read nothing.
    Message say;
    say.type = MessageType::Say;
    say.text = std::string(wire::MAX_CHAT_BYTES - 8, 'x');
    long long said = 0;
    double peak = figures.loggedIn;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    auto nextSample = Clock::now();
    while (Clock::now() < end) {
        for (int i = 0; i < 100; ++i) {
            if (flooder.post(say) == SDK_OK) {
                ++said;
            }
        }
        flooder.flush();
        flooder.wait(1);
        flooder.receive();
        flooder.events().clear();
        if (Clock::now() >= nextSample) {
            peak = std::max(peak, residentMiB(pid));
            nextSample += std::chrono::milliseconds(100);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    figures.peak = peak;
    figures.after = residentMiB(pid);
    figures.said = static_cast<double>(said);
    int dropped = 0;
    for (auto& connection : deaf) {
        // A dropped tourist's socket reads to its end.
        pollfd readable{connection->fd(), POLLIN, 0};
        while (connection->isOpen() && ::poll(&readable, 1, 200) > 0) {
            connection->receive();
            connection->events().clear();
            readable.fd = connection->fd();
        }
        dropped += connection->isOpen() ? 0 : 1;
    }
    figures.dropped = dropped;
    figures.silentMs = static_cast<double>(silentConnectionLifetime(port));
    server.stop(SIGTERM);
    return true;
}

template <typename Field>
std::string spread(const std::vector<Figures>& runs, Field Figures::*field, int decimals) {
    std::vector<double> values;
    for (const Figures& f : runs) {
        values.push_back(f.*field);
    }
    return bench::formatSpread(values, decimals);
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options harness;
    std::string error;
    if (!bench::takeOptions(argc, argv, harness, error) || argc < 2) {
        return bench::usage(error,
                            "tintbeacon_world_memory WORLD_BINARY [TOURISTS] [SECONDS] "
                            "[WORLD OPTION]...");
    }
    const std::string world = std::filesystem::absolute(argv[1]).string();
    const int tourists = argc > 2 ? std::atoi(argv[2]) : 50;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 5;
    std::vector<std::string> options = {"--listen", "127.0.0.1:0"};
    options.insert(options.end(), argv + std::min(argc, 4), argv + argc);
    ::signal(SIGPIPE, SIG_IGN);
    bench::Report report(argv[0], harness);
    std::vector<Figures> runs;
    const int status = report.measure(1, [&](int, std::size_t, double load) {
        runs.emplace_back();
        runs.back().load = load;
        return measure(world, tourists, seconds, options, runs.back());
    });
    if (status != 0) {
        return status;
    }
    std::vector<double> loads;
    bool silentStayed = false;
    for (const Figures& f : runs) {
        loads.push_back(f.load);
        silentStayed |= f.silentMs < 0;
    }
    std::printf("\nworld %s, %d never-reading tourists, a flooder for %d s\n", world.c_str(),
                tourists, seconds);
    bench::Table table({"measure", "min / median / max"});
    table.add({"resident MiB, idle", spread(runs, &Figures::idle, 1)});
    table.add({"resident MiB, logged in", spread(runs, &Figures::loggedIn, 1)});
    table.add({"resident MiB, peak while flooded", spread(runs, &Figures::peak, 1)});
    table.add({"resident MiB, 0.5 s after", spread(runs, &Figures::after, 1)});
    table.add({"lines the flooder posted", spread(runs, &Figures::said, 0)});
    table.add({"tourists dropped by the world, of " + std::to_string(tourists),
               spread(runs, &Figures::dropped, 0)});
    table.add({"ms until the world closed a silent connection",
               silentStayed ? "still open after " + std::to_string(SILENT_PATIENCE_MS) + " ms"
                            : spread(runs, &Figures::silentMs, 0)});
    table.add({"load", report.loadCell(loads)});
    table.print();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (argc < 4) {
        arguments.resize(3);
        arguments[1] = std::to_string(tourists);
        arguments[2] = std::to_string(seconds);
    }
    report.finish(arguments);
    return 0;
}

#include "real_world.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace {

constexpr int READY_TIMEOUT_MS = 10000;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The world's --help, so that a benchmark can run an older world too: its
// options tell which limits it has to switch off, and whether it marks bots.
std::string worldHelp(const std::string& program, const std::filesystem::path& dir) {
    ChildProcess help;
    const std::string out = (dir / "world-help.txt").string();
    if (!help.start(program, {"--help"}, dir.string(), out, (dir / "world-help.err").string())) {
        return "";
    }
    for (int waited = 0; waited < READY_TIMEOUT_MS && readFile(out).find("\n") == std::string::npos;
         waited += 10) {
        ::usleep(10000);
    }
    help.stop(SIGTERM);
    return readFile(out);
}

// The port from the world's ready line, once it has printed it, or 0.
int awaitReadyPort(const std::filesystem::path& out) {
    const std::string marker = "listening on ";
    for (int waited = 0; waited < READY_TIMEOUT_MS; waited += 10) {
        const std::string text = readFile(out);
        const std::size_t at = text.find(marker);
        const std::size_t end = text.find('\n', at);
        if (at != std::string::npos && end != std::string::npos) {
            const std::size_t colon = text.rfind(':', end);
            return std::atoi(text.substr(colon + 1, end - colon - 1).c_str());
        }
        ::usleep(10000);
    }
    return 0;
}

}  // namespace

RealWorld::~RealWorld() {
    bot_.stop(SIGTERM);
    world_.stop(SIGTERM);
    if (!dir_.empty() && !keep_) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool RealWorld::start(std::size_t maxClients, bool publicLimits) {
    char pattern[] = "/tmp/tintbeacon-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return false;
    }
    dir_ = pattern;
    const std::string world = std::string(TINTBEACON_BIN_DIR) + "/tintbeacon-world";
    const std::string help = worldHelp(world, dir_);
    const bool marksBots = help.find(":bot") != std::string::npos;
    std::vector<std::string> args = {
        "--listen",      "127.0.0.1:0",
        "--max-clients", std::to_string(maxClients),
        "--citizen",     marksBots ? "1:bench:bot" : "1:bench",
        "--citizen",     std::to_string(SPEAKER_CITIZEN) + ":" + SPEAKER_PASSWORD};
    if (!publicLimits && help.find("--chat-rate") != std::string::npos) {
        args.insert(args.end(), {"--chat-rate", "0"});
    }
    if (!publicLimits && help.find("--exempt") != std::string::npos) {
        args.insert(args.end(), {"--exempt", "127.0.0.1"});
    }
    // The places kept for citizens come out of --max-clients: 16 of them,
    // so that maxClients - 16 tourists fit, as asked.
    if (!publicLimits && help.find("--reserved-places") != std::string::npos) {
        args.insert(args.end(), {"--reserved-places", "16"});
    }
    if (!world_.start(world, args, dir_.string(), (dir_ / "world.out").string(),
                      (dir_ / "world.log").string())) {
        std::fprintf(stderr, "the world server did not start\n");
        return false;
    }
    port_ = awaitReadyPort(dir_ / "world.out");
    if (port_ == 0) {
        std::fprintf(stderr, "the world server did not get ready\n");
        return false;
    }
    std::ofstream(dir_ / "address.txt") << "127.0.0.1\n" << port_ << "\n";
    std::ofstream(dir_ / "home.txt") << "welcome\n0N 0W\n";
    std::ofstream(dir_ / "account.txt") << "1\nbench\nyes\n0.4\n";
    if (!bot_.start(std::string(TINTBEACON_BIN_DIR) + "/tintbeacon", {}, dir_.string(),
                    (dir_ / "bot.out").string(), (dir_ / "bot.err").string(), {"LC_ALL=C.UTF-8"})) {
        std::fprintf(stderr, "the bot did not start\n");
        return false;
    }
    return true;
}

long long statusKb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, field.size() + 1, field + ":") == 0) {
            return std::atoll(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

double cpuSeconds(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    // The command name may hold spaces: the fields go on after its ')'.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) {
        fields >> skip;
    }
    long long user = 0, system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string loadAverage() {
    std::istringstream in(readFile("/proc/loadavg"));
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

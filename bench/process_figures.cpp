#include "process_figures.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "child_output.h"

long long statusKb(pid_t pid, const std::string& field) {
    return procField(pid, "status", field);
}

long long procField(pid_t pid, const std::string& file, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, field.size() + 1, field + ":") == 0) {
            return std::atoll(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

double cpuSeconds(pid_t pid) {
    const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    // The command name may hold spaces: the fields go on after its ')'.
    std::istringstream fields(stat.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) {
        fields >> skip;
    }
    long long user = 0, system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long long onCpuNanoseconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long onCpu = 0;
    in >> onCpu;
    return onCpu;
}

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

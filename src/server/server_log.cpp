#include "server/server_log.h"

#include <cstdio>
#include <ctime>

std::string logTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto whole = floor<std::chrono::seconds>(when);
    const std::time_t seconds = system_clock::to_time_t(whole);
    const auto millis = duration_cast<milliseconds>(when - whole).count();
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char date[32];
    char zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // "+0100"
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(millis), zone,
                  zone + 3);
    return text;
}

void logLine(const std::string& line) {
    std::fprintf(stderr, "%s tintbeacon-world: %s\n",
                 logTimestamp(std::chrono::system_clock::now()).c_str(), line.c_str());
}

#include "server/server_log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/local_time.h"

std::string logTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto whole = floor<std::chrono::seconds>(when);
    const std::time_t seconds = system_clock::to_time_t(whole);
    const auto millis = duration_cast<milliseconds>(when - whole).count();
    LocalTime local;
    toLocalTime(seconds, local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local.fields);
    // The offset is formatted here: "%z" gives a zone's name on some systems.
    const int offset = std::abs(local.offsetMinutes);
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02d:%02d", date, static_cast<int>(millis),
                  local.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

void logLine(const std::string& line) {
    std::fprintf(stderr, "%s tintbeacon-world: %s\n",
                 logTimestamp(std::chrono::system_clock::now()).c_str(), line.c_str());
}

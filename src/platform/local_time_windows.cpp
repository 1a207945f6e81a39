#include "platform/local_time.h"

bool toLocalTime(std::time_t moment, LocalTime& local) {
    local = LocalTime{};
    if (::localtime_s(&local.fields, &moment) != 0) {
        local = LocalTime{};
        return false;
    }
    // The local fields read as if they were UTC, less the moment itself.
    std::tm fields = local.fields;
    const std::time_t asUtc = ::_mkgmtime(&fields);
    if (asUtc == static_cast<std::time_t>(-1)) {
        local = LocalTime{};
        return false;
    }
    local.offsetMinutes = static_cast<int>((asUtc - moment) / 60);
    return true;
}

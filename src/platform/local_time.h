#pragma once

// The local time of a moment, as the system's time zone settings (TZ
// included) give it.

#include <ctime>

struct LocalTime {
    std::tm fields{};
    int offsetMinutes = 0;  // local time minus UTC: 60 for UTC+01:00, -210 for UTC-03:30
};

// False when the moment cannot be shown in local time (out of the system's
// range); the fields are then zero.
bool toLocalTime(std::time_t moment, LocalTime& local);

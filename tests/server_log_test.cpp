#include "server/server_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "support/test_system.h"

TEST(ServerLog, TimestampIsIso8601LocalTimeWithMillisecondsAndOffset) {
    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    struct Case {
        const char* zone;
        long long ms;
        const char* text;
    };
    const Case cases[] = {
        {"UTC0", 1765319401123, "2025-12-09T22:30:01.123+00:00"},
        {"UTC0", 1765319401005, "2025-12-09T22:30:01.005+00:00"},
        // Zones in the form that every C library reads: name, then hours west of UTC.
        {"IST-5:30", 1765319401999, "2025-12-10T04:00:01.999+05:30"},
        {"ART3", 1765324800000, "2025-12-09T21:00:00.000-03:00"},
        {"NST3:30", 1765324800000, "2025-12-09T20:30:00.000-03:30"},
    };
    for (const Case& c : cases) {
        setEnvironmentVariable("TZ", c.zone);
        ::tzset();
        const std::chrono::system_clock::time_point when{std::chrono::milliseconds(c.ms)};
        EXPECT_EQ(logTimestamp(when), c.text) << c.zone;
    }
    if (saved != nullptr) {
        setEnvironmentVariable("TZ", before);
    } else {
        unsetEnvironmentVariable("TZ");
    }
    ::tzset();
}

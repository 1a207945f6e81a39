#include "server/log_throttle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(LogThrottle, ABurstIsWrittenTheRestCountedAndSummarizedOncePerPeriod) {
    std::vector<std::string> written;
    LogThrottle log([&](const std::string& line) { written.push_back(line); }, 10000, 2);
    for (int i = 1; i <= 5; ++i) {
        log.log("connection", "connection " + std::to_string(i), 1000 + i);
    }
    log.log("refused login", "refused 1", 1500);  // another kind has its own burst
    EXPECT_EQ(log.nextDueMs(), 11001);
    log.flush(11000);  // the period has not ended yet
    EXPECT_EQ(written, (std::vector<std::string>{"connection 1", "connection 2", "refused 1"}));

    log.flush(11001);
    EXPECT_EQ(written.back(),
              "3 more connection lines in 10 s, not written; the last: connection 5");
    EXPECT_EQ(log.nextDueMs(), 0);  // nothing left out since
    // A new period begins with the next line, which is written again.
    log.log("connection", "connection 6", 30000);
    EXPECT_EQ(written.back(), "connection 6");
    log.flush(100000);
    EXPECT_EQ(written.size(), 5u);  // a period with nothing left out needs no summary
}

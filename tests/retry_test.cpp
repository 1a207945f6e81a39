// The delay between attempts to reach a world, and which failures of a run
// of attempts are reported.

#include <gtest/gtest.h>

#include <vector>

#include "sdk/failure_streak.h"
#include "sdk/retry_delay.h"

namespace {

std::vector<int> delays(RetryDelay& delay, int count) {
    std::vector<int> taken;
    for (int i = 0; i < count; ++i) {
        taken.push_back(delay.next());
    }
    return taken;
}

TEST(RetryDelay, StartsOverOnlyAfterAConnectionThatLasted) {
    RetryDelay delay(100, 2000, 10000);
    EXPECT_EQ(delays(delay, 7), (std::vector<int>{100, 200, 400, 800, 1600, 2000, 2000}));

    // A world that takes the login and drops at once keeps the delay long.
    delay.connected(50000);
    delay.lost(50020);
    EXPECT_EQ(delay.next(), 2000);

    delay.connected(60000);
    delay.lost(70000);
    EXPECT_EQ(delays(delay, 2), (std::vector<int>{100, 200}));

    delay.reset();
    EXPECT_EQ(delay.next(), 100);
}

TEST(FailureStreak, TellsEachNewReasonInFullThenRemindsAtGrowingSpacing) {
    using Report = FailureStreak::Report;
    FailureStreak streak;
    const long long first = FailureStreak::REMINDER_FIRST_MS;
    EXPECT_EQ(streak.fail(14, 0), Report::Full);
    EXPECT_EQ(streak.fail(14, 2000), Report::Quiet);
    EXPECT_EQ(streak.fail(14, first), Report::Reminder);
    EXPECT_EQ(streak.fail(14, first + 2 * first - 1), Report::Quiet);
    EXPECT_EQ(streak.fail(14, first + 2 * first), Report::Reminder);
    EXPECT_EQ(streak.count(), 5);

    EXPECT_EQ(streak.fail(7, 40000), Report::Full);  // another reason: a new streak
    EXPECT_EQ(streak.count(), 1);
    streak.succeed();
    EXPECT_EQ(streak.fail(7, 40001), Report::Full);

    // The spacing stops growing at its longest.
    long long now = 0;
    FailureStreak longRun;
    longRun.fail(5, now);
    for (int i = 0; i < 20; ++i) {
        now += FailureStreak::REMINDER_MAX_MS;
        EXPECT_EQ(longRun.fail(5, now), Report::Reminder) << i;
    }
}

}  // namespace

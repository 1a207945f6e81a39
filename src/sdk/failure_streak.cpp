#include "sdk/failure_streak.h"

#include <algorithm>

FailureStreak::Report FailureStreak::fail(int reason, long long nowMs) {
    if (count_ == 0 || reason != reason_) {
        reason_ = reason;
        count_ = 1;
        spacingMs_ = REMINDER_FIRST_MS;
        nextReminderMs_ = nowMs + spacingMs_;
        return Report::Full;
    }
    ++count_;
    if (nowMs < nextReminderMs_) {
        return Report::Quiet;
    }
    spacingMs_ = std::min(spacingMs_ * 2, REMINDER_MAX_MS);
    nextReminderMs_ = nowMs + spacingMs_;
    return Report::Reminder;
}

void FailureStreak::succeed() {
    count_ = 0;
    reason_ = 0;
}

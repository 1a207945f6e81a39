#pragma once

// Which failures of a retried operation to report, so that a world that stays
// unreachable (or keeps refusing) is told once in full and then only now and
// then, not at every attempt.

// A run of failures is one streak while the reason stays the same. The first
// failure of a streak is reported in full; later ones as a short reminder
// once REMINDER_FIRST_MS has passed, each spacing twice the last, up to
// REMINDER_MAX_MS; the rest not at all.
class FailureStreak {
  public:
    static constexpr long long REMINDER_FIRST_MS = 10000;
    static constexpr long long REMINDER_MAX_MS = 600000;

    enum class Report { Full, Reminder, Quiet };

    // Counts a failure with the given reason at the given time (ms, any
    // monotonic base) and says how to report it.
    Report fail(int reason, long long nowMs);
    // Ends the streak: the next failure is reported in full.
    void succeed();

    // Failures counted in the current streak, this one included.
    int count() const { return count_; }

  private:
    int reason_ = 0;
    int count_ = 0;
    long long nextReminderMs_ = 0;
    long long spacingMs_ = REMINDER_FIRST_MS;
};

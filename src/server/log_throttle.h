#pragma once

// Keeps a flood of like events from flooding the log. Lines are logged by
// kind (a short fixed text: "connection", "refused login"); in each period
// the first `burst` lines of a kind are written as they come, the rest are
// counted, and when the period ends one line tells how many were left out
// and repeats the last of them. A quiet kind costs nothing: its period
// starts with its next line. The number of kinds is the caller's, so keep
// it fixed (never a kind per address or per connection).

#include <functional>
#include <map>
#include <string>

class LogThrottle {
  public:
    using Sink = std::function<void(const std::string&)>;

    static constexpr long long DEFAULT_PERIOD_MS = 10000;
    static constexpr int DEFAULT_BURST = 10;

    explicit LogThrottle(Sink sink, long long periodMs = DEFAULT_PERIOD_MS,
                         int burst = DEFAULT_BURST);

    // Writes the line, or counts it when its kind has used up this period's
    // burst.
    void log(const std::string& kind, const std::string& line, long long nowMs);
    // Writes the summary of every period that has ended by `nowMs`.
    void flush(long long nowMs);
    // When the next summary is due (0 when none is waiting): a loop that
    // sleeps should wake by then.
    long long nextDueMs() const;

  private:
    struct Kind {
        long long periodEndMs = 0;
        int written = 0;
        long long skipped = 0;
        std::string lastSkipped;
    };
    void summarize(const std::string& kind, Kind& state);

    Sink sink_;
    long long periodMs_;
    int burst_;
    std::map<std::string, Kind> kinds_;
};

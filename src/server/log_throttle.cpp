#include "server/log_throttle.h"

#include <utility>

LogThrottle::LogThrottle(Sink sink, long long periodMs, int burst)
    : sink_(std::move(sink)), periodMs_(periodMs), burst_(burst) {}

void LogThrottle::log(const std::string& kind, const std::string& line, long long nowMs) {
    Kind& state = kinds_[kind];
    if (state.periodEndMs != 0 && nowMs >= state.periodEndMs) {
        summarize(kind, state);
    }
    if (state.periodEndMs == 0) {
        state.periodEndMs = nowMs + periodMs_;
    }
    if (state.written < burst_) {
        ++state.written;
        sink_(line);
        return;
    }
    ++state.skipped;
    state.lastSkipped = line;
}

void LogThrottle::flush(long long nowMs) {
    for (auto& [kind, state] : kinds_) {
        if (state.periodEndMs != 0 && nowMs >= state.periodEndMs) {
            summarize(kind, state);
        }
    }
}

long long LogThrottle::nextDueMs() const {
    long long next = 0;
    for (const auto& [kind, state] : kinds_) {
        if (state.skipped > 0 && (next == 0 || state.periodEndMs < next)) {
            next = state.periodEndMs;
        }
    }
    return next;
}

void LogThrottle::summarize(const std::string& kind, Kind& state) {
    if (state.skipped > 0) {
        sink_(std::to_string(state.skipped) + " more " + kind + " lines in " +
              std::to_string(periodMs_ / 1000) + " s, not written; the last: " + state.lastSkipped);
    }
    state = Kind{};
}

#pragma once

// The delay between attempts to reach a world: it doubles from the first to
// the longest, and starts over only when a connection has stayed up long
// enough to count as working, so a world that accepts and drops at once is
// not hammered.

#include <algorithm>

class RetryDelay {
  public:
    // stableMs: how long a connection must last before a loss starts over.
    RetryDelay(int firstMs, int maxMs, int stableMs)
        : firstMs_(firstMs), maxMs_(maxMs), stableMs_(stableMs), nextMs_(firstMs) {}

    // A connection came up at the given time (ms, any monotonic base).
    void connected(long long nowMs) { upSinceMs_ = nowMs; }
    // The connection was lost at the given time.
    void lost(long long nowMs) {
        if (nowMs - upSinceMs_ >= stableMs_) {
            nextMs_ = firstMs_;
        }
    }
    // Starts over, whatever came before.
    void reset() { nextMs_ = firstMs_; }
    // The delay before the next attempt; each call doubles the one after.
    int next() {
        int delay = nextMs_;
        nextMs_ = std::min(nextMs_ * 2, maxMs_);
        return delay;
    }

  private:
    int firstMs_;
    int maxMs_;
    long long stableMs_;
    int nextMs_;
    long long upSinceMs_ = 0;
};

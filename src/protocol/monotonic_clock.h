#pragma once

// Milliseconds on the monotonic clock: the time base of every deadline and
// timeout on both ends of the wire (it never jumps with the wall clock).

#include <chrono>

inline long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

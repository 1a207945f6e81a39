#include "avatar/latency_stats.h"

#include <algorithm>
#include <cmath>

void LatencyStats::add(double milliseconds) {
    ++count_;
    if (samples_.size() < maxSamples_) {
        samples_.push_back(milliseconds);
        return;
    }
    // Reservoir sampling: the new sample replaces a kept one with the chance
    // that keeps every sample so far equally likely to be in the reservoir.
    const std::uint64_t slot = random_() % count_;
    if (slot < maxSamples_) {
        samples_[static_cast<std::size_t>(slot)] = milliseconds;
    }
}

double LatencyStats::percentile(double p) const {
    if (samples_.empty()) {
        return 0.0;
    }
    std::vector<double> sorted = samples_;
    std::sort(sorted.begin(), sorted.end());
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    rank = std::clamp<std::size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

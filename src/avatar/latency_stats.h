#pragma once

// Latency samples and their median and 99th percentile (nearest rank).

#include <cstddef>
#include <vector>

class LatencyStats {
public:
    void add(double milliseconds) { samples_.push_back(milliseconds); }
    std::size_t count() const { return samples_.size(); }
    // 0 when there are no samples.
    double median() const { return percentile(50.0); }
    double p99() const { return percentile(99.0); }
    // Nearest-rank percentile, 0 < p <= 100.
    double percentile(double p) const;

private:
    std::vector<double> samples_;
};

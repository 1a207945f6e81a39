#pragma once

// Latencies counted in buckets of a tenth of a millisecond, so that tens of
// millions of samples take a fixed few megabytes. Percentiles are nearest
// rank, to the bucket's upper edge; samples past the last bucket count in it.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

class LatencyHistogram {
  public:
    static constexpr double BUCKET_MS = 0.1;
    static constexpr std::size_t BUCKETS = 600000;  // a minute

    void add(double ms) {
        if (counts_.empty()) {
            counts_.assign(BUCKETS, 0);
        }
        const double bucket = std::max(0.0, std::floor(ms / BUCKET_MS));
        ++counts_[std::min(BUCKETS - 1, static_cast<std::size_t>(bucket))];
        ++total_;
    }
    long long count() const { return total_; }
    // 0 < p <= 100; 0 without samples.
    double percentile(double p) const {
        const auto rank =
            static_cast<long long>(std::ceil(p / 100.0 * static_cast<double>(total_)));
        long long seen = 0;
        for (std::size_t i = 0; i < counts_.size(); ++i) {
            seen += counts_[i];
            if (seen >= std::max(1LL, rank)) {
                return static_cast<double>(i + 1) * BUCKET_MS;
            }
        }
        return 0.0;
    }

  private:
    std::vector<std::uint32_t> counts_;
    long long total_ = 0;
};

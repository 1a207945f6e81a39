#pragma once

// Latency samples and their median and 99th percentile (nearest rank). Up to
// a bound, every sample is kept and the percentiles are exact; past it, a
// uniform random sample of that many stands for all of them, so a crowd that
// runs for days keeps a fixed amount of memory.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

class LatencyStats {
  public:
    static constexpr std::size_t DEFAULT_MAX_SAMPLES = std::size_t{1} << 20;

    explicit LatencyStats(std::size_t maxSamples = DEFAULT_MAX_SAMPLES)
        : maxSamples_(maxSamples == 0 ? 1 : maxSamples) {}
    void add(double milliseconds);
    // Every sample added, kept or not.
    std::size_t count() const { return count_; }
    // 0 when there are no samples.
    double median() const { return percentile(50.0); }
    double p99() const { return percentile(99.0); }
    // Nearest-rank percentile, 0 < p <= 100, of the samples kept.
    double percentile(double p) const;

  private:
    std::size_t maxSamples_;
    std::size_t count_ = 0;
    std::vector<double> samples_;
    std::mt19937_64 random_{1};  // fixed seed: the same samples give the same figures
};

#include "server/token_bucket.h"

#include <algorithm>

TokenBucket::TokenBucket(double ratePerSecond, double burst, long long nowMs)
    : rate_(ratePerSecond), burst_(burst), tokens_(burst), lastMs_(nowMs) {}

double TokenBucket::tokensAt(long long nowMs, long long creditMs) const {
    const double elapsed = nowMs > lastMs_ ? static_cast<double>(nowMs - lastMs_) : 0.0;
    const double cap = burst_ + rate_ * static_cast<double>(std::max(0LL, creditMs)) / 1000.0;
    return std::max(tokens_, std::min(cap, tokens_ + rate_ * elapsed / 1000.0));
}

bool TokenBucket::take(long long nowMs, long long creditMs) {
    if (rate_ <= 0) {
        return true;
    }
    tokens_ = tokensAt(nowMs, creditMs);
    lastMs_ = std::max(lastMs_, nowMs);
    if (tokens_ < 1) {
        return false;
    }
    tokens_ -= 1;
    return true;
}

bool TokenBucket::canTake(long long nowMs, long long creditMs) const {
    return rate_ <= 0 || tokensAt(nowMs, creditMs) >= 1;
}

bool TokenBucket::full(long long nowMs) const {
    return rate_ <= 0 || tokensAt(nowMs, 0) >= burst_;
}

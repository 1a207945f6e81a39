#include "server/token_bucket.h"

#include <algorithm>

TokenBucket::TokenBucket(double ratePerSecond, double burst, long long nowMs)
    : rate_(ratePerSecond), burst_(burst), tokens_(burst), lastMs_(nowMs) {}

bool TokenBucket::take(long long nowMs) {
    if (rate_ <= 0) {
        return true;
    }
    if (nowMs > lastMs_) {
        tokens_ = std::min(burst_, tokens_ + rate_ * static_cast<double>(nowMs - lastMs_) / 1000.0);
        lastMs_ = nowMs;
    }
    if (tokens_ < 1) {
        return false;
    }
    tokens_ -= 1;
    return true;
}

double TokenBucket::tokensAt(long long nowMs) const {
    const double elapsed = nowMs > lastMs_ ? static_cast<double>(nowMs - lastMs_) : 0.0;
    return std::min(burst_, tokens_ + rate_ * elapsed / 1000.0);
}

bool TokenBucket::canTake(long long nowMs) const {
    return rate_ <= 0 || tokensAt(nowMs) >= 1;
}

bool TokenBucket::full(long long nowMs) const {
    return rate_ <= 0 || tokensAt(nowMs) >= burst_;
}

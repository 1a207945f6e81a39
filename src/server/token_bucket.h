#pragma once

// A token bucket: allows `burst` events at once and `rate` per second on
// average after that. Time is given in milliseconds by the caller, so the
// bucket needs no clock of its own; time that goes backwards adds nothing.

class TokenBucket {
  public:
    // A rate of 0 allows everything. Starts full at `nowMs`.
    TokenBucket(double ratePerSecond, double burst, long long nowMs);
    TokenBucket() : TokenBucket(0, 0, 0) {}

    // True, using one token, when a token is available at `nowMs`; false
    // (using none) otherwise. `creditMs` raises the burst by what that much
    // time refills: time in which the events could not be taken (their
    // sender was held back) is not held against them.
    bool take(long long nowMs, long long creditMs = 0);
    // True when take would succeed at `nowMs`; uses nothing.
    bool canTake(long long nowMs, long long creditMs = 0) const;
    // True when the bucket would be full at `nowMs`: forgetting it then
    // loses nothing.
    bool full(long long nowMs) const;

  private:
    double tokensAt(long long nowMs, long long creditMs) const;

    double rate_;
    double burst_;
    double tokens_;
    long long lastMs_;
};

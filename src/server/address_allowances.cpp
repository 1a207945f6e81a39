#include "server/address_allowances.h"

#include <algorithm>

namespace {

// Refused logins an address may have before it must wait; then the wait
// doubles from the first to the longest, and a quiet spell forgives all.
constexpr int FREE_LOGIN_FAILURES = 3;
constexpr long long FIRST_LOGIN_WAIT_MS = 1000;
constexpr long long LONGEST_LOGIN_WAIT_MS = 60000;
constexpr long long LOGIN_FAILURES_FORGIVEN_MS = 15 * 60 * 1000;

TokenBucket shared(double rate, int burst, int share, long long nowMs) {
    return TokenBucket(rate * share, static_cast<double>(burst) * share, nowMs);
}

}  // namespace

AddressAllowances::AddressAllowances(const ServerConfig& config) : config_(config) {}

bool AddressAllowances::applies(std::uint32_t address) const {
    // A connection handed over without an address (a socket pair) has none
    // to share with.
    return address != 0 && config_.exempt.count(address) == 0;
}

AddressAllowances::Ledger& AddressAllowances::ledger(std::uint32_t address, long long nowMs) {
    auto [found, added] = addresses_.try_emplace(address);
    Ledger& ledger = found->second;
    if (added) {
        const int share = config_.addressShare;
        ledger.connects = TokenBucket(config_.connects.rate, config_.connects.burst, nowMs);
        ledger.lines = shared(share > 0 ? config_.chatRate : 0, config_.chatBurst, share, nowMs);
        ledger.moves =
            shared(share > 0 ? config_.moves.rate : 0, config_.moves.burst, share, nowMs);
        ledger.entries =
            shared(share > 0 ? config_.entries.rate : 0, config_.entries.burst, share, nowMs);
    }
    return ledger;
}

bool AddressAllowances::admit(std::uint32_t address, long long nowMs) {
    if (!applies(address)) {
        return true;
    }
    Ledger& entry = ledger(address, nowMs);
    if (config_.addressConnections != 0 && entry.connections >= config_.addressConnections) {
        return false;
    }
    if (!entry.connects.take(nowMs)) {
        return false;
    }
    ++entry.connections;
    return true;
}

void AddressAllowances::release(std::uint32_t address) {
    auto found = addresses_.find(address);
    if (found != addresses_.end() && found->second.connections > 0) {
        --found->second.connections;
    }
}

bool AddressAllowances::take(std::uint32_t address, Action action, long long nowMs,
                             long long creditMs) {
    if (!applies(address) || config_.addressShare == 0) {
        return true;
    }
    Ledger& entry = ledger(address, nowMs);
    switch (action) {
        case Action::Line:
            return entry.lines.take(nowMs, creditMs);
        case Action::Move:
            return entry.moves.take(nowMs, creditMs);
        case Action::Entry:
            return entry.entries.take(nowMs, creditMs);
    }
    return true;
}

bool AddressAllowances::loginBarred(std::uint32_t address, long long nowMs) const {
    if (!applies(address)) {
        return false;
    }
    auto found = addresses_.find(address);
    return found != addresses_.end() && nowMs < found->second.barredUntilMs;
}

void AddressAllowances::loginRefused(std::uint32_t address, long long nowMs) {
    if (!applies(address)) {
        return;
    }
    Ledger& entry = ledger(address, nowMs);
    if (entry.loginFailures > 0 && nowMs - entry.lastFailureMs >= LOGIN_FAILURES_FORGIVEN_MS) {
        entry.loginFailures = 0;
    }
    ++entry.loginFailures;
    entry.lastFailureMs = nowMs;
    if (entry.loginFailures > FREE_LOGIN_FAILURES) {
        const int doublings = std::min(entry.loginFailures - FREE_LOGIN_FAILURES - 1, 16);
        const long long wait = std::min(FIRST_LOGIN_WAIT_MS << doublings, LONGEST_LOGIN_WAIT_MS);
        entry.barredUntilMs = nowMs + wait;
    }
}

void AddressAllowances::sweep(long long nowMs) {
    for (auto entry = addresses_.begin(); entry != addresses_.end();) {
        const Ledger& ledger = entry->second;
        const bool forgotten = ledger.connections == 0 && nowMs >= ledger.barredUntilMs &&
                               (ledger.loginFailures == 0 ||
                                nowMs - ledger.lastFailureMs >= LOGIN_FAILURES_FORGIVEN_MS) &&
                               ledger.connects.full(nowMs) && ledger.lines.full(nowMs) &&
                               ledger.moves.full(nowMs) && ledger.entries.full(nowMs);
        entry = forgotten ? addresses_.erase(entry) : std::next(entry);
    }
}

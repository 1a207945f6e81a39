#pragma once

// What one client address may do, whatever number of connections it opens:
// connections at once and new connections a second, and together over all
// its sessions a share of what one session may say, move and enter. Refused
// logins make the address wait, longer after each, so that passwords cannot
// be guessed at speed. An address is kept while it has connections or
// something to remember (a spent allowance, a wait), then forgotten.

#include <cstdint>
#include <unordered_map>

#include "server/server_config.h"
#include "server/token_bucket.h"

class AddressAllowances {
  public:
    enum class Action { Line, Move, Entry };

    explicit AddressAllowances(const ServerConfig& config);

    // A new connection from `address`: false, counting nothing, when it would
    // pass the address's connections at once or its connections a second.
    bool admit(std::uint32_t address, long long nowMs);
    // One admitted connection of `address` has closed.
    void release(std::uint32_t address);
    // Uses one of the address's share for `action`; false when none is
    // left. `creditMs` as for TokenBucket::take.
    bool take(std::uint32_t address, Action action, long long nowMs, long long creditMs = 0);

    // True while the address must wait before its next login is looked at.
    bool loginBarred(std::uint32_t address, long long nowMs) const;
    // A login from the address was refused for its credentials.
    void loginRefused(std::uint32_t address, long long nowMs);

    // Forgets addresses that have nothing left to remember.
    void sweep(long long nowMs);
    std::size_t remembered() const { return addresses_.size(); }

  private:
    struct Ledger {
        std::size_t connections = 0;
        TokenBucket connects, lines, moves, entries;
        int loginFailures = 0;
        long long barredUntilMs = 0;
        long long lastFailureMs = 0;
    };
    bool applies(std::uint32_t address) const;
    Ledger& ledger(std::uint32_t address, long long nowMs);

    const ServerConfig& config_;
    std::unordered_map<std::uint32_t, Ledger> addresses_;
};

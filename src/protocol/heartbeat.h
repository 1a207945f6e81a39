#pragma once

// The client's side of the heartbeat (protocol version 2): a client that has
// heard nothing from the world for a while, or sent it nothing, sends a Ping;
// one whose Ping meets no answer in time takes the connection for lost. The
// world closes sessions silent past its idle limit, which must be longer
// than QUIET_BEFORE_PING_MS (docs/world-protocol.md).

namespace wire {

// Silence (either way) after which a client sends a Ping.
inline constexpr long long QUIET_BEFORE_PING_MS = 15000;
// Time a Ping has to be answered (by anything at all) before the connection
// counts as lost. A partition is noticed within the sum of the two.
inline constexpr long long PING_ANSWER_MS = 10000;

// When one connection last heard and sent something, and whether a Ping is
// out. Times are milliseconds on any monotonic base.
class Heartbeat {
  public:
    enum class Due { Nothing, Ping, Lost };

    // A connection that just opened: heard and sent now.
    void start(long long nowMs) {
        heardMs_ = sentMs_ = nowMs;
        pingOut_ = false;
    }
    // Bytes arrived: the world is there, and a Ping out is answered.
    void heard(long long nowMs) {
        heardMs_ = nowMs;
        pingOut_ = false;
    }
    // Bytes left for the world.
    void sent(long long nowMs) { sentMs_ = nowMs; }
    // A Ping left now.
    void pinged(long long nowMs) {
        sentMs_ = pingMs_ = nowMs;
        pingOut_ = true;
    }
    // What the connection owes now: a Ping after a quiet spell, or giving up
    // when the Ping out has waited too long.
    Due check(long long nowMs) const {
        if (pingOut_) {
            return nowMs - pingMs_ >= PING_ANSWER_MS ? Due::Lost : Due::Nothing;
        }
        const bool quiet =
            nowMs - heardMs_ >= QUIET_BEFORE_PING_MS || nowMs - sentMs_ >= QUIET_BEFORE_PING_MS;
        return quiet ? Due::Ping : Due::Nothing;
    }

  private:
    long long heardMs_ = 0;
    long long sentMs_ = 0;
    long long pingMs_ = 0;
    bool pingOut_ = false;
};

}  // namespace wire

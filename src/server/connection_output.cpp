// The connections' output: queueing frames, writing them as the sockets take
// them, and the bounds on what waits. Past half of the output budget the
// world stops reading the connections whose messages fill it, so memory
// stays bounded without dropping anyone who reads; a client is dropped as
// slow only when its socket takes nothing for the write timeout, when its
// own output passes its bound, or, with the world's output full, when its
// socket has taken nothing for the longest.

#include <algorithm>

#include "server/connections.h"

namespace {

// A connection whose socket took something this recently is reading.
constexpr long long STALL_MS = 1000;
// While input is held back, the clients whose sockets have taken nothing
// for this long are dropped until the output is down to the low mark.
constexpr long long HOLD_BACK_STALL_MS = 2000;
constexpr long long MAX_HOLD_CREDIT_MS = 60000;
constexpr long long HOLD_CREDIT_SLACK_MS = 5000;

std::string named(const Connection& connection) {
    return "connection " + std::to_string(connection.fd);
}

}  // namespace

void Connections::send(Connection& connection, std::string_view frame) {
    if (connection.dropped || connection.lingerUntilMs != 0) {
        return;  // a connection that lingers has shut its sending side
    }
    const std::size_t cost = connection.output.costOf(frame.size());
    if (connection.output.heldBytes() + cost > config_.maxOutputBytes) {
        log("drop", named(connection) + " does not read its messages (" +
                        std::to_string(connection.output.heldBytes()) + " bytes wait): dropped");
        drop(connection);
        return;
    }
    while (heldOutput_ + cost > config_.maxTotalOutputBytes) {
        Connection* stalled = mostStalled(now_);
        if (stalled == nullptr) {
            break;  // nothing to release: a budget smaller than one frame
        }
        log("drop", named(*stalled) + " has taken nothing of its output for " +
                        std::to_string(now_ - stalled->waitingSinceMs) +
                        " ms, the longest of a full world: dropped");
        drop(*stalled);
        if (stalled == &connection) {
            return;
        }
    }
    if (connection.output.empty()) {
        connection.waitingSinceMs = now_;
        if (!connection.writeDeadlineArmed) {
            connection.writeDeadlineArmed = true;
            arm(connection, now_ + config_.writeTimeoutMs, DueKind::Write);
        }
    }
    heldOutput_ += connection.output.push(frame);
    if (heldOutput_ >= config_.maxTotalOutputBytes / 2) {
        raisePressure();
    }
    // A connection whose socket was full is written when the poller says it
    // has room, not tried again for every frame; one being closed gets its
    // try.
    if ((connection.interest & Poller::WRITE) == 0 || connection.closing) {
        queueWrite(connection);
    }
    peakHeldOutput_ = std::max(peakHeldOutput_, heldOutput_);
}

void Connections::checkWriteDeadline(Connection& connection) {
    connection.writeDeadlineArmed = false;
    if (connection.output.empty() || connection.dropped) {
        return;
    }
    const long long due = stalledSince(connection) + config_.writeTimeoutMs;
    if (now_ >= due) {
        log("drop", named(connection) + " took nothing of its output for " +
                        std::to_string(now_ - connection.waitingSinceMs) + " ms: dropped");
        drop(connection);
        return;
    }
    connection.writeDeadlineArmed = true;
    arm(connection, due, DueKind::Write);
}

long long Connections::stalledSince(const Connection& connection) const {
    if (!connection.trusted) {
        return connection.waitingSinceMs;
    }
    return holdingBackAll_ ? now_ : std::max(connection.waitingSinceMs, botsReadAgainMs_);
}

Connection* Connections::mostStalled(long long stalledSinceMs) {
    Connection* stalled = nullptr;
    for (const auto& connection : byFd_) {
        // Bots are left to their own bounds: the world holds back their
        // input too, and a relay that cannot send stops reading, so a pause
        // in their reading may be the world's own doing.
        if (connection == nullptr || connection->dropped || connection->trusted ||
            connection->output.empty() || connection->waitingSinceMs > stalledSinceMs) {
            continue;
        }
        if (stalled == nullptr || connection->waitingSinceMs < stalled->waitingSinceMs ||
            (connection->waitingSinceMs == stalled->waitingSinceMs &&
             connection->output.heldBytes() > stalled->output.heldBytes())) {
            stalled = connection.get();
        }
    }
    return stalled;
}

bool Connections::wantsInput(const Connection& connection) const {
    return connection.active() && !connection.cooling &&
           (!holdingBack_ || (connection.trusted && !holdingBackAll_));
}

void Connections::raisePressure() {
    const std::size_t total = config_.maxTotalOutputBytes;
    if (!holdingBack_ && heldOutput_ >= total / 2) {
        holdingBack_ = true;
        holdingBackSinceMs_ = now_;
        interestsStale_ = true;
        log("pressure",
            "holding back input: " + std::to_string(heldOutput_) + " bytes of output wait");
    }
    if (!holdingBackAll_ && heldOutput_ >= total / 4 * 3) {
        holdingBackAll_ = true;
        interestsStale_ = true;
        log("pressure", "holding back every input, the bots' too: " + std::to_string(heldOutput_) +
                            " bytes of output wait");
    }
}

void Connections::weighPressure() {
    raisePressure();
    // A bot that reads but falls behind holds back the others too: it hears
    // everything, and what it cannot take it would lose. Its own input is
    // not held for that: a relay that cannot send stops reading.
    const std::size_t behind = config_.maxOutputBytes / (holdingBack_ ? 16 : 4);
    bool botBehind = false;
    for (int fd : trusted_) {
        const Connection* bot = find(fd);
        botBehind |= bot != nullptr && bot->active() && bot->output.heldBytes() >= behind &&
                     now_ - bot->waitingSinceMs < STALL_MS;
    }
    const std::size_t total = config_.maxTotalOutputBytes;
    if (!holdingBack_ && botBehind) {
        holdingBack_ = true;
        holdingBackSinceMs_ = now_;
        interestsStale_ = true;
        log("pressure", "holding back input: a bot is behind");
    }
    if (holdingBackAll_ && heldOutput_ <= total / 2) {
        holdingBackAll_ = false;
        botsReadAgainMs_ = now_;
        interestsStale_ = true;
    }
    if (holdingBack_ && heldOutput_ <= total / 4 && !botBehind) {
        holdingBack_ = false;
        interestsStale_ = true;
        // What the held back sent meanwhile comes in a rush: the time it
        // waited is credited to their allowances for a while (at most a
        // minute's worth), so that a sender within its limit is slowed, not
        // refused.
        const long long held = now_ - holdingBackSinceMs_;
        holdCreditMs_ = std::min(MAX_HOLD_CREDIT_MS, holdCreditMs() + held);
        holdCreditUntilMs_ = now_ + holdCreditMs_ + HOLD_CREDIT_SLACK_MS;
        log("pressure",
            "taking input again after " + std::to_string(now_ - holdingBackSinceMs_) + " ms");
    }
    if (holdingBack_) {
        dropStalledUntilDrained();
    }
    if (!interestsStale_) {
        return;
    }
    interestsStale_ = false;
    for (const auto& connection : byFd_) {
        if (connection != nullptr) {
            updateInterest(*connection);
        }
    }
    // Frames read before a hold began are handed over first once it ends.
    std::vector<int> held;
    held.swap(heldInput_);
    for (int fd : held) {
        Connection* connection = find(fd);
        if (connection != nullptr && wantsInput(*connection)) {
            handleFrames(*connection);
        } else if (connection != nullptr) {
            heldInput_.push_back(fd);
        }
    }
}

void Connections::dropStalledUntilDrained() {
    // Output that will not drain: those that take nothing go, the longest
    // stalled first, until it is down to the low mark.
    while (heldOutput_ > config_.maxTotalOutputBytes / 4) {
        Connection* stalled = mostStalled(now_ - HOLD_BACK_STALL_MS);
        if (stalled == nullptr) {
            return;
        }
        log("drop", named(*stalled) + " has taken nothing of its output for " +
                        std::to_string(now_ - stalled->waitingSinceMs) +
                        " ms while input is held back: dropped");
        drop(*stalled);
    }
}

void Connections::writeTo(Connection& connection) {
    while (!connection.output.empty()) {
        const int count =
            connection.output.gather(pieces_.data(), static_cast<int>(pieces_.size()));
        std::size_t offered = 0;
        for (int i = 0; i < count; ++i) {
            offered += pieces_[i].size;
        }
        const long n = net::sendPieces(connection.fd, pieces_.data(), count);
        if (n == net::AGAIN) {
            // A connection being closed gets one try: it must not hold its
            // socket by never reading its last message.
            if (connection.closing) {
                drop(connection);
            }
            return;
        }
        if (n <= 0) {
            drop(connection);
            return;
        }
        connection.waitingSinceMs = now_;
        const std::size_t before = connection.output.heldBytes();
        connection.output.consume(static_cast<std::size_t>(n));
        heldOutput_ -= before - connection.output.heldBytes();
        if (static_cast<std::size_t>(n) < offered) {
            // The socket is full; the poller says when it has room again. A
            // connection being closed has had its try.
            if (connection.closing) {
                drop(connection);
            }
            return;
        }
    }
}

void Connections::queueWrite(Connection& connection) {
    if (!connection.writeQueued) {
        connection.writeQueued = true;
        writeDue_.push_back(connection.fd);
    }
}

void Connections::writeDue() {
    // Writing drops no one but the connection written, and closes no socket,
    // so every listed socket still names its connection.
    for (int fd : writeDue_) {
        Connection* connection = find(fd);
        if (connection == nullptr) {
            continue;
        }
        connection->writeQueued = false;
        if (!connection->output.empty() && !connection->dropped) {
            writeTo(*connection);
        }
        if (connection->closing && connection->lingerUntilMs == 0 && connection->output.empty()) {
            ending_.push_back(fd);  // its last output has gone: settle() lets it linger
        }
        updateInterest(*connection);
    }
    writeDue_.clear();
}

std::size_t Connections::waitingToWrite() const {
    std::size_t waiting = 0;
    for (const auto& connection : byFd_) {
        waiting += connection != nullptr && (connection->interest & Poller::WRITE) != 0 ? 1 : 0;
    }
    return waiting;
}

void Connections::updateInterest(Connection& connection) {
    if (connection.dropped) {
        return;  // removed from the poller when closed, this turn
    }
    // A closing connection is read only while it lingers, to see its end.
    unsigned wanted = connection.lingerUntilMs != 0 || wantsInput(connection) ? Poller::READ : 0;
    if (!connection.output.empty()) {
        wanted |= Poller::WRITE;
    }
    if (wanted == connection.interest) {
        return;
    }
    if (!poller_.modify(connection.fd, wanted)) {
        // Unwatched, its output could wait for ever.
        log("error", named(connection) + ": " + poller_.error() + ", dropped");
        drop(connection);
        return;
    }
    connection.interest = wanted;
}

#include "server/connections.h"

#include <algorithm>
#include <optional>

#include "platform/process.h"
#include "sdk/reason_codes.h"
#include "sdk/reason_text.h"
#include "server/server_log.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;
constexpr long long LINGER_MS = 2000;
// Output that piled up to this much and then went is given back to the
// system, on a turn with nothing to do and at most this often.
constexpr std::size_t TRIM_AFTER_BYTES = 32 * 1024 * 1024;
constexpr long long TRIM_EVERY_MS = 10000;
// So is the memory of a crowd of at least this many once half of it left.
constexpr std::size_t TRIM_AFTER_CONNECTIONS = 1000;
// How often addresses with nothing left to remember are forgotten.
constexpr long long SWEEP_EVERY_MS = 60000;
// Refusals in one turn after which a connection is not read for a while.
constexpr int REFUSALS_PER_TURN = 20;
constexpr long long COOLING_MS = 100;

std::string named(const Connection& connection) {
    return "connection " + std::to_string(connection.fd);
}

std::string refusalFrame(MessageType request, int code) {
    Message refusal;
    refusal.type = MessageType::Error;
    refusal.request = request;
    refusal.code = code;
    std::string frame;
    wire::encodeFrame(refusal, frame);
    return frame;
}

}  // namespace

Connections::Connections(const ServerConfig& config, ServerClock clock, ConnectionEvents& events,
                         Poller& poller, AddressAllowances& addresses)
    : config_(config),
      clock_(clock),
      events_(events),
      poller_(poller),
      addresses_(addresses),
      throttle_([this](const std::string& line) {
          if (config_.logToStderr) {
              logLine(line);
          }
      }),
      now_(clock()),
      pieces_(net::MAX_PIECES),
      readBuffer_(READ_CHUNK) {}

Connections::~Connections() {
    for (const auto& connection : byFd_) {
        if (connection != nullptr) {
            net::close(connection->fd);
        }
    }
}

void Connections::log(const std::string& kind, const std::string& line) {
    throttle_.log(kind, line, clock_());
}

void Connections::endTurn(bool idle) {
    now_ = clock_();
    expireDeadlines();
    weighPressure();
    throttle_.flush(now_);
    settle();
    releaseFreedMemory(idle);
    if (now_ - lastSweepMs_ >= SWEEP_EVERY_MS) {
        addresses_.sweep(now_);
        lastSweepMs_ = now_;
    }
}

Connection* Connections::find(int fd) {
    return fd >= 0 && static_cast<std::size_t>(fd) < byFd_.size() ? byFd_[fd].get() : nullptr;
}

void Connections::serveEvent(const Poller::Event& event) {
    Connection* connection = find(event.fd);
    if (connection == nullptr) {
        return;
    }
    if (event.writable) {
        queueWrite(*connection);
    }
    if (!event.readable || connection->dropped) {
        return;
    }
    if (connection->lingerUntilMs != 0) {
        discardInput(*connection);
    } else if (wantsInput(*connection)) {
        readFrom(*connection);
    }
}

void Connections::add(int fd, std::uint32_t address, const std::string& from) {
    now_ = clock_();
    if (!addresses_.admit(address, now_)) {
        log("refusal", "connection " + std::to_string(fd) + " " + from +
                           " refused: its address has no connection left in its allowance");
        refuseAtOnce(fd, SDK_RC_RATE_LIMITED);
        return;
    }
    log("connection", "connection " + std::to_string(fd) + " " + from);
    if (static_cast<std::size_t>(fd) >= byFd_.size()) {
        byFd_.resize(static_cast<std::size_t>(fd) + 1);
    }
    byFd_[fd] = std::make_unique<Connection>();
    Connection& connection = *byFd_[fd];
    ++count_;
    connection.fd = fd;
    connection.address = address;
    connection.serial = nextSerial_++;
    connection.loginDeadlineMs = now_ + config_.loginTimeoutMs;
    connection.lastInputMs = now_;
    notLoggedIn_.emplace(connection.serial, fd);
    arm(connection, connection.loginDeadlineMs, DueKind::Login);
    if (!poller_.add(fd, Poller::READ)) {
        log("error", named(connection) + ": " + poller_.error() + ", closed");
        drop(connection);
        return;
    }
    connection.interest = Poller::READ;
    updateInterest(connection);  // while input is held back, not even for reading
    if (count_ - leavingCount_ <= config_.maxClients) {
        return;
    }
    // Full. A connection that has not logged in holds its place only until a
    // newcomer needs it, so that silent connections cannot keep out clients
    // that log in at once; logged-in sessions keep theirs.
    if (Connection* waiting = oldestNotLoggedIn(connection); waiting != nullptr) {
        log("refusal", named(*waiting) + " not logged in: closed to make room (server full)");
        refuseAndClose(*waiting, waiting->greeted ? MessageType::Login : MessageType::Hello,
                       SDK_RC_SERVER_FULL);
        return;
    }
    log("refusal", named(connection) + " refused: server full");
    refuseAndClose(connection, MessageType::Hello, SDK_RC_SERVER_FULL);
}

void Connections::refuseAtOnce(int fd, int code) {
    // The refusal fits any socket's buffer; what the client sent meanwhile is
    // read first, so that closing does not reset the connection and lose it.
    const std::string frame = refusalFrame(MessageType::Hello, code);
    net::send(fd, frame.data(), frame.size());
    net::shutdownSending(fd);
    while (net::receive(fd, readBuffer_.data(), readBuffer_.size()) > 0) {
    }
    net::close(fd);
}

Connection* Connections::oldestNotLoggedIn(const Connection& newcomer) {
    for (const auto& [serial, fd] : notLoggedIn_) {
        if (fd != newcomer.fd) {
            return find(fd);
        }
    }
    return nullptr;
}

void Connections::loggedIn(Connection& connection, int session, bool trusted) {
    connection.loggedIn = true;
    connection.session = session;
    connection.trusted = trusted;
    notLoggedIn_.erase({connection.serial, connection.fd});
    if (trusted) {
        trusted_.push_back(connection.fd);
        updateInterest(connection);
    }
}

void Connections::keepsHeartbeat(Connection& connection) {
    if (config_.idleTimeoutMs <= 0 || connection.heartbeat) {
        return;
    }
    connection.heartbeat = true;
    connection.lastInputMs = now_;
    armIdle(connection);
}

void Connections::armIdle(const Connection& connection) {
    constexpr long long SECOND = 1000;
    const long long due = connection.lastInputMs + config_.idleTimeoutMs;
    arm(connection, (due + SECOND - 1) / SECOND * SECOND, DueKind::Idle);
}

void Connections::expireIdle(Connection& connection, long long now) {
    if (!connection.active()) {
        return;
    }
    if (now - connection.lastInputMs < config_.idleTimeoutMs) {
        armIdle(connection);  // it spoke meanwhile: look again at its new limit
        return;
    }
    log("idle", named(connection) + " idle for " +
                    std::to_string((now - connection.lastInputMs) / 1000) + " s: closing");
    refuseAndClose(connection, MessageType::Ping, SDK_RC_TIMEOUT);
}

void Connections::refused(Connection& connection) {
    if (connection.refusalTurn != turn_) {
        connection.refusalTurn = turn_;
        connection.refusals = 0;
    }
    if (++connection.refusals < REFUSALS_PER_TURN || connection.cooling) {
        return;
    }
    // What it sends meanwhile waits in its socket, and is read and judged
    // when the pause is over, like anyone's.
    connection.cooling = true;
    arm(connection, now_ + COOLING_MS, DueKind::Cool);
    updateInterest(connection);
    log("refusal", named(connection) + " refused " + std::to_string(REFUSALS_PER_TURN) +
                       " times in a turn: not read for " + std::to_string(COOLING_MS) + " ms");
}

void Connections::refuseAndClose(Connection& connection, MessageType request, int code) {
    log("refusal", named(connection) + ": closing after error " + reasonWithWords(code));
    send(connection, refusalFrame(request, code));
    close(connection);
}

void Connections::readFrom(Connection& connection) {
    // Enough by default for hundreds of a bot's console frames a turn, while
    // a flood from one connection still cannot keep the rest waiting long.
    std::size_t budget = std::max<std::size_t>(config_.readBudgetBytes, 1);
    while (budget > 0 && handleFrames(connection)) {
        const long n =
            net::receive(connection.fd, readBuffer_.data(), std::min(readBuffer_.size(), budget));
        if (n == net::AGAIN) {
            return;
        }
        if (n <= 0) {
            drop(connection);
            return;
        }
        budget -= static_cast<std::size_t>(n);
        if (connection.heartbeat) {
            connection.lastInputMs = now_;
        }
        // Each chunk is handled before the next is read, so that no more than
        // one partial frame waits in the reader (but when input is held back
        // in the middle of a chunk: then its rest waits for the hold to end).
        connection.reader.append(readBuffer_.data(), static_cast<std::size_t>(n));
        if (!handleFrames(connection) || static_cast<std::size_t>(n) < readBuffer_.size()) {
            return;  // the socket had no more; a further recv would only say so
        }
    }
}

bool Connections::handleFrames(Connection& connection) {
    std::string& body = body_;
    while (connection.active()) {
        if (!wantsInput(connection)) {
            if (connection.reader.buffered() != 0) {
                heldInput_.push_back(connection.fd);
            }
            return false;
        }
        const wire::FrameReader::Status status = connection.reader.next(body);
        if (status == wire::FrameReader::Status::NeedMore) {
            return true;
        }
        std::optional<Message> message;
        if (status == wire::FrameReader::Status::Frame) {
            message = wire::decodeBody(body);
        }
        if (!message) {
            log("refusal", named(connection) + ": malformed message, closing");
            refuseAndClose(connection, MessageType::Hello, SDK_RC_PROTOCOL_ERROR);
            return false;
        }
        events_.received(connection, *message);
    }
    return false;
}

void Connections::discardInput(Connection& connection) {
    const long n = net::receive(connection.fd, readBuffer_.data(), readBuffer_.size());
    if (n == 0 || n == net::FAILED) {
        drop(connection);
    }
}

void Connections::close(Connection& connection) {
    if (!connection.active()) {
        return;
    }
    connection.closing = true;
    ++leavingCount_;
    notLoggedIn_.erase({connection.serial, connection.fd});
    ending_.push_back(connection.fd);
    // A connection being closed gets its one try at writing this turn.
    queueWrite(connection);
}

void Connections::drop(Connection& connection) {
    if (!connection.dropped) {
        if (!connection.closing) {
            ++leavingCount_;
        }
        connection.dropped = true;
        notLoggedIn_.erase({connection.serial, connection.fd});
        ending_.push_back(connection.fd);
    }
    heldOutput_ -= connection.output.heldBytes();
    connection.output.clear();
}

void Connections::arm(const Connection& connection, long long ms, DueKind kind) {
    deadlines_.push({ms, connection.fd, connection.serial, kind});
}

long long Connections::nextDeadline() {
    const long long summary = throttle_.nextDueMs();
    // Entries of connections that have gone are passed over here, so that
    // they wake no one.
    while (!deadlines_.empty()) {
        const Due& due = deadlines_.top();
        const Connection* connection = find(due.fd);
        if (connection != nullptr && connection->serial == due.serial) {
            return summary != 0 && summary < due.ms ? summary : due.ms;
        }
        deadlines_.pop();
    }
    return summary;
}

void Connections::expireDeadlines() {
    while (!deadlines_.empty() && deadlines_.top().ms <= now_) {
        const Due due = deadlines_.top();
        deadlines_.pop();
        Connection* connection = find(due.fd);
        if (connection == nullptr || connection->serial != due.serial || connection->dropped) {
            continue;
        }
        switch (due.kind) {
            case DueKind::Login:
                if (!connection->loggedIn && connection->active()) {
                    log("refusal", named(*connection) + " did not log in in time: closing");
                    refuseAndClose(*connection,
                                   connection->greeted ? MessageType::Login : MessageType::Hello,
                                   SDK_RC_TIMEOUT);
                }
                break;
            case DueKind::Linger:
                drop(*connection);
                break;
            case DueKind::Write:
                checkWriteDeadline(*connection);
                break;
            case DueKind::Cool:
                connection->cooling = false;
                updateInterest(*connection);
                handleFrames(*connection);  // what it read before the pause
                break;
            case DueKind::Idle:
                expireIdle(*connection, now_);
                break;
        }
    }
}

void Connections::settle() {
    // Closing a connection sends its departure to others, to be written this
    // turn too; that writing may drop a connection being closed, and so on.
    std::vector<int> ending;
    for (;;) {
        events_.beforeWriting();
        if (writeDue_.empty() && ending_.empty()) {
            break;
        }
        writeDue();
        ending.clear();
        ending.swap(ending_);
        for (int fd : ending) {
            Connection* connection = find(fd);
            if (connection == nullptr) {
                continue;
            }
            if (connection->dropped) {
                closeNow(*connection);
            } else if (connection->closing && connection->lingerUntilMs == 0 &&
                       connection->output.empty()) {
                events_.leaving(*connection);
                net::shutdownSending(fd);
                // A clock that stands still at 0 must still mark the linger.
                connection->lingerUntilMs = std::max(1LL, now_ + LINGER_MS);
                arm(*connection, connection->lingerUntilMs, DueKind::Linger);
                updateInterest(*connection);
            }
        }
    }
}

void Connections::closeNow(Connection& connection) {
    const int fd = connection.fd;
    log("connection",
        named(connection) + " closed" +
            (connection.session != 0 ? " (session " + std::to_string(connection.session) + ")"
                                     : ""));
    events_.leaving(connection);
    events_.closed(connection);
    heldOutput_ -= connection.output.heldBytes();
    notLoggedIn_.erase({connection.serial, fd});
    if (connection.trusted) {
        trusted_.erase(std::find(trusted_.begin(), trusted_.end(), fd));
    }
    addresses_.release(connection.address);
    poller_.remove(fd);
    net::close(fd);
    --leavingCount_;
    --count_;
    byFd_[fd].reset();
}

void Connections::releaseFreedMemory(bool idle) {
    // The allocator keeps what the frames of stuck clients took, and what
    // thousands of connections that left held, as many small blocks; once
    // most of it is gone and the loop has a moment, let the system have it
    // back. Not on a busy turn: giving memory back and taking it again costs
    // more than it saves.
    peakCount_ = std::max(peakCount_, count_);
    const bool outputWent =
        peakHeldOutput_ >= TRIM_AFTER_BYTES && heldOutput_ <= peakHeldOutput_ / 8;
    const bool crowdLeft = peakCount_ >= TRIM_AFTER_CONNECTIONS && count_ <= peakCount_ / 2;
    if (idle && (outputWent || crowdLeft) && now_ - lastReleaseMs_ >= TRIM_EVERY_MS) {
        returnFreedMemory();
        peakHeldOutput_ = heldOutput_;
        peakCount_ = count_;
        lastReleaseMs_ = now_;
    }
}

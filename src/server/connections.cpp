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

std::string named(const Connection& connection) {
    return "connection " + std::to_string(connection.fd);
}

}  // namespace

Connections::Connections(const ServerConfig& config, ServerClock clock, ConnectionEvents& events,
                         Poller& poller)
    : config_(config),
      clock_(clock),
      events_(events),
      poller_(poller),
      throttle_([this](const std::string& line) {
          if (config_.logToStderr) {
              logLine(line);
          }
      }),
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
    expireDeadlines();
    throttle_.flush(clock_());
    settle();
    releaseFreedMemory(idle);
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
    } else if (!connection->closing) {
        readFrom(*connection);
    }
}

void Connections::add(int fd, std::uint32_t address) {
    if (static_cast<std::size_t>(fd) >= byFd_.size()) {
        byFd_.resize(static_cast<std::size_t>(fd) + 1);
    }
    byFd_[fd] = std::make_unique<Connection>();
    Connection& connection = *byFd_[fd];
    ++count_;
    connection.fd = fd;
    connection.address = address;
    connection.serial = nextSerial_++;
    connection.loginDeadlineMs = clock_() + config_.loginTimeoutMs;
    connection.lastInputMs = clock_();
    notLoggedIn_.emplace(connection.serial, fd);
    arm(connection, connection.loginDeadlineMs);
    if (!poller_.add(fd, Poller::READ)) {
        log("error", named(connection) + ": " + poller_.error() + ", closed");
        drop(connection);
        return;
    }
    connection.interest = Poller::READ;
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
    return;
}

Connection* Connections::oldestNotLoggedIn(const Connection& newcomer) {
    for (const auto& [serial, fd] : notLoggedIn_) {
        if (fd != newcomer.fd) {
            return find(fd);
        }
    }
    return nullptr;
}

void Connections::loggedIn(Connection& connection, int session) {
    connection.loggedIn = true;
    connection.session = session;
    notLoggedIn_.erase({connection.serial, connection.fd});
}

void Connections::keepsHeartbeat(Connection& connection) {
    if (config_.idleTimeoutMs <= 0 || connection.heartbeat) {
        return;
    }
    connection.heartbeat = true;
    connection.lastInputMs = clock_();
    armIdle(connection);
}

void Connections::armIdle(const Connection& connection) {
    constexpr long long SECOND = 1000;
    const long long due = connection.lastInputMs + config_.idleTimeoutMs;
    arm(connection, (due + SECOND - 1) / SECOND * SECOND, true);
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

void Connections::refuseAndClose(Connection& connection, MessageType request, int code) {
    log("refusal", named(connection) + ": closing after error " + reasonWithWords(code));
    Message refusal;
    refusal.type = MessageType::Error;
    refusal.request = request;
    refusal.code = code;
    std::string frame;
    wire::encodeFrame(refusal, frame);
    send(connection, frame);
    close(connection);
}

void Connections::readFrom(Connection& connection) {
    // Enough by default for hundreds of a bot's console frames a turn, while
    // a flood from one connection still cannot keep the rest waiting long.
    std::size_t budget = std::max<std::size_t>(config_.readBudgetBytes, 1);
    std::string body;
    while (budget > 0 && connection.active()) {
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
            connection.lastInputMs = clock_();
        }
        // Each chunk is handled before the next is read, so that no more than
        // one partial frame waits in the reader.
        connection.reader.append(readBuffer_.data(), static_cast<std::size_t>(n));
        while (connection.active()) {
            const wire::FrameReader::Status status = connection.reader.next(body);
            if (status == wire::FrameReader::Status::NeedMore) {
                break;
            }
            std::optional<Message> message;
            if (status == wire::FrameReader::Status::Frame) {
                message = wire::decodeBody(body);
            }
            if (!message) {
                log("refusal", named(connection) + ": malformed message, closing");
                refuseAndClose(connection, MessageType::Hello, SDK_RC_PROTOCOL_ERROR);
                return;
            }
            events_.received(connection, *message);
        }
        if (static_cast<std::size_t>(n) < readBuffer_.size()) {
            return;  // the socket had no more; a further recv would only say so
        }
    }
}

void Connections::discardInput(Connection& connection) {
    const long n = net::receive(connection.fd, readBuffer_.data(), readBuffer_.size());
    if (n == 0 || n == net::FAILED) {
        drop(connection);
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
    unsigned wanted = !connection.closing || connection.lingerUntilMs != 0 ? Poller::READ : 0;
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

void Connections::send(Connection& connection, const std::string& frame) {
    if (connection.dropped || connection.lingerUntilMs != 0) {
        return;  // a connection that lingers has shut its sending side
    }
    const std::size_t cost = connection.output.costOf(frame.size());
    if (connection.output.heldBytes() + cost > config_.maxOutputBytes) {
        log("drop", named(connection) + " does not read its messages: dropped");
        drop(connection);
        return;
    }
    while (heldOutput_ + cost > config_.maxTotalOutputBytes) {
        Connection* biggest = biggestHolder();
        if (biggest == nullptr) {
            break;  // nothing to release: a budget smaller than one frame
        }
        log("drop", named(*biggest) + " holds the most output (" +
                        std::to_string(biggest->output.heldBytes()) +
                        " bytes) of a full world: dropped");
        drop(*biggest);
        if (biggest == &connection) {
            return;
        }
    }
    heldOutput_ += connection.output.push(frame);
    // A connection whose socket was full is written when the poller says it
    // has room, not tried again for every frame; one being closed gets its
    // try.
    if ((connection.interest & Poller::WRITE) == 0 || connection.closing) {
        queueWrite(connection);
    }
    peakHeldOutput_ = std::max(peakHeldOutput_, heldOutput_);
}

// Dropping the connection furthest behind frees the most memory for one
// client lost, and it is the likeliest to be stuck: one that reads keeps
// little.
Connection* Connections::biggestHolder() {
    Connection* biggest = nullptr;
    for (const auto& connection : byFd_) {
        if (connection != nullptr && !connection->dropped && !connection->output.empty() &&
            (biggest == nullptr || connection->output.heldBytes() > biggest->output.heldBytes())) {
            biggest = connection.get();
        }
    }
    return biggest;
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

void Connections::arm(const Connection& connection, long long ms, bool idle) {
    deadlines_.push({ms, connection.fd, connection.serial, idle});
}

long long Connections::nextDeadline() {
    // Entries of connections that have gone are passed over here, so that
    // they wake no one.
    while (!deadlines_.empty()) {
        const Due& due = deadlines_.top();
        const Connection* connection = find(due.fd);
        if (connection != nullptr && connection->serial == due.serial) {
            const long long summary = throttle_.nextDueMs();
            return summary != 0 && summary < due.ms ? summary : due.ms;
        }
        deadlines_.pop();
    }
    return throttle_.nextDueMs();
}

void Connections::expireDeadlines() {
    const long long now = clock_();
    while (!deadlines_.empty() && deadlines_.top().ms <= now) {
        const Due due = deadlines_.top();
        deadlines_.pop();
        Connection* connection = find(due.fd);
        if (connection == nullptr || connection->serial != due.serial) {
            continue;
        }
        if (due.idle) {
            expireIdle(*connection, now);
        } else if (!connection->loggedIn && connection->active() && now >= connection->loginDeadlineMs) {
            log("refusal", named(*connection) + " did not log in in time: closing");
            refuseAndClose(*connection,
                           connection->greeted ? MessageType::Login : MessageType::Hello,
                           SDK_RC_TIMEOUT);
        } else if (connection->lingerUntilMs != 0 && now >= connection->lingerUntilMs) {
            drop(*connection);
        }
    }
}

void Connections::settle() {
    // Closing a connection sends its departure to others, to be written this
    // turn too; that writing may drop a connection being closed, and so on.
    std::vector<int> ending;
    do {
        writeDue();
        ending.clear();
        ending.swap(ending_);
        const long long now = clock_();
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
                connection->lingerUntilMs = std::max(1LL, now + LINGER_MS);
                arm(*connection, connection->lingerUntilMs);
                updateInterest(*connection);
            }
        }
    } while (!writeDue_.empty() || !ending_.empty());
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
    poller_.remove(fd);
    net::close(fd);
    --leavingCount_;
    --count_;
    byFd_[fd].reset();
}

void Connections::releaseFreedMemory(bool idle) {
    // The allocator keeps what the frames of stuck clients took, as many
    // small blocks; once most of it is gone and the loop has a moment, let
    // the system have it back. Not on a busy turn: giving memory back and
    // taking it again costs more than it saves.
    const long long now = clock_();
    if (idle && peakHeldOutput_ >= TRIM_AFTER_BYTES && heldOutput_ <= peakHeldOutput_ / 8 &&
        now - lastReleaseMs_ >= TRIM_EVERY_MS) {
        returnFreedMemory();
        peakHeldOutput_ = heldOutput_;
        lastReleaseMs_ = now;
    }
}

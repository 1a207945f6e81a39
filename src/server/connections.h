#pragma once

// The world server's connections: accepting them, reading whole frames,
// writing what is queued for each, and every bound on them: the output
// waiting for one client and for all, the time to log in, and how a
// connection ends (a refusal sent before it closes, or a drop at once).
// What the frames mean is the world's business (world_rules.h): the
// connections hand it every message and tell it when a connection goes.

#include <cstdint>
#include <memory>
#include <queue>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net.h"
#include "platform/poller.h"
#include "protocol/wire_message.h"
#include "server/address_allowances.h"
#include "server/log_throttle.h"
#include "server/output_queue.h"
#include "server/server_config.h"

// Milliseconds on a clock that does not go backwards; every deadline and
// allowance of the server reads it.
using ServerClock = long long (*)();

struct Connection {
    // First what every frame queued for it looks at, so that a fan-out to
    // thousands touches as little memory as it can.
    bool dropped = false;      // close at once
    bool closing = false;      // send what is queued, read nothing more, then close
    bool writeQueued = false;  // listed to be written at the end of the turn
    bool writeDeadlineArmed = false;
    unsigned interest = 0;  // what the poller watches the socket for
    int fd = -1;
    // Once a closing connection's output is sent: its sending side is shut
    // and its input discarded until it closes or this time (ms) passes, so
    // that the last message is not lost to a reset.
    long long lingerUntilMs = 0;
    // Since when output has waited without the socket taking a byte of it.
    long long waitingSinceMs = 0;
    OutputQueue output;

    // The peer's IPv4 address (host order); 0 for a connection handed over
    // without one (a socket pair).
    std::uint32_t address = 0;
    std::uint64_t serial = 0;  // tells this connection from a later one on the same fd
    wire::FrameReader reader;
    bool greeted = false;   // its Hello was answered
    bool loggedIn = false;  // it has a session
    int session = 0;        // its session once logged in, for the log
    // A bot's: read even while the world holds back the others' input, since
    // a relay that cannot send cannot catch up.
    bool trusted = false;
    int loginRefusals = 0;
    // Refusals in the turn `refusalTurn`; a connection refused that often in
    // one turn is not read for a while (`cooling`), so that a flood of
    // requests past their allowance costs the world next to nothing.
    int refusals = 0;
    std::uint64_t refusalTurn = 0;
    bool cooling = false;
    long long loginDeadlineMs = 0;  // closed when not logged in by then
    // It keeps the heartbeat (protocol version 2), so it is held to the idle
    // limit: closed once nothing has come from it for that long.
    bool heartbeat = false;
    long long lastInputMs = 0;  // when bytes last came from it

    // Neither closing nor dropped.
    bool active() const { return !closing && !dropped; }
};

// What the connections tell the world. The calls come from inside a turn.
class ConnectionEvents {
  public:
    virtual ~ConnectionEvents() = default;
    // A whole, well-formed message from the connection.
    virtual void received(Connection& connection, const wire::Message& message) = 0;
    // The connection is on its way out (its last output has gone, or it was
    // dropped): its avatar leaves now. May come more than once.
    virtual void leaving(Connection& connection) = 0;
    // The connection is closed; nothing of it may be kept.
    virtual void closed(Connection& connection) = 0;
    // The turn's output is about to be written: what was gathered to be
    // sent together is queued now.
    virtual void beforeWriting() {}
};

class Connections {
  public:
    // Sockets are watched by `poller`, which must outlive the connections.
    Connections(const ServerConfig& config, ServerClock clock, ConnectionEvents& events,
                Poller& poller, AddressAllowances& addresses);
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // Serves a connected, non-blocking stream socket from `address` (IPv4,
    // host order; 0: none known) from now on, and closes it in the end; or,
    // when the address has no connection left in its allowance, refuses it
    // with 21 and closes it at once. `from` names it in the log.
    void add(int fd, std::uint32_t address, const std::string& from);
    // Begins a turn at the clock's present time.
    void beginTurn() {
        now_ = clock_();
        ++turn_;
    }
    // Input, room to write or an error on a connection's socket.
    void serveEvent(const Poller::Event& event);
    // When the next deadline falls (0 when none): the loop must have ended
    // its turn by then.
    long long nextDeadline();
    // Ends a turn: expires deadlines, writes what the turn queued, and
    // closes what is due. `idle` tells that nothing was ready this turn.
    void endTurn(bool idle);

    // Queues an encoded frame for the connection. Drops it when its output
    // would pass its bound; when all output would pass the global bound,
    // drops the connections whose sockets have taken nothing for the
    // longest until it fits.
    void send(Connection& connection, std::string_view frame);
    // Marks the connection to be closed once its output is sent.
    void close(Connection& connection);
    // Sends Error(request, code) and closes the connection after it.
    void refuseAndClose(Connection& connection, wire::MessageType request, int code);
    // The world refused one of the connection's requests.
    void refused(Connection& connection);
    // The connection has a session now: it has no login deadline. A trusted
    // one (a bot) is read even while the others' input is held back.
    void loggedIn(Connection& connection, int session, bool trusted);
    // The connection keeps the heartbeat: from now on it is closed, with
    // Error(Ping, 6), once it has sent nothing for the configured idle limit
    // (looked at once a second). Others are exempt; TCP keepalive finds
    // their dead peers, far more slowly.
    void keepsHeartbeat(Connection& connection);
    // The connection on `fd`, or nullptr.
    Connection* find(int fd);

    // Connections held, those on their way out included.
    std::size_t count() const { return count_; }
    std::size_t heldOutputBytes() const { return heldOutput_; }
    // True while the world holds back the input of untrusted connections
    // for the output waiting.
    bool holdingBack() const { return holdingBack_; }
    // How long input was held back lately, while what was sent meanwhile is
    // still being read: the allowances do not count that time against it.
    long long holdCreditMs() const { return now_ < holdCreditUntilMs_ ? holdCreditMs_ : 0; }
    // Connections watched for room to write.
    std::size_t waitingToWrite() const;
    // Logs a line, at most a burst of each kind per period.
    void log(const std::string& kind, const std::string& line);
    // The time of this turn.
    long long now() const { return now_; }

  private:
    enum class DueKind { Login, Linger, Write, Cool, Idle };
    struct Due {
        long long ms;
        int fd;
        std::uint64_t serial;
        DueKind kind;
        bool operator>(const Due& other) const { return ms > other.ms; }
    };

    // When the server is full: the connection longest waiting to log in, so
    // that a newcomer can take its place; nullptr when all have logged in.
    Connection* oldestNotLoggedIn(const Connection& newcomer);
    // Reads up to the configured budget and hands over every whole frame, so
    // that at most one partial frame stays buffered.
    void readFrom(Connection& connection);
    // Hands over the whole frames the reader holds; false when the
    // connection may not be read on (closing, or its input held back).
    bool handleFrames(Connection& connection);
    void discardInput(Connection& connection);
    void writeTo(Connection& connection);
    void writeDue();
    void queueWrite(Connection& connection);
    // Tells the poller what the socket is now wanted for: input unless it is
    // being closed (then only while it lingers), room to write only while
    // output waits.
    void updateInterest(Connection& connection);
    // Marks the connection to be closed at once and gives its output back.
    void drop(Connection& connection);
    // Of the connections that are not bots, the one whose socket has taken
    // nothing of its output for the longest (the most held among equals),
    // waiting since at least `stalledSinceMs`; nullptr when none.
    Connection* mostStalled(long long stalledSinceMs);
    // Since when the connection's socket has taken nothing that it is to
    // blame for. A bot whose input the world holds back stops reading once it
    // cannot send, so the hold does not count against it; while the hold
    // lasts it is not stalled at all.
    long long stalledSince(const Connection& connection) const;
    // Holds back or resumes the untrusted connections' input as the output
    // waiting for all and the trusted ones' backlogs call for it.
    void weighPressure();
    // Holds back input at once when the output waiting reaches a mark, so
    // that one turn's reading cannot run far past it.
    void raisePressure();
    void dropStalledUntilDrained();
    bool wantsInput(const Connection& connection) const;
    void arm(const Connection& connection, long long ms, DueKind kind);
    // Drops the connection when its socket has taken nothing for the write
    // timeout, else looks again when that could be so.
    void checkWriteDeadline(Connection& connection);
    // The next look at an idle connection: its limit from its last input,
    // rounded up to a whole second so that many such looks share a turn.
    void armIdle(const Connection& connection);
    void expireIdle(Connection& connection, long long now);
    void expireDeadlines();
    // Finishes what closing and dropping began this turn: lingers those
    // whose output went, closes those dropped; repeats while that causes
    // more.
    void settle();
    void closeNow(Connection& connection);
    // Sends a refusal at once (best effort), closes, and forgets the socket.
    void refuseAtOnce(int fd, int code);
    void releaseFreedMemory(bool idle);

    const ServerConfig& config_;
    ServerClock clock_;
    ConnectionEvents& events_;
    Poller& poller_;
    AddressAllowances& addresses_;
    LogThrottle throttle_;
    long long now_ = 0;
    std::uint64_t turn_ = 0;

    std::vector<std::unique_ptr<Connection>> byFd_;  // indexed by socket
    std::size_t count_ = 0;
    std::size_t leavingCount_ = 0;  // closing or dropped
    std::uint64_t nextSerial_ = 1;
    // Connections not logged in, oldest first (by serial).
    std::set<std::pair<std::uint64_t, int>> notLoggedIn_;
    // Deadlines (login, linger), earliest first; an entry whose connection
    // has gone is passed over.
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> deadlines_;
    std::vector<int> writeDue_;       // sockets to write at the end of the turn
    std::vector<int> ending_;         // sockets that began closing or were dropped this turn
    std::vector<net::Piece> pieces_;  // scratch for gathered writes
    std::vector<char> readBuffer_;    // scratch for reads
    std::size_t heldOutput_ = 0;      // the sum of the connections' output.heldBytes()
    std::size_t peakHeldOutput_ = 0;  // the most heldOutput_ since memory was last released
    long long lastReleaseMs_ = 0;
    std::size_t peakCount_ = 0;  // the most connections since memory was last released
    long long lastSweepMs_ = 0;
    std::vector<int> trusted_;  // sockets of the trusted connections
    // Past half of the output budget (or with a bot behind) the untrusted
    // connections' input is held back; past three quarters, every
    // connection's. Each hold ends at a lower mark.
    bool holdingBack_ = false;
    bool holdingBackAll_ = false;
    bool interestsStale_ = false;  // a hold began or ended: the poller must hear of it
    long long holdingBackSinceMs_ = 0;
    long long botsReadAgainMs_ = 0;  // when the last hold on the bots' input ended
    long long holdCreditMs_ = 0;
    long long holdCreditUntilMs_ = 0;
    std::vector<int> heldInput_;  // sockets whose readers hold frames not yet handed over
    std::string body_;            // scratch for a frame's body
};

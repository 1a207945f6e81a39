#pragma once

// Many simulated avatars in one process, each with its own connection to the
// world, all served by one epoll. Joins are pipelined: an avatar's Hello,
// Login, Enter and State leave together, and a wave of avatars joins at once.
// What arrives is read as it comes, for every avatar, and dropped once seen:
// presence events are skipped by their frame length, console messages and
// chat are shown to an observer as views. An avatar costs its socket, a
// partial frame and a few numbers, however many others share its world.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "avatar/avatar_session.h"
#include "avatar/frame_scan.h"
#include "platform/poller.h"
#include "protocol/heartbeat.h"

// What a fleet tells its owner, from inside join and turn. Views stay valid
// only during the call.
class FleetObserver {
  public:
    virtual ~FleetObserver() = default;
    virtual void onConsole(std::size_t member, std::string_view text) = 0;
    virtual void onChat(std::size_t /*member*/, const ChatView& /*chat*/) {}
    // A joined member's connection ended (closed, broken or a protocol error).
    virtual void onLost(std::size_t /*member*/) {}
};

class AvatarFleet {
  public:
    // A join that makes no progress (no reply) for this long fails.
    static constexpr int JOIN_TIMEOUT_MS = AvatarSession::REQUEST_TIMEOUT_MS;
    // Joins under way at once: enough to keep the server busy, well below
    // its listen backlog.
    static constexpr std::size_t JOINS_IN_FLIGHT = 200;
    // Unsent output per member beyond which a post is refused.
    static constexpr std::size_t MAX_OUTPUT_BYTES = 4 * 1024 * 1024;

    // Members whose heartbeat is looked at every this often: a Ping after a
    // quiet spell, a loss (SDK_RC_TIMEOUT) when one goes unanswered.
    static constexpr int HEARTBEAT_SWEEP_MS = 1000;

    // `version`: the protocol version the members speak; from 2 on they keep
    // the heartbeat, while version 1 members send no Ping (and the world
    // does not hold them to its idle limit).
    explicit AvatarFleet(FleetObserver& observer,
                         std::uint16_t version = wire::PROTOCOL_VERSION);
    ~AvatarFleet();
    AvatarFleet(const AvatarFleet&) = delete;
    AvatarFleet& operator=(const AvatarFleet&) = delete;

    // Adds a member per login (numbered on from size()) and joins them, at
    // most JOINS_IN_FLIGHT at a time, serving the members already joined
    // meanwhile. Returns when every one has joined or failed, or when `stop`
    // becomes true (joins under way then fail with SDK_RC_CONNECTION_LOST,
    // those not started are neither joined nor failed).
    void join(const std::vector<AvatarLogin>& logins, const std::atomic<bool>* stop = nullptr);

    std::size_t size() const { return members_.size(); }
    // Joined, whether or not its connection was lost since.
    bool joined(std::size_t member) const {
        return members_[member].state == State::Joined || members_[member].state == State::Lost;
    }
    bool active(std::size_t member) const { return members_[member].state == State::Joined; }
    bool failed(std::size_t member) const { return members_[member].state == State::Failed; }
    // For a member that failed to join, the first reason code that was not 0
    // (a refusal, a failed connect, a timeout, a lost connection); else 0.
    int joinCode(std::size_t member) const { return members_[member].code; }
    int session(std::size_t member) const { return members_[member].session; }

    // Posted, not awaited, and sent at once as far as the socket takes them.
    // Return a reason code: not joined or no such member
    // (SDK_RC_CONNECTION_LOST), a text too long, or too much output waiting.
    int say(std::size_t member, const std::string& text);
    int broadcast(std::size_t member, const std::string& text);
    // Sends a State; its reply is taken when it comes.
    int moveTo(std::size_t member, const Position& position);

    // Waits at most timeoutMs (less when the heartbeat is due) for any member,
    // then reads and writes every member that is ready and keeps the
    // heartbeat. Returns false when the wait itself failed.
    bool turn(int timeoutMs);

    // Frames received so far, all members together.
    long long framesReceived() const { return framesReceived_; }
    // Bytes received from and sent to the world so far, all members together.
    long long bytesReceived() const { return bytesReceived_; }
    long long bytesSent() const { return bytesSent_; }

  private:
    enum class State : std::uint8_t { Idle, Connecting, Joining, Joined, Failed, Lost };
    struct Member {
        int fd = -1;
        State state = State::Idle;
        bool watchingWrite = false;
        int code = 0;
        int session = 0;
        std::uint32_t requestsSent = 0;  // Hello, Login, Enter, then States
        std::uint32_t repliesTaken = 0;
        long long deadlineMs = 0;  // while joining: when the join fails for want of replies
        wire::Heartbeat heartbeat;
        std::string output;
        FrameScanner input;
    };

    void start(std::size_t member, const AvatarLogin& login);
    void connected(std::size_t member);
    void failJoins(int code);
    void expireJoins();
    void finishJoin(std::size_t member, int code);
    void lose(std::size_t member, int code);
    void keepHeartbeats();
    void serve(std::size_t member, const Poller::Event& event);
    void read(std::size_t member);
    bool take(std::size_t member, std::string_view body);
    bool takeAnswer(Member& member, std::string_view body);
    int post(std::size_t member, const wire::Message& message);
    void flush(std::size_t member);
    void watchWrite(std::size_t member, bool watch);
    void closeSocket(Member& member);

    FleetObserver& observer_;
    std::uint16_t version_;
    Poller poller_;
    std::vector<Member> members_;
    std::unordered_map<int, std::size_t> memberOf_;  // by socket, while it is open
    std::vector<Poller::Event> ready_;               // scratch for the poller
    std::size_t joinsUnderWay_ = 0;
    std::vector<char> readBuffer_;  // shared by every member's reads
    long long framesReceived_ = 0;
    long long bytesReceived_ = 0;
    long long bytesSent_ = 0;
    long long nextExpiryCheckMs_ = 0;
    long long now_ = 0;  // the time of the turn under way
    long long nextSweepMs_ = 0;
};

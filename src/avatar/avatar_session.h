#pragma once

// One avatar in a world: its connection, who it sees around it, and the
// operations a person (or a script, or a simulated crowd member) performs.

#include <map>
#include <optional>
#include <string>

#include "app/coordinates.h"
#include "protocol/wire_message.h"
#include "sdk/world_connection.h"

struct AvatarLogin {
    std::string address = "127.0.0.1";
    int port = 6670;
    std::string name;
    int citizen = 0;  // 0: a tourist, without password
    std::string password;
    std::string world = "welcome";
    Position position;
};

// What an avatar knows of another one in its world.
struct SeenAvatar {
    std::string name;
    int citizen = 0;
    int x = 0, y = 0, z = 0;
};

class AvatarSession {
public:
    static constexpr int REQUEST_TIMEOUT_MS = 10000;

    // Connects, logs in, enters the world and takes the position. Returns the
    // first reason code that is not 0.
    int join(const AvatarLogin& login);
    // Moves to a position (waits for the server's answer); position() is the
    // new one once the server has taken it.
    int moveTo(const Position& position);
    // Posted, not awaited: they leave with the next flush.
    int say(const std::string& text);
    int whisper(int session, const std::string& text);
    int broadcast(const std::string& text);

    // Reads what has arrived, keeps the heartbeat (call it at least every
    // second or so: a connection whose Ping goes unanswered is closed),
    // updates who is present, and returns the events in arrival order (the
    // returned queue is the caller's to empty).
    std::deque<wire::Message>& poll();

    // The session of the avatar present with this name (the latest to arrive
    // when several share it), or nothing.
    std::optional<int> sessionNamed(const std::string& name) const;
    const std::map<int, SeenAvatar>& present() const { return present_; }
    int session() const { return session_; }
    const Position& position() const { return position_; }
    WorldConnection& connection() { return connection_; }

private:
    void notice(const wire::Message& event);

    WorldConnection connection_;
    std::map<int, SeenAvatar> present_;
    int session_ = 0;
    Position position_;
};

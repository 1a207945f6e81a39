#pragma once

// The world server: one thread, one event loop (server_loop.h), any number
// of clients. Its two halves are the connections (connections.h: sockets,
// frames, output, every bound on a client and how a connection ends) and the
// world's rules (world_rules.h: sessions, worlds, positions, and who hears
// what); this class puts them together.

#include <cstdint>
#include <string>

#include "protocol/monotonic_clock.h"
#include "server/connections.h"
#include "server/server_config.h"
#include "server/server_loop.h"
#include "server/world_observer.h"
#include "server/world_rules.h"

class WorldServer {
  public:
    using Clock = ServerClock;

    explicit WorldServer(ServerConfig config, Clock clock = nowMs);
    WorldServer(const WorldServer&) = delete;
    WorldServer& operator=(const WorldServer&) = delete;

    // Binds and listens; false with a message when that fails.
    bool start(std::string& error) { return loop_.start(error); }
    // The port listened on (the one picked when the configuration said 0).
    int port() const { return loop_.port(); }
    // Serves until stop is called: serveOnce without end.
    void run();
    // Makes run return soon. Safe from a signal handler or another thread.
    void stop() { loop_.stop(); }
    // An onlooker told of presence, said lines and console messages; null
    // for none. It must outlive run.
    void setObserver(WorldObserver* observer) { rules_.setObserver(observer); }
    // A service that shares the loop through one descriptor (the live map);
    // nullptr for none. It must outlive run.
    void setGuest(LoopGuest* guest) { loop_.setGuest(guest, connections_); }

    // Serves a connected stream socket as if it had just been accepted from
    // `address` (IPv4, host order; 0: none known); the server owns and closes
    // it from now on. Works without start, so that a test can hand the
    // server one end of a socket pair.
    void adoptClient(int fd, std::uint32_t address = 0);
    // One turn of the loop: waits up to `timeoutMs` (-1: until something
    // happens) for input, room to write or a deadline, then reads, handles,
    // writes and closes what is due. Every client with input is read in the
    // same turn, each up to a budget (what is left waits for the next turn),
    // and what a turn queued for a client leaves in as few writes as the
    // socket takes. False when waiting failed.
    bool serveOnce(int timeoutMs) { return loop_.serveOnce(timeoutMs, connections_); }
    // Connections held, those on their way out included.
    std::size_t connectionCount() const { return connections_.count(); }
    // Memory held by the output waiting for all clients.
    std::size_t heldOutputBytes() const { return connections_.heldOutputBytes(); }
    // Connections watched for room to write: those whose output the socket
    // did not take whole.
    std::size_t waitingToWrite() const { return connections_.waitingToWrite(); }

  private:
    ServerConfig config_;
    AddressAllowances addresses_;
    ServerLoop loop_;
    WorldRules rules_;
    Connections connections_;
};

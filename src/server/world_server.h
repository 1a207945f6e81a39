#pragma once

// The world server: one thread, one event loop, any number of clients. It keeps
// the sessions, the worlds and the avatars' positions, and passes chat,
// console messages and presence events between the sessions by the world's
// rules. Every client is bounded: a frame it sends, the output waiting for it,
// the time it takes to log in and the chat lines it says; and the output
// waiting for all clients together is bounded too.

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/poller.h"
#include "protocol/monotonic_clock.h"
#include "protocol/wire_message.h"
#include "server/output_queue.h"
#include "server/server_config.h"
#include "server/token_bucket.h"
#include "server/world_observer.h"

class WorldServer {
  public:
    // Milliseconds on a clock that does not go backwards; every deadline and
    // the chat limit read it.
    using Clock = long long (*)();

    explicit WorldServer(ServerConfig config, Clock clock = nowMs);
    ~WorldServer();
    WorldServer(const WorldServer&) = delete;
    WorldServer& operator=(const WorldServer&) = delete;

    // Binds and listens; false with a message when that fails.
    bool start(std::string& error);
    // The port listened on (the one picked when the configuration said 0).
    int port() const { return port_; }
    // Serves until stop is called: serveOnce without end.
    void run();
    // Makes run return soon. Safe from a signal handler or another thread.
    void stop();
    // An onlooker told of presence, said lines and console messages, and a
    // service that shares the loop; either may be null. Both must outlive run.
    void setObserver(WorldObserver* observer) { observer_ = observer; }
    // A service that shares the loop through one descriptor (the live map);
    // nullptr for none.
    void setGuest(LoopGuest* guest);

    // Serves a connected stream socket as if it had just been accepted (the
    // server owns and closes it from now on). Works without start, so that a
    // test can hand the server one end of a socket pair.
    void adoptClient(int fd);
    // One turn of the loop: waits up to `timeoutMs` (-1: until something
    // happens) for input, room to write or a deadline, then reads, handles,
    // writes and closes what is due. Every client with input is read in the
    // same turn, each up to a budget (what is left waits for the next turn),
    // and what a turn queued for a client leaves in as few writes as the
    // socket takes. False when waiting failed.
    bool serveOnce(int timeoutMs);
    // Connections held, those on their way out included.
    std::size_t connectionCount() const { return clients_.size(); }
    // Memory held by the output waiting for all clients.
    std::size_t heldOutputBytes() const { return heldOutput_; }
    // Connections watched for room to write: those whose output the socket
    // did not take whole.
    std::size_t waitingToWrite() const;

  private:
    struct Client {
        int fd = -1;
        wire::FrameReader reader;
        OutputQueue output;
        bool greeted = false;
        bool closing = false;  // send what is queued, read nothing more, then close
        // Once a closing client's output is sent: its sending side is shut and
        // its input discarded until it closes or this time (ms) passes, so
        // that the last message is not lost to a reset.
        long long lingerUntilMs = 0;
        bool dropped = false;  // close at once
        unsigned interest = 0;          // what the poller watches the socket for
        bool writeQueued = false;       // listed in writeDue_ for this turn
        long long loginDeadlineMs = 0;  // closed when not logged in by then
        int session = 0;                // 0 until logged in
        int citizen = 0;
        bool bot = false;
        bool hearAll = false;
        TokenBucket chatLines;
        std::string name;   // as others see it
        std::string world;  // empty when in no world
        int x = 0, y = 0, z = 0;
    };

    void acceptClients();
    Client& addClient(int fd);
    void serveEvent(const Poller::Event& event);
    // Tells the poller what the client's socket is now wanted for: input
    // unless it is being closed (then only while it lingers), room to write
    // only while output waits.
    void updateInterest(Client& client);
    // Lists the client to be written at the end of the turn.
    void queueWrite(Client& client);
    void writeDue();
    // Marks the client to be closed once its output is sent.
    void markClosing(Client& client);
    // Clients not on their way out: those that the limit counts.
    std::size_t activeClients() const;
    // When the server is full: the connection longest waiting to log in, so
    // that a newcomer can take its place; nullptr when all have logged in.
    Client* oldestNotLoggedIn(const Client& newcomer);
    // The time (ms) of the next deadline of any client; 0 when none.
    long long nextDeadline() const;
    void expireLogins(long long now);
    // Reads up to the configured budget and handles every whole frame, so that at
    // most one partial frame stays buffered.
    void readFrom(Client& client);
    void writeTo(Client& client);
    void discardInput(Client& client);
    void removeClosedClients();
    void closeClient(int fd);
    // Marks the client to be closed at once and gives its output's memory back.
    void drop(Client& client);
    void releaseFreedMemory();

    void handle(Client& client, const wire::Message& message);
    void handleHello(Client& client, const wire::Message& message);
    void handleLogin(Client& client, const wire::Message& message);
    void handleEnter(Client& client, const wire::Message& message);
    void handleState(Client& client, const wire::Message& message);
    void handleChat(Client& client, const wire::Message& message);
    void handleConsole(Client& client, const wire::Message& message);
    int loginCode(const wire::Message& message) const;
    static int permittedHearing(const wire::Message& login);

    // Queues an encoded frame for the client. Drops the client when its
    // output would pass its bound; when all output would pass the global
    // bound, drops the clients holding the most until it fits.
    void send(Client& client, const std::string& frame);
    void send(Client& client, const wire::Message& message);
    Client* biggestHolder();
    void reply(Client& client, wire::MessageType request, int code, int value = 0);
    void refuse(Client& client, wire::MessageType request, int code);
    // Refuses and closes after the refusal is sent.
    void refuseAndClose(Client& client, wire::MessageType request, int code);
    void leaveWorld(Client& client);
    Client* inWorld(int session, const std::string& world);
    bool hears(const Client& listener, const Client& speaker) const;
    void log(const std::string& line) const;

    ServerConfig config_;
    Clock clock_;
    Poller poller_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int spareFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopRequested_{false};
    int nextSession_ = 1;
    std::map<int, Client> clients_;  // by socket
    std::map<int, int> sessions_;    // session -> socket, in the order of login
    // Sockets of the clients that have a deadline or are on their way out: not
    // logged in, closing, lingering or dropped. Only these are checked each
    // turn, so a turn costs nothing for the sessions that are merely idle.
    std::set<int> unsettled_;
    std::vector<int> writeDue_;         // sockets to write at the end of the turn
    std::vector<Poller::Event> ready_;  // scratch for the poller
    std::size_t heldOutput_ = 0;     // the sum of the clients' output.heldBytes()
    std::size_t peakHeldOutput_ = 0;  // the most heldOutput_ since memory was last released
    std::string frame_;              // scratch for encoding
    WorldObserver* observer_ = nullptr;
    LoopGuest* guest_ = nullptr;
    bool guestReady_ = false;  // its descriptor was ready this turn
};

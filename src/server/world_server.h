#pragma once

// The world server: one thread, one poll loop, any number of clients. It keeps
// the sessions, the worlds and the avatars' positions, and passes chat,
// console messages and presence events between the sessions by the world's
// rules. Every client is bounded: a frame it sends, the output waiting for it.

#include <atomic>
#include <map>
#include <string>

#include "protocol/wire_message.h"
#include "server/server_config.h"
#include "server/world_observer.h"

class WorldServer {
  public:
    explicit WorldServer(ServerConfig config);
    ~WorldServer();
    WorldServer(const WorldServer&) = delete;
    WorldServer& operator=(const WorldServer&) = delete;

    // Binds and listens; false with a message when that fails.
    bool start(std::string& error);
    // The port listened on (the one picked when the configuration said 0).
    int port() const { return port_; }
    // Serves until stop is called.
    void run();
    // Makes run return soon. Safe from a signal handler or another thread.
    void stop();
    // An onlooker told of presence, said lines and console messages, and a
    // service that shares the loop; either may be null. Both must outlive run.
    void setObserver(WorldObserver* observer) { observer_ = observer; }
    void setGuest(LoopGuest* guest) { guest_ = guest; }

  private:
    struct Client {
        int fd = -1;
        wire::FrameReader reader;
        std::string output;
        bool greeted = false;
        bool closing = false;  // send what is queued, read nothing more, then close
        // Once a closing client's output is sent: its sending side is shut and
        // its input discarded until it closes or this time (ms) passes, so
        // that the last message is not lost to a reset.
        long long lingerUntilMs = 0;
        bool dropped = false;  // close at once
        int session = 0;       // 0 until logged in
        int citizen = 0;
        bool bot = false;
        bool hearAll = false;
        std::string name;   // as others see it
        std::string world;  // empty when in no world
        int x = 0, y = 0, z = 0;
    };

    void acceptClients();
    // Clients not on their way out: those that the limit counts.
    std::size_t activeClients() const;
    void readFrom(Client& client);
    void writeTo(Client& client);
    void discardInput(Client& client);
    void removeClosedClients();
    void closeClient(int fd);

    void handle(Client& client, const wire::Message& message);
    void handleHello(Client& client, const wire::Message& message);
    void handleLogin(Client& client, const wire::Message& message);
    void handleEnter(Client& client, const wire::Message& message);
    void handleState(Client& client, const wire::Message& message);
    void handleChat(Client& client, const wire::Message& message);
    void handleConsole(Client& client, const wire::Message& message);
    int loginCode(const wire::Message& message) const;

    // Queues a message for the client; drops the client when its output
    // would pass the bound.
    void send(Client& client, const wire::Message& message);
    void reply(Client& client, wire::MessageType request, int code, int value = 0);
    void refuse(Client& client, wire::MessageType request, int code);
    // Refuses and closes after the refusal is sent.
    void refuseAndClose(Client& client, wire::MessageType request, int code);
    void leaveWorld(Client& client);
    Client* inWorld(int session, const std::string& world);
    bool hears(const Client& listener, const Client& speaker) const;

    ServerConfig config_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int spareFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopRequested_{false};
    int nextSession_ = 1;
    std::map<int, Client> clients_;  // by socket
    std::map<int, int> sessions_;    // session -> socket
    WorldObserver* observer_ = nullptr;
    LoopGuest* guest_ = nullptr;
};

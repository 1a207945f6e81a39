#pragma once

// A client of a WorldServer that a test drives turn by turn in its own
// thread: one end of a socket pair whose other end the server adopted. The
// test calls the server's serveOnce between what the clients send and read,
// so that every step is deterministic.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire_message.h"
#include "server/world_server.h"

class PairClient {
  public:
    // `serverSendBuffer` bytes of socket buffers on both ends (0: the
    // system's defaults); small ones make output wait in the server soon.
    // The server sees the connection come from `address` (0: none).
    explicit PairClient(WorldServer& server, int serverSendBuffer = 0,
                        std::uint32_t address = 0);
    ~PairClient();
    PairClient(const PairClient&) = delete;
    PairClient& operator=(const PairClient&) = delete;

    // Sends what the socket takes now; the rest waits, in order, for flush.
    void send(const wire::Message& message);
    // Adds the message to what waits for flush, so that many leave in one
    // write and reach the server together.
    void queue(const wire::Message& message);
    // Sends what waits as far as the socket takes it; true once nothing waits.
    bool flush();
    // Sends a request, lets the server take turns, and returns the reason
    // code of its answer (-1 when none came).
    int request(const wire::Message& message, int* value = nullptr);
    // Hello (in the given protocol version), Login and, when world is not
    // empty, Enter; the first failing code.
    int join(const std::string& name, int citizen = 0, const std::string& password = "",
             bool bot = false, const std::string& world = "welcome",
             std::uint16_t version = wire::PROTOCOL_VERSION);
    // Reads what has arrived so far, without waiting.
    void receive();
    // Every message received so far, in order (reads first).
    const std::vector<wire::Message>& received();
    std::vector<wire::Message> receivedOfType(wire::MessageType type);
    // True once the server closed its sending side.
    bool closed();
    int session() const { return session_; }

  private:
    WorldServer& server_;
    int fd_ = -1;
    wire::FrameReader reader_;
    std::string unsent_;
    std::vector<wire::Message> received_;
    bool closed_ = false;
    int session_ = 0;
};

// Lets the server take `turns` turns without waiting.
void serveTurns(WorldServer& server, int turns = 4);

#pragma once

// Plain protocol clients for the attack and overload benchmarks: one TCP
// connection each, from a chosen loopback address (127.0.0.0/8 has millions,
// so that a benchmark can be many client addresses or one), speaking the
// wire protocol frame by frame with nothing in between. Linux only, like
// every benchmark.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire_message.h"

// 127.A.B.C as a number (host order).
std::uint32_t loopbackAddress(int a, int b, int c);

struct RawClient {
    int fd = -1;
    std::string unsent;  // what the socket has not taken yet, in order
    wire::FrameReader reader;
    bool closed = false;  // the world closed or reset it (the socket is closed then)

    // Connects from `local` to 127.0.0.1:port, non-blocking, with a receive
    // buffer of `receiveBuffer` bytes when above 0. False when that fails.
    bool open(std::uint32_t local, int port, int receiveBuffer = 0);
    void close();
    // Queues the message and sends what the socket takes.
    void send(const wire::Message& message);
    // Sends what waits; true once nothing does.
    bool flush();
    // Reads what has come and decodes it into `into` (when given; only the
    // frames of type `only`, when that is given, so that a flood's answers
    // are read as fast as they come); marks the client closed at the end of
    // the stream.
    void receive(std::vector<wire::Message>* into,
                 wire::MessageType only = static_cast<wire::MessageType>(0));
};

// Hello, Login and Enter for a tourist (or citizen), then a State at x, z.
void sendJoin(RawClient& client, const std::string& name, int x, int z, int citizen = 0,
              const std::string& password = "");
// A Message of the type with its text (Say) or name (Enter).
wire::Message sayMessage(const std::string& text);

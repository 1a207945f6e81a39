// Fuzz target: the world server's handling of what its clients send.
//
// The input is a series of records, each fed to one of two clients whose
// sockets the server adopted (socket pairs, so nothing leaves the process):
//
//   u8 control: bit 0 the client (0 or 1); bit 1 set: that client reads
//               nothing this turn (its output waits in the server); bits
//               2-7: the clock moves on by that many tenths of a second
//   u8 length, then that many bytes (fewer at the end of the input)
//
// After each record the server takes one turn. The clock is the target's
// own, so a run is deterministic; the login deadline is short and the output
// budgets small, so that deadlines, the chat limit and drops are reached.

#include <cstddef>
#include <cstdint>

#include "platform/net.h"
#include "server/world_server.h"

namespace {

long long fuzzNow = 0;
long long fuzzClock() {
    return fuzzNow;
}

ServerConfig fuzzConfig() {
    ServerConfig config;
    config.worlds = {"welcome", "other"};
    config.citizens = {{1, "pw"}, {2, ""}};
    config.bots = {1, 2};
    config.maxClients = 2;
    config.maxOutputBytes = 16 * 1024;
    config.maxTotalOutputBytes = 24 * 1024;
    config.loginTimeoutMs = 1000;
    config.chatRate = 5;
    config.chatBurst = 4;
    config.logToStderr = false;
    return config;
}

void drain(int fd) {
    char buffer[4096];
    while (net::receive(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzNow = 1;
    WorldServer server(fuzzConfig(), fuzzClock);
    int clients[2] = {-1, -1};
    for (int& client : clients) {
        int ends[2];
        if (!net::socketPair(ends)) {
            break;
        }
        net::setNonBlocking(ends[0]);  // its sends and reads never wait
        net::setSendBuffer(ends[1], 4096);
        client = ends[0];
        server.adoptClient(ends[1]);
    }
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t control = data[at];
        std::size_t length = data[at + 1];
        at += 2;
        length = length < size - at ? length : size - at;
        const int client = clients[control & 1];
        fuzzNow += (control >> 2) * 100;
        if (client >= 0 && length > 0) {
            net::send(client, data + at, length);
        }
        at += length;
        server.serveOnce(0);
        if ((control & 2) == 0 && client >= 0) {
            drain(client);
        }
    }
    // Let the server answer what is left, with both clients reading.
    for (int turn = 0; turn < 4; ++turn) {
        server.serveOnce(0);
        for (int client : clients) {
            if (client >= 0) {
                drain(client);
            }
        }
    }
    for (int client : clients) {
        if (client >= 0) {
            net::close(client);
        }
    }
    return 0;
}

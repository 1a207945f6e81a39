#pragma once

// TCP over IPv4 for every program, in the few shapes the code uses. Sockets
// are plain ints on every system (-1 for none). Sending never raises a
// signal; a send or receive says whether it moved bytes, could not move any
// now (the socket would block, try after the next poll) or failed.

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

// Results of send, sendPieces and receive besides a count of bytes (receive's
// 0 is the end of the stream).
inline constexpr long AGAIN = -1;   // nothing moved now; poll and try again
inline constexpr long FAILED = -2;  // the connection is broken; lastError() says why

// Makes the socket layer ready. Every call below that creates a socket makes
// it first, so only code that wants the error needs this; repeated calls
// cost nothing. False with the reason in lastError().
bool start();

// Why the last failed call of this thread failed, in words.
std::string lastError();

void close(int fd);
bool setNonBlocking(int fd);
void setNoDelay(int fd);
// TCP keepalive: after `idleSeconds` without traffic the system probes the
// peer every `intervalSeconds`, and a peer that answers `count` probes in a
// row with silence breaks the connection (on Windows the count is the
// system's own).
void setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int count);
// Socket buffer sizes; the system may round them.
void setSendBuffer(int fd, int bytes);
void setReceiveBuffer(int fd, int bytes);
// A blocking receive that waits longer than this fails (AGAIN).
void setReceiveTimeout(int fd, int milliseconds);
// Bytes that a receive would return at once (0 when none or on failure).
std::size_t bytesWaiting(int fd);

long send(int fd, const void* data, std::size_t size);
long receive(int fd, void* buffer, std::size_t size);

// One piece of a gathered send.
struct Piece {
    const char* data = nullptr;
    std::size_t size = 0;
};
// At most this many pieces leave in one call; further ones are left unsent.
inline constexpr int MAX_PIECES = 1024;
// Sends the pieces in order in one call, as far as the socket takes them.
long sendPieces(int fd, const Piece* pieces, int count);

// Ends the sending side: the peer reads the end of the stream once it has
// everything sent before.
void shutdownSending(int fd);

// An IPv4 address in dotted form ("127.0.0.1") as the number it stands for
// (host order), or false.
bool parseIpv4(const std::string& text, std::uint32_t& address);
inline constexpr std::uint32_t LOOPBACK = 0x7f000001;

// A non-blocking socket with TCP_NODELAY connected to address:port within
// the timeout, or -1.
int connectBefore(std::uint32_t address, int port, int timeoutMs);
// A blocking socket connected to address:port, or -1; for tests and tools.
int connectBlocking(std::uint32_t address, int port);
// A non-blocking socket with TCP_NODELAY whose connection to address:port is
// under way (or made), or -1. It polls writable once that is settled;
// pendingError then tells how.
int startConnect(std::uint32_t address, int port);
// 0 once the connection is made, else the system's error number (and the
// words for it in lastError()).
int pendingError(int fd);

// A socket listening on address:port (port 0: a free one), or -1. A receive
// buffer size above 0 is set before listening, so that accepted sockets
// inherit it. The socket blocks unless made non-blocking.
int listenOn(std::uint32_t address, int port, int backlog, int receiveBufferBytes = 0);
// The port a socket is bound to, or 0.
int localPort(int fd);
// Returned by accept when the process has no descriptor left for the
// connection that waits.
inline constexpr int OUT_OF_DESCRIPTORS = -2;
// Takes a waiting connection: its socket (non-blocking when asked), -1 when
// none waits or accepting failed, or OUT_OF_DESCRIPTORS. `peer`, when given,
// is set to the remote end as "address:port".
int accept(int listener, bool nonBlocking = false, std::string* peer = nullptr);
// A descriptor held in reserve so that a listener out of descriptors can
// still take a waiting connection and close it: release it, accept, close,
// reserve again. -1 where the system needs none.
int reserveDescriptor();
void releaseDescriptor(int fd);

// Two connected stream sockets, both blocking; false when the system refused.
// With `bufferBytes` above 0 both ends get send and receive buffers of about
// that size, set before they connect: a TCP connection (the pair on Windows)
// keeps the receive window it offered at first.
bool socketPair(int ends[2], int bufferBytes = 0);

// One socket to poll (on POSIX any descriptor: standard input too), with
// what it is watched for and what it is ready for.
struct PollEntry {
    int fd = -1;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false;  // input, end of input, or an error to read
    bool writable = false;  // room to write, or an error to find by writing
};
// Entries beyond this many are not watched.
inline constexpr int MAX_POLL_ENTRIES = 16;
// Waits up to `timeoutMs` (-1: without end) for any of the entries to be
// ready and sets their readable and writable. Returns how many are ready,
// 0 after the timeout or an interrupted wait, -1 when waiting failed. With
// no entries it only waits the time.
int poll(PollEntry* entries, int count, int timeoutMs);

}  // namespace net

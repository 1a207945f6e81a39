// winsock2.h must come before windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <windows.h>
// clang-format on

#include <string>

#include "platform/net.h"

namespace net {

namespace {

SOCKET handleOf(int fd) {
    return static_cast<SOCKET>(fd);
}

// Socket handles keep their value when cut to 32 bits, so an int holds one.
int fdOf(SOCKET socket) {
    return socket == INVALID_SOCKET ? -1 : static_cast<int>(socket);
}

sockaddr_in socketAddress(std::uint32_t address, int port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(static_cast<u_short>(port));
    return result;
}

// Closes a socket that failed to be set up, keeping the reason of the failure.
int abandon(int fd) {
    const int saved = ::WSAGetLastError();
    ::closesocket(handleOf(fd));
    ::WSASetLastError(saved);
    return -1;
}

long outcome(int n) {
    if (n != SOCKET_ERROR) {
        return n;
    }
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR ? AGAIN : FAILED;
}

int clampedSize(std::size_t size) {
    return size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
}

bool setBlocking(int fd, bool blocking) {
    u_long mode = blocking ? 0 : 1;
    return ::ioctlsocket(handleOf(fd), FIONBIO, &mode) == 0;
}

int newSocket() {
    if (!start()) {
        return -1;
    }
    return fdOf(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

}  // namespace

bool start() {
    static const bool started = [] {
        WSADATA data;
        const int error = ::WSAStartup(MAKEWORD(2, 2), &data);
        if (error != 0) {
            ::WSASetLastError(error);
        }
        return error == 0;
    }();
    return started;
}

std::string lastError() {
    const int error = ::WSAGetLastError();
    char text[512] = "";
    DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        --length;
    }
    std::string words(text, length);
    return (words.empty() ? "socket error" : words) + " (" + std::to_string(error) + ")";
}

void close(int fd) {
    if (fd >= 0) {
        ::closesocket(handleOf(fd));
    }
}

bool setNonBlocking(int fd) {
    return setBlocking(fd, false);
}

void setNoDelay(int fd) {
    BOOL on = TRUE;
    ::setsockopt(handleOf(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof on);
}

void setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int) {
    tcp_keepalive settings{};
    settings.onoff = 1;
    settings.keepalivetime = static_cast<ULONG>(idleSeconds) * 1000;
    settings.keepaliveinterval = static_cast<ULONG>(intervalSeconds) * 1000;
    DWORD returned = 0;
    ::WSAIoctl(handleOf(fd), SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned,
               nullptr, nullptr);
}

void setSendBuffer(int fd, int bytes) {
    ::setsockopt(handleOf(fd), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof bytes);
}

void setReceiveBuffer(int fd, int bytes) {
    ::setsockopt(handleOf(fd), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof bytes);
}

void setReceiveTimeout(int fd, int milliseconds) {
    const DWORD patience = static_cast<DWORD>(milliseconds);
    ::setsockopt(handleOf(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&patience),
                 sizeof patience);
}

std::size_t bytesWaiting(int fd) {
    u_long unread = 0;
    return ::ioctlsocket(handleOf(fd), FIONREAD, &unread) == 0 ? unread : 0;
}

long send(int fd, const void* data, std::size_t size) {
    return outcome(::send(handleOf(fd), static_cast<const char*>(data), clampedSize(size), 0));
}

long receive(int fd, void* buffer, std::size_t size) {
    return outcome(::recv(handleOf(fd), static_cast<char*>(buffer), clampedSize(size), 0));
}

long sendPieces(int fd, const Piece* pieces, int count) {
    WSABUF buffers[MAX_PIECES];
    const int used = count < MAX_PIECES ? count : MAX_PIECES;
    for (int i = 0; i < used; ++i) {
        buffers[i].buf = const_cast<char*>(pieces[i].data);
        buffers[i].len = static_cast<ULONG>(pieces[i].size);
    }
    DWORD sent = 0;
    if (::WSASend(handleOf(fd), buffers, static_cast<DWORD>(used), &sent, 0, nullptr, nullptr) !=
        0) {
        return outcome(SOCKET_ERROR);
    }
    return static_cast<long>(sent);
}

void shutdownSending(int fd) {
    ::shutdown(handleOf(fd), SD_SEND);
}

bool parseIpv4(const std::string& text, std::uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        return false;
    }
    address = ntohl(parsed.s_addr);
    return true;
}

int connectBefore(std::uint32_t address, int port, int timeoutMs) {
    const int fd = startConnect(address, port);
    if (fd < 0) {
        return -1;
    }
    // select, not WSAPoll: it reports a refused connection at once.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(handleOf(fd), &writable);
    FD_SET(handleOf(fd), &failed);
    timeval patience{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (timeoutMs < 0) {
        patience = timeval{0, 0};
    }
    if (::select(0, nullptr, &writable, &failed, &patience) == 1 &&
        FD_ISSET(handleOf(fd), &writable) && pendingError(fd) == 0) {
        return fd;
    }
    return abandon(fd);
}

namespace {

// Connects a new blocking socket, or closes it.
int connectSocket(int fd, std::uint32_t address, int port) {
    const sockaddr_in target = socketAddress(address, port);
    if (::connect(handleOf(fd), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        return abandon(fd);
    }
    return fd;
}

}  // namespace

int connectBlocking(std::uint32_t address, int port) {
    const int fd = newSocket();
    if (fd < 0) {
        return -1;
    }
    return connectSocket(fd, address, port);
}

int startConnect(std::uint32_t address, int port) {
    const int fd = newSocket();
    if (fd < 0) {
        return -1;
    }
    if (!setBlocking(fd, false)) {
        return abandon(fd);
    }
    setNoDelay(fd);
    const sockaddr_in target = socketAddress(address, port);
    if (::connect(handleOf(fd), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK) {
        return abandon(fd);
    }
    return fd;
}

int pendingError(int fd) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(handleOf(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &length) != 0) {
        return ::WSAGetLastError();
    }
    if (error != 0) {
        ::WSASetLastError(error);
    }
    return error;
}

int listenOn(std::uint32_t address, int port, int backlog, int receiveBufferBytes) {
    const int fd = newSocket();
    if (fd < 0) {
        return -1;
    }
    // No SO_REUSEADDR: here it would let another socket take the port.
    if (receiveBufferBytes > 0) {
        setReceiveBuffer(fd, receiveBufferBytes);
    }
    const sockaddr_in local = socketAddress(address, port);
    if (::bind(handleOf(fd), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(handleOf(fd), backlog) != 0) {
        return abandon(fd);
    }
    return fd;
}

int localPort(int fd) {
    sockaddr_in local{};
    int length = sizeof local;
    if (::getsockname(handleOf(fd), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

int accept(int listener, bool nonBlocking, std::string* peer) {
    sockaddr_in remote{};
    int length = sizeof remote;
    const int fd =
        fdOf(::accept(handleOf(listener), reinterpret_cast<sockaddr*>(&remote), &length));
    if (fd < 0) {
        return ::WSAGetLastError() == WSAEMFILE ? OUT_OF_DESCRIPTORS : -1;
    }
    // An accepted socket takes the listener's mode; set the one asked for.
    if (!setBlocking(fd, !nonBlocking)) {
        return abandon(fd);
    }
    if (peer != nullptr) {
        char text[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &remote.sin_addr, text, sizeof text);
        *peer = std::string(text) + ":" + std::to_string(ntohs(remote.sin_port));
    }
    return fd;
}

int reserveDescriptor() {
    return -1;  // sockets here are not counted against a descriptor limit
}

void releaseDescriptor(int) {}

namespace {

// A blocking socket connected to the loopback port, its buffers set first.
int connectBuffered(int port, int bufferBytes) {
    const int fd = newSocket();
    if (fd < 0) {
        return -1;
    }
    if (bufferBytes > 0) {
        setSendBuffer(fd, bufferBytes);
        setReceiveBuffer(fd, bufferBytes);
    }
    return connectSocket(fd, LOOPBACK, port);
}

}  // namespace

bool socketPair(int ends[2], int bufferBytes) {
    // No socketpair here: a loopback connection to a listener of our own,
    // taken only when the accepted peer is the socket that connected.
    const int listener = listenOn(LOOPBACK, 0, 1, bufferBytes);
    if (listener < 0) {
        return false;
    }
    if (bufferBytes > 0) {
        setSendBuffer(listener, bufferBytes);  // passed on to the accepted end
    }
    const int port = localPort(listener);
    const int connecting = port != 0 ? connectBuffered(port, bufferBytes) : -1;
    int accepted = connecting >= 0 ? accept(listener) : -1;
    if (accepted >= 0) {
        sockaddr_in mine{};
        sockaddr_in theirs{};
        int mineLength = sizeof mine;
        int theirsLength = sizeof theirs;
        if (::getsockname(handleOf(connecting), reinterpret_cast<sockaddr*>(&mine), &mineLength) !=
                0 ||
            ::getpeername(handleOf(accepted), reinterpret_cast<sockaddr*>(&theirs),
                          &theirsLength) != 0 ||
            mine.sin_port != theirs.sin_port || mine.sin_addr.s_addr != theirs.sin_addr.s_addr) {
            close(accepted);
            accepted = -1;
        }
    }
    close(listener);
    if (accepted < 0) {
        close(connecting);
        return false;
    }
    setNoDelay(connecting);
    setNoDelay(accepted);
    if (bufferBytes > 0) {
        setSendBuffer(accepted, bufferBytes);
        setReceiveBuffer(accepted, bufferBytes);
    }
    ends[0] = connecting;
    ends[1] = accepted;
    return true;
}

int poll(PollEntry* entries, int count, int timeoutMs) {
    const int used = count < MAX_POLL_ENTRIES ? count : MAX_POLL_ENTRIES;
    WSAPOLLFD fds[MAX_POLL_ENTRIES];
    int sockets = 0;
    for (int i = 0; i < used; ++i) {
        fds[i].fd = handleOf(entries[i].fd);
        fds[i].events = static_cast<SHORT>((entries[i].wantRead ? POLLRDNORM : 0) |
                                           (entries[i].wantWrite ? POLLWRNORM : 0));
        fds[i].revents = 0;
        sockets += entries[i].fd >= 0 ? 1 : 0;
    }
    if (sockets == 0) {
        // WSAPoll refuses a set without a socket; poll(2) would only wait.
        for (int i = 0; i < used; ++i) {
            entries[i].readable = entries[i].writable = false;
        }
        ::Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    const int n = ::WSAPoll(fds, static_cast<ULONG>(used), timeoutMs);
    for (int i = 0; i < used; ++i) {
        const SHORT got = n > 0 ? fds[i].revents : 0;
        entries[i].readable = (got & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
        entries[i].writable = (got & (POLLWRNORM | POLLERR)) != 0;
    }
    return n == SOCKET_ERROR ? -1 : n;
}

}  // namespace net

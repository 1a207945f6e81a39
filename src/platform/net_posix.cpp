#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/net.h"

namespace net {

namespace {

sockaddr_in socketAddress(std::uint32_t address, int port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(static_cast<std::uint16_t>(port));
    return result;
}

// Closes a socket that failed to be set up, keeping the reason of the failure.
int abandon(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

long outcome(ssize_t n) {
    if (n >= 0) {
        return static_cast<long>(n);
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? AGAIN : FAILED;
}

}  // namespace

bool start() {
    return true;  // MSG_NOSIGNAL keeps SIGPIPE away from every send
}

std::string lastError() {
    return std::strerror(errno);
}

void close(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void setNoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int count) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

void setSendBuffer(int fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void setReceiveBuffer(int fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void setReceiveTimeout(int fd, int milliseconds) {
    timeval patience{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
}

std::size_t bytesWaiting(int fd) {
    int unread = 0;
    return ::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0 ? static_cast<std::size_t>(unread) : 0;
}

long send(int fd, const void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(fd, data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return outcome(n);
}

long receive(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::recv(fd, buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return outcome(n);
}

long sendPieces(int fd, const Piece* pieces, int count) {
    iovec vectors[MAX_PIECES];
    const int used = count < MAX_PIECES ? count : MAX_PIECES;
    for (int i = 0; i < used; ++i) {
        vectors[i].iov_base = const_cast<char*>(pieces[i].data);
        vectors[i].iov_len = pieces[i].size;
    }
    msghdr header{};
    header.msg_iov = vectors;
    header.msg_iovlen = static_cast<std::size_t>(used);
    ssize_t n;
    do {
        n = ::sendmsg(fd, &header, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return outcome(n);
}

void shutdownSending(int fd) {
    ::shutdown(fd, SHUT_WR);
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
    pollfd waiting{fd, POLLOUT, 0};
    if (::poll(&waiting, 1, timeoutMs < 0 ? 0 : timeoutMs) == 1 && pendingError(fd) == 0) {
        return fd;
    }
    return abandon(fd);
}

int connectBlocking(std::uint32_t address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const sockaddr_in target = socketAddress(address, port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        return abandon(fd);
    }
    return fd;
}

int startConnect(std::uint32_t address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int on = 1;
    const sockaddr_in target = socketAddress(address, port);
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
        (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
         errno != EINPROGRESS)) {
        return abandon(fd);
    }
    return fd;
}

int pendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    if (error != 0) {
        errno = error;
    }
    return error;
}

int listenOn(std::uint32_t address, int port, int backlog, int receiveBufferBytes) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBufferBytes > 0) {
        setReceiveBuffer(fd, receiveBufferBytes);
    }
    const sockaddr_in local = socketAddress(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd, backlog) != 0) {
        return abandon(fd);
    }
    return fd;
}

int localPort(int fd) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

int accept(int listener, bool nonBlocking, std::string* peer) {
    sockaddr_in remote{};
    socklen_t length = sizeof remote;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&remote), &length,
                             SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
    if (fd < 0) {
        return errno == EMFILE || errno == ENFILE ? OUT_OF_DESCRIPTORS : -1;
    }
    if (peer != nullptr) {
        char text[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &remote.sin_addr, text, sizeof text);
        *peer = std::string(text) + ":" + std::to_string(ntohs(remote.sin_port));
    }
    return fd;
}

int reserveDescriptor() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void releaseDescriptor(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool socketPair(int ends[2], int bufferBytes) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    if (bufferBytes > 0) {
        for (int i = 0; i < 2; ++i) {
            setSendBuffer(ends[i], bufferBytes);
            setReceiveBuffer(ends[i], bufferBytes);
        }
    }
    return true;
}

int poll(PollEntry* entries, int count, int timeoutMs) {
    pollfd fds[MAX_POLL_ENTRIES];
    const int used = count < MAX_POLL_ENTRIES ? count : MAX_POLL_ENTRIES;
    for (int i = 0; i < used; ++i) {
        fds[i].fd = entries[i].fd;
        fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) |
                                           (entries[i].wantWrite ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    const int n = ::poll(used > 0 ? fds : nullptr, static_cast<nfds_t>(used), timeoutMs);
    for (int i = 0; i < used; ++i) {
        const short got = n > 0 ? fds[i].revents : 0;
        entries[i].readable = (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
        entries[i].writable = (got & (POLLOUT | POLLERR)) != 0;
    }
    if (n < 0) {
        return errno == EINTR ? 0 : -1;
    }
    return n;
}

}  // namespace net

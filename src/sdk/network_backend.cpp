#include "sdk/network_backend.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int CONNECT_TIMEOUT_MS = 5000;
constexpr int IDLE_WAIT_MS = 100;

// Connects a non-blocking socket within the timeout; returns the socket or -1.
int connectWithTimeout(const sockaddr_in& address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (errno == EINPROGRESS) {
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, CONNECT_TIMEOUT_MS) == 1) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
                return fd;
            }
        }
    }
    ::close(fd);
    return -1;
}

}  // namespace

NetworkBackend::~NetworkBackend() { closeConnection(); }

int NetworkBackend::initialise(int build) {
    if (build != SDK_BUILD) {
        return SDK_RC_WRONG_BUILD;
    }
    initialised_ = true;
    return SDK_OK;
}

int NetworkBackend::createInstance(const std::string& address, int port, int /*reserved*/) {
    if (!initialised_) {
        return SDK_RC_NOT_INITIALISED;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (port < 1 || port > 65535 || ::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
        return SDK_RC_BAD_ADDRESS;
    }
    target.sin_port = htons(static_cast<uint16_t>(port));
    closeConnection();
    socket_ = connectWithTimeout(target);
    return socket_ < 0 ? SDK_RC_CONNECT_FAILED : SDK_OK;
}

int NetworkBackend::login() { return socket_ < 0 ? SDK_RC_NO_INSTANCE : SDK_RC_PROTOCOL_ERROR; }

int NetworkBackend::enterWorld(const std::string& /*world*/) { return SDK_RC_NOT_LOGGED_IN; }

int NetworkBackend::commitState() { return SDK_RC_NOT_IN_WORLD; }

int NetworkBackend::processEvents(int /*argument*/) {
    forgetDeliveredEvents();
    ::poll(nullptr, 0, IDLE_WAIT_MS);
    return SDK_OK;
}

int NetworkBackend::sendConsoleMessage(int /*session*/) { return SDK_RC_NOT_IN_WORLD; }

void NetworkBackend::closeConnection() {
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

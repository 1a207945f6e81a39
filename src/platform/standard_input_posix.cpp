#include <unistd.h>

#include <cerrno>

#include "platform/net.h"
#include "platform/standard_input.h"

int openStandardInput() {
    return STDIN_FILENO;
}

long readInput(int fd, char* buffer, std::size_t size) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0) {
        return static_cast<long>(n);
    }
    return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? net::AGAIN : net::FAILED;
}

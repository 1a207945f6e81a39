#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/standard_output.h"

bool writeStandardOutput(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Someone else made the description non-blocking: wait for room.
            pollfd room{STDOUT_FILENO, POLLOUT, 0};
            ::poll(&room, 1, -1);
        } else {
            return false;
        }
    }
    return true;
}

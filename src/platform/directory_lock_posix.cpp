#include "platform/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

DirectoryLock lockWorkingDirectory() {
    // The descriptor stays open for the life of the process: it is the lock.
    int fd = ::open(DIRECTORY_LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return DirectoryLock::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return DirectoryLock::Taken;
    }
    bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? DirectoryLock::HeldByOther : DirectoryLock::Unavailable;
}

#include "platform/file_errors.h"

#include <stdlib.h>
#include <windows.h>

#include <cerrno>

// Windows has no errno value for a full quota: the durable file writer
// reports it, like a full disk, as ENOSPC.
bool meansDiskFull(int error) {
    return error == ENOSPC;
}

// The C runtime keeps the system's own error code beside errno.
int lastFileError() {
    if (_doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION) {
        return EBUSY;
    }
    return errno;
}

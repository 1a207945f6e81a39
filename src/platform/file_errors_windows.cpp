#include "platform/file_errors.h"

#include <cerrno>

// Windows has no errno value for a full quota: the durable file writer
// reports it, like a full disk, as ENOSPC.
bool meansDiskFull(int error) {
    return error == ENOSPC;
}

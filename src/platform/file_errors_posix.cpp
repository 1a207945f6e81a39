#include "platform/file_errors.h"

#include <cerrno>

bool meansDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

int lastFileError() {
    return errno;
}

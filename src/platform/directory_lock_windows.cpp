#include "platform/directory_lock.h"

#include <windows.h>

DirectoryLock lockWorkingDirectory() {
    // The handle stays open for the life of the process: its lock is the
    // directory's. Others may open the file (to look at it, say); only the
    // byte-range lock excludes a second bot. Windows drops the lock with the
    // handle when the process ends, however it ends.
    HANDLE file = ::CreateFileA(DIRECTORY_LOCK_FILE, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return DirectoryLock::Unavailable;
    }
    OVERLAPPED whole{};
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole)) {
        return DirectoryLock::Taken;
    }
    const bool held = ::GetLastError() == ERROR_LOCK_VIOLATION;
    ::CloseHandle(file);
    return held ? DirectoryLock::HeldByOther : DirectoryLock::Unavailable;
}

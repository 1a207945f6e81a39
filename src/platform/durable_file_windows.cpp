#include "platform/durable_file.h"

#include <windows.h>

#include <cerrno>

namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers lack.
constexpr DWORD DISK_QUOTA_EXCEEDED = 1295;

bool heldByAnotherProgram(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// The errno value that tells the operator's console what went wrong.
int errnoOf(DWORD error, const std::string& path) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case DISK_QUOTA_EXCEEDED:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_ACCESS_DENIED: {
            // Windows refuses to open a directory as a file with "access denied".
            const DWORD attributes = ::GetFileAttributesA(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return EISDIR;
            }
            // A rename over a file that another program holds open is
            // refused the same way; asking to delete the file tells the two
            // apart.
            return heldByAnotherProgram(path) ? EBUSY : EACCES;
        }
        default:
            return EIO;
    }
}

bool writeAll(HANDLE file, const std::string& content) {
    std::size_t written = 0;
    while (written < content.size()) {
        const std::size_t left = content.size() - written;
        const DWORD chunk = static_cast<DWORD>(left < (1u << 30) ? left : (1u << 30));
        DWORD n = 0;
        if (!::WriteFile(file, content.data() + written, chunk, &n, nullptr) || n == 0) {
            return false;
        }
        written += n;
    }
    return true;
}

}  // namespace

// The temporary file gets the directory's inherited permissions whatever the
// access asked for: a user's own folders are closed to other users already,
// and an owner-only ACL is not attempted.
bool replaceFileDurably(const std::string& path, const std::string& content, FileAccess) {
    const std::string temporary = path + ".tmp";
    ::DeleteFileA(temporary.c_str());  // a leftover of a killed run
    HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errnoOf(::GetLastError(), temporary);
        return false;
    }
    bool ok = writeAll(file, content) && ::FlushFileBuffers(file);
    DWORD failure = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!::CloseHandle(file) && ok) {
        ok = false;
        failure = ::GetLastError();
    }
    // Write-through: the rename is on the disk when the call returns, so no
    // directory needs syncing.
    if (ok && !::MoveFileExA(temporary.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        failure = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileA(temporary.c_str());
        errno = errnoOf(failure, path);
        return false;
    }
    return true;
}

#pragma once

// One bot per working directory: two bots there would relay every line twice
// and interleave their chat logs.

inline constexpr const char* DIRECTORY_LOCK_FILE = "tintbeacon.lock";

enum class DirectoryLock {
    Taken,         // this process holds the lock until it ends
    HeldByOther,   // another running process holds it
    Unavailable,   // the lock file cannot be made (a read-only directory, say)
};

// Takes an exclusive lock on DIRECTORY_LOCK_FILE in the working directory,
// creating the empty file when it is missing. The lock goes with the process,
// however it ends, so a killed bot never leaves a stale one.
DirectoryLock lockWorkingDirectory();

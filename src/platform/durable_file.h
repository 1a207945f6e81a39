#pragma once

// Replacing a whole file so that a crash, a kill or a full disk at any moment
// leaves either the complete old content or the complete new one, never an
// empty or half-written file.

#include <string>

// Who may read the file once it is written.
enum class FileAccess {
    Shared,     // the usual mode for a user's files (0644 before the umask)
    OwnerOnly,  // secrets: readable and writable by the owner alone (0600);
                // on Windows the file keeps its folder's permissions
};

// Writes the content to a temporary file beside the target ("<path>.tmp"),
// flushes it to the disk, renames it over the target (replacing it) and makes
// the rename durable.
// The bytes are written exactly as given. On failure the target is untouched,
// the temporary file is removed, and errno tells why; returns false.
bool replaceFileDurably(const std::string& path, const std::string& content,
                        FileAccess access = FileAccess::Shared);

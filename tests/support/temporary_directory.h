#pragma once

// A fresh directory for a test's files, on every platform.

#include <filesystem>
#include <string>

// Makes a new, empty directory in the system's temporary folder, named the
// prefix and a random suffix, readable by the user alone where the system
// has such modes. Returns an empty path when none could be made. The caller
// removes it.
std::filesystem::path makeTemporaryDirectory(const std::string& prefix);

#pragma once

// The working directory of a fuzz target that reads or writes files.

#include <filesystem>

// While it lives, the working directory is the target's own temporary
// directory, empty at the start: made on first use and removed at exit. The
// previous working directory comes back at its end, so that relative paths
// given to the fuzzer or the replay program keep working between inputs.
class CleanWorkDirectory {
  public:
    CleanWorkDirectory();
    ~CleanWorkDirectory();
    CleanWorkDirectory(const CleanWorkDirectory&) = delete;
    CleanWorkDirectory& operator=(const CleanWorkDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

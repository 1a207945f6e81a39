#include "fuzz_workdir.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace {

std::filesystem::path& workDirectory() {
    static std::filesystem::path path;
    return path;
}

void removeWorkDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(workDirectory(), ignored);
}

// The directory, made and registered for removal on the first call.
const std::filesystem::path& madeWorkDirectory() {
    std::filesystem::path& path = workDirectory();
    if (path.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tintbeacon-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("fuzz: cannot make a temporary directory");
            std::abort();
        }
        path = pattern;
        std::atexit(removeWorkDirectory);
    }
    return path;
}

}  // namespace

CleanWorkDirectory::CleanWorkDirectory() : previous_(std::filesystem::current_path()) {
    const std::filesystem::path& path = madeWorkDirectory();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        std::filesystem::remove_all(entry.path(), error);
    }
    std::filesystem::current_path(path);
}

CleanWorkDirectory::~CleanWorkDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

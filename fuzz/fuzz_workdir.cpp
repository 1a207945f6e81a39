#include "fuzz_workdir.h"

#include <cstdio>
#include <cstdlib>
#include <random>
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
        std::mt19937_64 random{std::random_device{}()};
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        // create_directory is false, without an error, when the name is taken.
        for (int attempt = 0; !error && attempt < 100 && path.empty(); ++attempt) {
            const std::filesystem::path candidate =
                base / ("tintbeacon-fuzz-" + std::to_string(random() % 1000000000000ULL));
            if (std::filesystem::create_directory(candidate, error)) {
                path = candidate;
            }
        }
        if (path.empty()) {
            std::fprintf(stderr, "fuzz: cannot make a temporary directory\n");
            std::abort();
        }
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, error);
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

#include "support/temporary_directory.h"

#include <random>
#include <system_error>

std::filesystem::path makeTemporaryDirectory(const std::string& prefix) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) {
        return {};
    }
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            base / (prefix + "-" + std::to_string(random() % 1000000000000ULL));
        // create_directory is false, without an error, when the name is taken.
        if (std::filesystem::create_directory(path, error)) {
            std::filesystem::permissions(path, std::filesystem::perms::owner_all, error);
            return path;
        }
        if (error) {
            return {};
        }
    }
    return {};
}

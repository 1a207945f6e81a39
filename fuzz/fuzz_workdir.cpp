#include "fuzz_workdir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

std::filesystem::path& workDirectory() {
    static std::filesystem::path path;
    return path;
}

void removeWorkDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(workDirectory().parent_path(), ignored);
    std::filesystem::remove_all(workDirectory(), ignored);
}

}  // namespace

void enterCleanWorkDirectory() {
    std::filesystem::path& path = workDirectory();
    std::error_code error;
    if (path.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tintbeacon-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("fuzz: cannot make a temporary directory");
            std::abort();
        }
        path = pattern;
        std::filesystem::current_path(path);
        std::atexit(removeWorkDirectory);
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        std::filesystem::remove_all(entry.path(), error);
    }
}

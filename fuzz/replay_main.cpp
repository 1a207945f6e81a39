// Replays stored inputs through a fuzz target without libFuzzer: each file
// given, and each regular file of each directory given (in name order), is
// read whole and passed to LLVMFuzzerTestOneInput once. A target that finds a
// fault aborts, so the process fails; a missing or unreadable path fails too.
//
//   <name>_fuzz PATH...

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The files a path stands for, or nothing (and a message) when it is neither
// a file nor a directory.
bool collectInputs(const std::filesystem::path& path, std::vector<std::filesystem::path>& out) {
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
        out.push_back(std::filesystem::absolute(path));
        return true;
    }
    if (!std::filesystem::is_directory(path, error)) {
        std::fprintf(stderr, "replay: no such file or directory: %s\n", path.string().c_str());
        return false;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        if (entry.is_regular_file(error)) {
            files.push_back(std::filesystem::absolute(entry.path()));
        }
    }
    if (error) {
        std::fprintf(stderr, "replay: cannot list %s\n", path.string().c_str());
        return false;
    }
    std::sort(files.begin(), files.end());
    out.insert(out.end(), files.begin(), files.end());
    return true;
}

bool readWhole(const std::filesystem::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!collectInputs(argv[i], inputs)) {
            return 1;
        }
    }
    std::string bytes;
    for (const auto& input : inputs) {
        if (!readWhole(input, bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", input.string().c_str());
            return 1;
        }
        // A copy of exactly the input's size, so that a read past its end is
        // a fault the sanitizers see, as under libFuzzer.
        std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}

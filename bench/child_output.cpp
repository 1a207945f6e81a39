#include "child_output.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

constexpr int POLL_MS = 10;

// The line holding `text`, once it is whole; empty before.
std::string wholeLineWith(const std::string& contents, const std::string& text) {
    const std::size_t at = contents.find(text);
    const std::size_t end = contents.find('\n', at);
    if (at == std::string::npos || end == std::string::npos) {
        return "";
    }
    const std::size_t begin = contents.rfind('\n', at);
    return contents.substr(begin == std::string::npos ? 0 : begin + 1,
                           end - (begin == std::string::npos ? 0 : begin + 1));
}

std::string awaitWholeLine(const std::filesystem::path& path, const std::string& text,
                           int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += POLL_MS) {
        const std::string line = wholeLineWith(readWholeFile(path), text);
        if (!line.empty()) {
            return line;
        }
        ::usleep(POLL_MS * 1000);
    }
    return "";
}

}  // namespace

std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool awaitLine(const std::filesystem::path& path, const std::string& text, int timeoutMs) {
    return !awaitWholeLine(path, text, timeoutMs).empty();
}

int awaitListeningPort(const std::filesystem::path& path, int timeoutMs) {
    const std::string line = awaitWholeLine(path, "listening on ", timeoutMs);
    const std::size_t colon = line.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

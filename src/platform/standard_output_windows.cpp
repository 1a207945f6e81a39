#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/standard_output.h"

bool writeStandardOutput(const char* data, std::size_t size) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE || out == nullptr) {
        return false;
    }
    // In text mode, as the C runtime's streams wrote it: every LF leaves as
    // CR LF. The runtime's own text-mode write is not used, since it can
    // count a partial write of a pipe as whole and lose the rest.
    std::string text;
    text.reserve(size + size / 8);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            text += '\r';
        }
        text += data[i];
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(text.size() - written, 1 << 20));
        DWORD n = 0;
        if (!::WriteFile(out, text.data() + written, chunk, &n, nullptr) || n == 0) {
            return false;
        }
        written += n;
    }
    return true;
}

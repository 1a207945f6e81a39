#include <io.h>

#include <cerrno>

#include "platform/standard_output.h"

bool writeStandardOutput(const char* data, std::size_t size) {
    // The C runtime's descriptor, in text mode as the streams keep it: each
    // LF leaves as CR LF, as std::cout wrote it.
    while (size > 0) {
        const unsigned chunk = size > 65536 ? 65536u : static_cast<unsigned>(size);
        const int n = ::_write(1, data, chunk);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

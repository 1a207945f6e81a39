#include <windows.h>

#include "platform/net.h"
#include "platform/standard_input.h"

int openStandardInput() {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        // No standard input at all reads as input that has ended, as a
        // closed descriptor 0 does on POSIX.
        return forwardInput([](char*, std::size_t) -> long { return 0; });
    }
    return forwardInput([input](char* buffer, std::size_t size) -> long {
        DWORD got = 0;
        // A pipe whose writer has gone reports an error, not 0: both end it.
        if (!::ReadFile(input, buffer, static_cast<DWORD>(size), &got, nullptr)) {
            return 0;
        }
        return static_cast<long>(got);
    });
}

long readInput(int fd, char* buffer, std::size_t size) {
    return net::receive(fd, buffer, size);
}

#include "support/test_system.h"

#include <windows.h>

#include <cstdlib>

void setEnvironmentVariable(const std::string& name, const std::string& value) {
    ::_putenv_s(name.c_str(), value.c_str());
}

// An empty value removes the variable.
void unsetEnvironmentVariable(const std::string& name) {
    ::_putenv_s(name.c_str(), "");
}

extern const bool FILES_HAVE_POSIX_MODES = false;

std::intptr_t holdFileAgainstWriters(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<std::intptr_t>(file);
}

void releaseHeldFile(std::intptr_t held) {
    if (held != 0) {
        ::CloseHandle(reinterpret_cast<HANDLE>(held));
    }
}

#include "support/test_system.h"

#include <cstdlib>

void setEnvironmentVariable(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

void unsetEnvironmentVariable(const std::string& name) {
    ::unsetenv(name.c_str());
}

extern const bool FILES_HAVE_POSIX_MODES = true;

std::intptr_t holdFileAgainstWriters(const std::string&) {
    return 0;
}

void releaseHeldFile(std::intptr_t) {}

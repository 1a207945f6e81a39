#include "support/test_system.h"

#include <cstdlib>

void setEnvironmentVariable(const std::string& name, const std::string& value) {
    ::_putenv_s(name.c_str(), value.c_str());
}

// An empty value removes the variable.
void unsetEnvironmentVariable(const std::string& name) {
    ::_putenv_s(name.c_str(), "");
}

extern const bool FILES_HAVE_POSIX_MODES = false;

#pragma once

// What the tests need of the system where platforms differ.

#include <string>

void setEnvironmentVariable(const std::string& name, const std::string& value);
void unsetEnvironmentVariable(const std::string& name);

// True where files carry POSIX permission bits (0600 and the like); Windows
// keeps permissions in access lists that these bits do not show.
extern const bool FILES_HAVE_POSIX_MODES;

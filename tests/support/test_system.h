#pragma once

// What the tests need of the system where platforms differ.

#include <cstdint>
#include <string>

void setEnvironmentVariable(const std::string& name, const std::string& value);
void unsetEnvironmentVariable(const std::string& name);

// True where files carry POSIX permission bits (0600 and the like); Windows
// keeps permissions in access lists that these bits do not show.
extern const bool FILES_HAVE_POSIX_MODES;

// Opens the file as another program may hold it (an editor that lets others
// read it only), so that writing or replacing it fails while it is held.
// Returns what releaseHeldFile takes, or 0 where a file cannot be held so
// (POSIX has no such hold).
std::intptr_t holdFileAgainstWriters(const std::string& path);
void releaseHeldFile(std::intptr_t held);

#pragma once

// What the benchmarks' child programs (the world, the raw fan-out tool)
// print on standard output, read from the file it goes to.

#include <filesystem>
#include <string>

// The whole file; empty when it cannot be read.
std::string readWholeFile(const std::filesystem::path& path);
// Waits (at most timeoutMs) until the file holds a whole line containing
// `text`; false when it does not in time.
bool awaitLine(const std::filesystem::path& path, const std::string& text, int timeoutMs);
// The port of the first "listening on HOST:PORT" line, once printed (at most
// timeoutMs), or 0.
int awaitListeningPort(const std::filesystem::path& path, int timeoutMs);

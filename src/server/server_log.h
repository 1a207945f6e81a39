#pragma once

// The world server's log on standard error: one line per event, each with the
// local time it was written.

#include <chrono>
#include <string>

// "2026-12-09T22:30:01.123+01:00": ISO 8601, local time, milliseconds, and
// the offset from UTC, so that lines from machines in different zones compare.
std::string logTimestamp(std::chrono::system_clock::time_point when);

// Writes "TIMESTAMP tintbeacon-world: LINE" on standard error.
void logLine(const std::string& line);

#pragma once

// Telling the service manager how the program is, by its convention: the
// notification socket named in NOTIFY_SOCKET, and the watchdog interval in
// WATCHDOG_USEC. Where there is none (no such variables, or Windows),
// nothing is sent.

#include <string>

// Sends state lines such as "READY=1", "STATUS=text" or "WATCHDOG=1" (several
// separated by newlines; texts in UTF-8). False when no manager listens.
bool notifyServiceManager(const std::string& state);

// How often the manager wants to hear "WATCHDOG=1", in microseconds: the
// program is restarted when it goes that long without. 0 when it does not
// watch.
long long serviceWatchdogMicroseconds();

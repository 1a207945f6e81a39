#pragma once

// What a program asks of its operating system besides files and sockets.

#include <cstddef>

// Calls `handler` when the program is asked to stop: on POSIX SIGINT and
// SIGTERM, and SIGHUP too with `hangUpToo`; on Windows the console's Ctrl-C,
// Ctrl-Break and close events (and the session's end). On POSIX the handler
// runs in a signal handler, on Windows in a thread of its own: it may only
// set an atomic flag or do what is safe from both.
void onStopRequest(void (*handler)(), bool hangUpToo);

// Calls `handler` when the program is asked to reopen its log: on POSIX
// SIGHUP, by the convention of log rotation (which then no longer stops the
// program); nothing on Windows, which has no such request. The handler runs
// as onStopRequest's does and may only set an atomic flag.
void onReopenRequest(void (*handler)());

// Takes the hard limit of open descriptors as the soft one, for programs
// that hold many sockets. Nothing where there is no such limit.
void raiseOpenFileLimit();

// A write to a closed socket or pipe fails instead of ending the process.
void ignoreBrokenPipe();

// Gives memory the allocator holds free back to the system, where it can.
void returnFreedMemory();

void sleepMs(int milliseconds);

// How many descriptors (on Windows, handles) the process holds open, for
// checks that nothing leaks; 0 where the system does not tell.
std::size_t openHandleCount();

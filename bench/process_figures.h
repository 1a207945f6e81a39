#pragma once

// What the benchmarks read about processes from /proc: memory, CPU time,
// and the open-file limit that many sockets need.

#include <sys/types.h>

#include <string>

// The number of a "name: value" line of /proc/PID/FILE ("status", "io"), or -1.
long long procField(pid_t pid, const std::string& file, const std::string& field);
// A field of /proc/PID/status in kB (VmRSS, VmHWM), or -1.
long long statusKb(pid_t pid, const std::string& field);
// User and system CPU time of the process so far, in seconds.
double cpuSeconds(pid_t pid);
// The time its main thread spent on a CPU, by the scheduler's own account
// (/proc/PID/schedstat, in nanoseconds: finer than the clock ticks of
// cpuSeconds); for the single-threaded bot and world. 0 when unknown.
long long onCpuNanoseconds(pid_t pid);
// This process's user and system CPU time so far, in seconds.
double ownCpuSeconds();
// Takes the hard limit of open files: every avatar is a socket.
void raiseFileLimit();

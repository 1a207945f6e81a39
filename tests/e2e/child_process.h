#pragma once

// A program started by a test: its standard input is a pipe the test writes,
// its standard output and error go to files the test reads. The destructor
// kills and reaps it, so no test leaves a process behind.

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program in the directory with the extra environment
    // variables ("NAME=value"); false when it cannot be started.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::string& directory, const std::string& stdoutFile,
               const std::string& stderrFile, const std::vector<std::string>& environment = {});
    // Writes to its standard input.
    void write(const std::string& text);
    // Sends the signal and waits (at most the deadline) for it to end; returns
    // its exit status, or -1 when it did not end in time or was not running.
    int stop(int signal, int deadlineMs = 10000);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
};

#pragma once

// A program started by a test: its standard input is a pipe the test writes,
// its standard output and error go to files the test reads. The destructor
// kills and reaps it, so no test leaves a process behind.

#include <cstdint>
#include <string>
#include <vector>

// What stop() sends, by the POSIX signal numbers. Windows has no signals: a
// kill is TerminateProcess, and an interrupt or termination is a console
// break event where the child shares the test's console, a kill otherwise.
enum ChildSignal : int {
    CHILD_WAIT = 0,  // sends nothing, only waits for the end
    CHILD_HANG_UP = 1,
    CHILD_INTERRUPT = 2,
    CHILD_KILL = 9,
    CHILD_TERMINATE = 15,
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program in the directory with the extra environment
    // variables ("NAME=value"); false when it cannot be started. On Windows
    // ".exe" is added to a program name without it.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::string& directory, const std::string& stdoutFile,
               const std::string& stderrFile, const std::vector<std::string>& environment = {});
    // As start, with standard output a pipe that the test reads (readOutput)
    // or closes (closeOutput), its buffer as small as the system allows, so
    // that a reader that stalls is felt soon.
    bool startPiped(const std::string& program, const std::vector<std::string>& args,
                    const std::string& directory, const std::string& stderrFile,
                    const std::vector<std::string>& environment = {});
    // What the piped standard output holds now, after waiting up to
    // `timeoutMs` for its first bytes; empty at its end.
    std::string readOutput(int timeoutMs);
    // Closes the test's end of the piped standard output, as a reader that
    // goes away does.
    void closeOutput();
    // Writes to its standard input.
    void write(const std::string& text);
    // Sends the signal and returns at once; false where the system has no
    // such signal (Windows has none but a kill) or the child is not running.
    bool signal(int signal);
    // Sends the signal and waits (at most the deadline) for it to end; returns
    // its exit status (128 plus the signal's number when the signal ended it),
    // or -1 when it did not end in time or was not running.
    int stop(int signal, int deadlineMs = 10000);
    bool running() const { return pid_ > 0; }
    int pid() const { return pid_; }

  private:
    // Starts the program with standard output on `out` (a descriptor, or a
    // handle on Windows), which the caller still closes.
    bool launch(const std::string& program, const std::vector<std::string>& args,
                const std::string& directory, std::intptr_t out, const std::string& stderrFile,
                const std::vector<std::string>& environment);

    int pid_ = -1;
    std::intptr_t process_ = 0;  // Windows: the process's handle
    std::intptr_t input_ = -1;   // the write end of its standard input: a descriptor, or a handle
    std::intptr_t output_ = -1;  // the read end of a piped standard output, likewise
};

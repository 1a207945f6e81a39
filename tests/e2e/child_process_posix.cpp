#include "e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

static_assert(CHILD_HANG_UP == SIGHUP && CHILD_INTERRUPT == SIGINT && CHILD_KILL == SIGKILL && CHILD_TERMINATE == SIGTERM);

ChildProcess::~ChildProcess() {
    stop(CHILD_KILL);
}

bool ChildProcess::startPiped(const std::string& program, const std::vector<std::string>& args,
                              const std::string& directory, const std::string& stderrFile,
                              const std::vector<std::string>& environment) {
    int outFds[2];
    if (::pipe2(outFds, O_CLOEXEC) != 0) {
        return false;
    }
    ::fcntl(outFds[0], F_SETPIPE_SZ, 4096);
    const bool started = launch(program, args, directory, outFds[1], stderrFile, environment);
    ::close(outFds[1]);
    if (!started) {
        ::close(outFds[0]);
        return false;
    }
    output_ = outFds[0];
    return true;
}

std::string ChildProcess::readOutput(int timeoutMs) {
    std::string text;
    if (output_ < 0) {
        return text;
    }
    pollfd ready{static_cast<int>(output_), POLLIN, 0};
    char buffer[4096];
    while (::poll(&ready, 1, text.empty() ? timeoutMs : 0) == 1) {
        const ssize_t n = ::read(static_cast<int>(output_), buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

void ChildProcess::closeOutput() {
    if (output_ >= 0) {
        ::close(static_cast<int>(output_));
        output_ = -1;
    }
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory, const std::string& stdoutFile,
                         const std::string& stderrFile,
                         const std::vector<std::string>& environment) {
    const int out = ::open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        return false;
    }
    const bool started = launch(program, args, directory, out, stderrFile, environment);
    ::close(out);
    return started;
}

bool ChildProcess::launch(const std::string& program, const std::vector<std::string>& args,
                          const std::string& directory, std::intptr_t outHandle,
                          const std::string& stderrFile,
                          const std::vector<std::string>& environment) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return false;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (pid == 0) {
        const int out = static_cast<int>(outHandle);
        int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err < 0 || ::chdir(directory.c_str()) != 0) {
            ::_exit(127);
        }
        ::dup2(pipeFds[0], 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (const std::string& variable : environment) {
            ::putenv(const_cast<char*>(variable.c_str()));
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[0]);
    pid_ = pid;
    input_ = pipeFds[1];
    return true;
}

void ChildProcess::write(const std::string& text) {
    if (input_ >= 0) {
        [[maybe_unused]] ssize_t ignored =
            ::write(static_cast<int>(input_), text.data(), text.size());
    }
}

bool ChildProcess::signal(int signal) {
    return pid_ > 0 && ::kill(pid_, signal) == 0;
}

int ChildProcess::stop(int signal, int deadlineMs) {
    if (input_ >= 0) {
        ::close(static_cast<int>(input_));
        input_ = -1;
    }
    closeOutput();
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        ::usleep(5000);  // polling the child's end, not pacing the test
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

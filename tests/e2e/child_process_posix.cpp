#include "e2e/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

static_assert(CHILD_HANG_UP == SIGHUP && CHILD_INTERRUPT == SIGINT && CHILD_KILL == SIGKILL && CHILD_TERMINATE == SIGTERM);

ChildProcess::~ChildProcess() {
    stop(CHILD_KILL);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory, const std::string& stdoutFile,
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
        int out = ::open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out < 0 || err < 0 || ::chdir(directory.c_str()) != 0) {
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

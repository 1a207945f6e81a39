#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/process.h"

namespace {

void (*stopHandler)() = nullptr;
void (*reopenHandler)() = nullptr;

void onSignal(int) {
    if (stopHandler != nullptr) {
        stopHandler();
    }
}

void onHangUp(int) {
    if (reopenHandler != nullptr) {
        reopenHandler();
    }
}

void install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    // Calls in progress carry on; the waits (poll, epoll_wait) return anyway.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

void onStopRequest(void (*handler)(), bool hangUpToo) {
    stopHandler = handler;
    install(SIGINT, onSignal);
    install(SIGTERM, onSignal);
    if (hangUpToo) {
        install(SIGHUP, onSignal);
    }
}

void onReopenRequest(void (*handler)()) {
    reopenHandler = handler;
    install(SIGHUP, onHangUp);
}

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

void returnFreedMemory() {
    ::malloc_trim(0);
}

void sleepMs(int milliseconds) {
    ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
}

std::size_t openHandleCount() {
    std::error_code error;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return count;
}

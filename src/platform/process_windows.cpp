#include <malloc.h>
#include <windows.h>

#include "platform/process.h"

namespace {

void (*stopHandler)() = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (stopHandler != nullptr) {
                stopHandler();
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void onStopRequest(void (*handler)(), bool) {
    stopHandler = handler;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// Windows has no request to reopen files: a log there is rotated by copying
// it and truncating it, which works because the log is opened for appending.
void onReopenRequest(void (*)()) {}

void raiseOpenFileLimit() {}

void ignoreBrokenPipe() {}

void returnFreedMemory() {
    _heapmin();
}

void sleepMs(int milliseconds) {
    ::Sleep(static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds));
}

std::size_t openHandleCount() {
    DWORD count = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? count : 0;
}

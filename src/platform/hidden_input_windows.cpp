#include "platform/hidden_input.h"

#include <windows.h>

namespace {

HANDLE input = INVALID_HANDLE_VALUE;
DWORD savedMode = 0;

// Ctrl-C and the console's closing end the process from another thread:
// the echo is put back first, and the next handler (by default the one that
// ends the process) still runs.
BOOL WINAPI restoreOnInterrupt(DWORD) {
    ::SetConsoleMode(input, savedMode);
    return FALSE;
}

// With the echo off the console does not show the Enter either; the line end
// goes to the console window itself (never to a redirected standard output),
// as a terminal shows it.
void endTypedLine() {
    HANDLE screen =
        ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (screen != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteConsoleW(screen, L"\r\n", 2, &written, nullptr);
        ::CloseHandle(screen);
    }
}

}  // namespace

HiddenInput::HiddenInput() {
    input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || input == nullptr || !::GetConsoleMode(input, &savedMode)) {
        return;
    }
    ::SetConsoleCtrlHandler(restoreOnInterrupt, TRUE);
    if (!::SetConsoleMode(input, savedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
        ::SetConsoleCtrlHandler(restoreOnInterrupt, FALSE);
        return;
    }
    hidden_ = true;
}

HiddenInput::~HiddenInput() {
    if (hidden_) {
        ::SetConsoleMode(input, savedMode);
        ::SetConsoleCtrlHandler(restoreOnInterrupt, FALSE);
        endTypedLine();
    }
}

#include "platform/hidden_input.h"

#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

termios savedTerminal{};
struct sigaction savedInterrupt {};
struct sigaction savedTerminate {};

void restoreTerminal() { ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal); }

// Puts the echo back and ends the process as the signal would have.
void restoreAndRaise(int signal) {
    restoreTerminal();
    ::sigaction(SIGINT, &savedInterrupt, nullptr);
    ::sigaction(SIGTERM, &savedTerminate, nullptr);
    ::raise(signal);
}

}  // namespace

HiddenInput::HiddenInput() {
    if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
        return;
    }
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) {
        return;
    }
    hidden_ = true;
    struct sigaction restoring {};
    restoring.sa_handler = restoreAndRaise;
    sigemptyset(&restoring.sa_mask);
    ::sigaction(SIGINT, &restoring, &savedInterrupt);
    ::sigaction(SIGTERM, &restoring, &savedTerminate);
}

HiddenInput::~HiddenInput() {
    if (hidden_) {
        restoreTerminal();
        ::sigaction(SIGINT, &savedInterrupt, nullptr);
        ::sigaction(SIGTERM, &savedTerminate, nullptr);
    }
}

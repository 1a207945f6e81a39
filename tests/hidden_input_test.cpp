// The password is typed without echo when standard input is a terminal.

#include "platform/hidden_input.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

tcflag_t localFlags(int fd) {
    termios settings{};
    ::tcgetattr(fd, &settings);
    return settings.c_lflag;
}

TEST(HiddenInput, SilencesATerminalAndRestoresItAfter) {
    int controller = -1, terminal = -1;
    ASSERT_EQ(::openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
    const int savedInput = ::dup(STDIN_FILENO);
    ASSERT_EQ(::dup2(terminal, STDIN_FILENO), STDIN_FILENO);
    ASSERT_NE(localFlags(STDIN_FILENO) & ECHO, 0u);
    {
        HiddenInput hidden;
        EXPECT_EQ(localFlags(STDIN_FILENO) & ECHO, 0u);
        EXPECT_NE(localFlags(STDIN_FILENO) & ECHONL, 0u);  // the line end still shows
    }
    EXPECT_NE(localFlags(STDIN_FILENO) & ECHO, 0u);
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    ::close(terminal);
    ::close(controller);
}

TEST(HiddenInput, LeavesInputThatIsNoTerminalAlone) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int savedInput = ::dup(STDIN_FILENO);
    ::dup2(pipeFds[0], STDIN_FILENO);
    { HiddenInput hidden; }  // nothing to silence, nothing to break
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

}  // namespace

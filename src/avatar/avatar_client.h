#pragma once

// The avatar client's own loop: one avatar, driven by lines typed on a
// terminal or piped in by a script, showing what the world sends.

#include <iosfwd>

#include "avatar/avatar_session.h"
#include "avatar/event_view.h"

struct ClientSettings {
    AvatarLogin login;
    // Scripted: every event is written as one JSON object per line, and input
    // ending (after a last /wait, if any) means quit.
    bool scripted = false;
    // Line editing and history on the terminal (standard input and output
    // must be one); otherwise lines are read from `input` as they come.
    bool lineEditing = false;
    // The world's hearing range in units, for what /who says of who hears you.
    int hearingRange = 20000;
    ViewStyle style;
};

// Joins and runs until /quit, the end of input, or a lost connection. Reads
// commands from the descriptor `input` (UTF-8, or Windows-1251 on such a
// terminal) and writes events to `out`. Returns the process exit status.
int runAvatarClient(const ClientSettings& settings, int input, std::ostream& out);

#pragma once

// The help reply ("!h", "!help") and the global-chat switch ("!global on",
// "!global off"), answered with console messages to the speaker alone.

#include <string>

inline constexpr int HEADING_RED = 190;
inline constexpr int EXAMPLE_BLUE = 190;

// Color usage (when users may choose colors), then global-chat usage.
void handleHelpCommand(int speaker);

// The eight lines of the color command's usage; the last shows the receiver's
// own color, inserting color entries of 0 for a user who has none.
void sendColorUsage(int session, int citizen);

// The four lines of the global-chat usage.
void sendGlobalUsage(int session);

// Switches the speaker's global chat on or off (result becomes 1), or answers
// any other "!global..." line with the error line and the usage.
void handleGlobalCommand(int speaker, const std::string& line, int& result);

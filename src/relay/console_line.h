#pragma once

// Sending console messages to one avatar, and the case-insensitive comparison
// that every in-world command uses.

#include <string>

struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
};

inline constexpr Rgb BLACK{0, 0, 0};

// Sets the message color, sets the text and sends it to the session; a failed
// send prints "Console message failed (reason N)" on the console and is not
// retried.
void sendConsoleLine(int session, Rgb color, const std::string& text);
// The same, leaving the color attributes as they were last set.
void sendConsoleLine(int session, const std::string& text);

// Sends the console message whose attributes are set already, to one session;
// prints the failure line when the send fails, and explains its reason on
// standard error once for a run of failures with the same reason.
void sendPreparedConsoleMessage(int session);
// Forgets the run of failures, as at the start of a run.
void resetConsoleFailures();

void setConsoleColor(Rgb color);

// True when both texts have the same length and equal characters after
// lower-casing (Windows-1251 letters included). Nothing is trimmed.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

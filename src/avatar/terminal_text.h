#pragma once

// How the avatar client shows a world text on its terminal.

#include <string>

#include "console/operator_console.h"

// The Windows-1251 text in the terminal's encoding; with `colored`, wrapped
// in a 24-bit foreground color on a white background, and a reset. Bytes below 0x20 other than TAB
// are shown as '?', so a text cannot move the cursor or change the colors.
std::string terminalText(const std::string& cp1251, TerminalEncoding encoding, bool colored,
                         int red = 0, int green = 0, int blue = 0);

// A console message for the terminal: as terminalText, except that its line
// breaks (LF, CR LF or a lone CR) are shown as line breaks, each line colored
// on its own so that no color runs past the end of a line.
std::string consoleTerminalText(const std::string& cp1251, TerminalEncoding encoding, bool colored,
                                int red, int green, int blue);

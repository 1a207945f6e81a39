#include "avatar/terminal_text.h"

#include "text/cp1251.h"

std::string terminalText(const std::string& cp1251, TerminalEncoding encoding, bool colored,
                         int red, int green, int blue) {
    std::string safe = cp1251;
    for (char& c : safe) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            c = '?';
        }
    }
    std::string shown = encoding == TerminalEncoding::Utf8 ? cp1251ToUtf8(safe) : safe;
    if (!colored) {
        return shown;
    }
    // On the white background the world shows console messages on, so that
    // dark colors (black is the relay's default) stay readable on a dark
    // terminal too.
    return "\x1b[48;2;255;255;255m\x1b[38;2;" + std::to_string(red) + ";" + std::to_string(green) + ";" +
           std::to_string(blue) + "m" + shown + "\x1b[0m";
}

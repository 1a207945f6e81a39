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

std::string consoleTerminalText(const std::string& cp1251, TerminalEncoding encoding, bool colored,
                                int red, int green, int blue) {
    std::string shown;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = cp1251.find_first_of("\r\n", start);
        shown +=
            terminalText(cp1251.substr(start, end - start), encoding, colored, red, green, blue);
        if (end == std::string::npos) {
            return shown;
        }
        shown += '\n';
        start = end + (cp1251.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
}

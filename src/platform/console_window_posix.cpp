#include "platform/console_window.h"

std::streambuf* consoleWindowBuffer(StandardStream) {
    return nullptr;
}

void showInConsoleTitle(const std::string&) {}

extern const bool BYTES_DEFAULT_TO_CP1251 = false;

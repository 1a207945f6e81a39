#include "console/operator_console.h"

#include <cstdlib>
#include <iostream>
#include <string_view>

#include "platform/hidden_input.h"
#include "text/cp1251.h"

namespace {

std::istream* consoleIn = &std::cin;
std::ostream* consoleOut = &std::cout;
std::ostream* consoleErr = &std::cerr;
TerminalEncoding encoding = terminalEncodingFromEnvironment();
ExitHandler exitHandler = nullptr;

std::string toTerminal(const std::string& cp1251) {
    return encoding == TerminalEncoding::Utf8 ? cp1251ToUtf8(cp1251) : cp1251;
}

std::string fromTerminal(const std::string& text) {
    return encoding == TerminalEncoding::Utf8 ? utf8ToCp1251(text) : text;
}

[[noreturn]] void inputEnded() {
    printErrorLine(ru("Стандартный ввод закрыт, а ответ не получен. Бот остановлен."));
    exitProgram(INPUT_ENDED_STATUS);
}

bool namesCodePage1251(std::string_view locale) {
    for (std::string_view marker : {"1251", "cp1251", "CP1251"}) {
        if (locale.find(marker) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

TerminalEncoding terminalEncodingFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return namesCodePage1251(value) ? TerminalEncoding::Cp1251 : TerminalEncoding::Utf8;
        }
    }
    return TerminalEncoding::Utf8;
}

void setConsoleStreams(std::istream& in, std::ostream& out, std::ostream& err,
                       TerminalEncoding terminalEncoding) {
    consoleIn = &in;
    consoleOut = &out;
    consoleErr = &err;
    encoding = terminalEncoding;
}

void resetConsole() {
    setConsoleStreams(std::cin, std::cout, std::cerr, terminalEncodingFromEnvironment());
}

void printLine(const std::string& cp1251) {
    *consoleOut << toTerminal(cp1251) << '\n' << std::flush;
}

void printErrorLine(const std::string& cp1251) {
    *consoleErr << toTerminal(cp1251) << '\n' << std::flush;
}

std::string readAnswerLine() {
    std::string line;
    if (!std::getline(*consoleIn, line)) {
        inputEnded();
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return fromTerminal(line);
}

std::string readAnswerWord() {
    std::string word;
    if (!(*consoleIn >> word)) {
        inputEnded();
    }
    return fromTerminal(word);
}

void exitProgram(int status) {
    if (exitHandler != nullptr) {
        exitHandler(status);
    }
    std::exit(status);
}

void setExitHandler(ExitHandler handler) { exitHandler = handler; }

std::string readSecretWord() {
    if (consoleIn != &std::cin) {
        return readAnswerWord();
    }
    std::string word;
    bool read = false;
    {
        HiddenInput hidden;  // the echo is back before any exit below
        read = static_cast<bool>(*consoleIn >> word);
    }
    if (!read) {
        inputEnded();
    }
    return fromTerminal(word);
}

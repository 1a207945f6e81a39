#include "console/operator_console.h"

#include <cstdlib>
#include <iostream>
#include <string_view>

#include "platform/console_window.h"
#include "platform/hidden_input.h"
#include "text/cp1251.h"

namespace {

// Each stream with its own encoding: a console window takes UTF-8 (its
// buffer shows it as Unicode) while a redirected stream beside it takes the
// locale's bytes.
struct Console {
    std::istream* in;
    std::ostream* out;
    std::ostream* err;
    TerminalEncoding inEncoding;
    TerminalEncoding outEncoding;
    TerminalEncoding errEncoding;
    bool standardInput;  // `in` reads the process's standard input
};

Console standardConsole() {
    const TerminalEncoding bytes = terminalEncodingFromEnvironment();
    Console console{&std::cin, &std::cout, &std::cerr, bytes, bytes, bytes, true};
    if (std::streambuf* window = consoleWindowBuffer(StandardStream::Input)) {
        static std::istream windowIn(window);
        console.in = &windowIn;
        console.inEncoding = TerminalEncoding::Utf8;
    }
    if (std::streambuf* window = consoleWindowBuffer(StandardStream::Output)) {
        static std::ostream windowOut(window);
        console.out = &windowOut;
        console.outEncoding = TerminalEncoding::Utf8;
    }
    if (std::streambuf* window = consoleWindowBuffer(StandardStream::Error)) {
        static std::ostream windowErr(window);
        console.err = &windowErr;
        console.errEncoding = TerminalEncoding::Utf8;
    }
    return console;
}

Console console = standardConsole();
ExitHandler exitHandler = nullptr;

std::string toTerminal(const std::string& cp1251, TerminalEncoding encoding) {
    return encoding == TerminalEncoding::Utf8 ? cp1251ToUtf8(cp1251) : cp1251;
}

std::string fromTerminal(const std::string& text) {
    return console.inEncoding == TerminalEncoding::Utf8 ? utf8ToCp1251(text) : text;
}

// Under a service manager nobody reads the questions: the message names the
// answer, so that the operator knows which file to complete or what to answer.
[[noreturn]] void inputEnded(const std::string& awaited) {
    printErrorLine(ru("Стандартный ввод закрыт, а ответ не получен: ") + awaited +
                   ru(". Бот остановлен; ответьте на вопросы, запустив его один раз вручную в его "
                      "рабочем каталоге."));
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
    return BYTES_DEFAULT_TO_CP1251 ? TerminalEncoding::Cp1251 : TerminalEncoding::Utf8;
}

void setConsoleStreams(std::istream& in, std::ostream& out, std::ostream& err,
                       TerminalEncoding terminalEncoding) {
    console = Console{&in, &out, &err, terminalEncoding, terminalEncoding, terminalEncoding, false};
}

void resetConsole() {
    console = standardConsole();
}

void printLine(const std::string& cp1251) {
    *console.out << toTerminal(cp1251, console.outEncoding) << '\n' << std::flush;
}

void printErrorLine(const std::string& cp1251) {
    *console.err << toTerminal(cp1251, console.errEncoding) << '\n' << std::flush;
}

std::string readAnswerLine(const std::string& awaited) {
    std::string line;
    if (!std::getline(*console.in, line)) {
        inputEnded(awaited);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return fromTerminal(line);
}

std::string readAnswerWord(const std::string& awaited) {
    std::string word;
    if (!(*console.in >> word)) {
        inputEnded(awaited);
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

std::string readSecretWord(const std::string& awaited) {
    if (!console.standardInput) {
        return readAnswerWord(awaited);
    }
    std::string word;
    bool read = false;
    {
        HiddenInput hidden;  // the echo is back before any exit below
        read = static_cast<bool>(*console.in >> word);
    }
    if (!read) {
        inputEnded(awaited);
    }
    return fromTerminal(word);
}

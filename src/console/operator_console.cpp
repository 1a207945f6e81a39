#include "console/operator_console.h"

#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string_view>

#include "console/output_writer.h"
#include "platform/console_window.h"
#include "platform/hidden_input.h"
#include "platform/standard_output.h"
#include "text/cp1251.h"

namespace {

// How long a line for standard error waits for the lines before it on
// standard output: long enough for a reader that takes them, short enough
// not to matter while the reader stalls.
constexpr int ORDER_WAIT_MS = 50;

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
    bool standardOutput;  // `out` writes the process's standard output
};

Console standardConsole() {
    const TerminalEncoding bytes = terminalEncodingFromEnvironment();
    Console console{&std::cin, &std::cout, &std::cerr, bytes, bytes, bytes, true, true};
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
// Never destroyed: its thread may still wait on a stalled reader when the
// process ends.
OutputWriter* standardWriter = nullptr;
// Standard error is written by the writer's thread too (its notices).
std::mutex errorMutex;

std::string toTerminal(const std::string& cp1251, TerminalEncoding encoding) {
    return encoding == TerminalEncoding::Utf8 ? cp1251ToUtf8(cp1251) : cp1251;
}

std::string fromTerminal(const std::string& text) {
    return console.inEncoding == TerminalEncoding::Utf8 ? utf8ToCp1251(text) : text;
}

void writeErrorLine(const std::string& cp1251) {
    std::lock_guard<std::mutex> lock(errorMutex);
    *console.err << toTerminal(cp1251, console.errEncoding) << '\n' << std::flush;
}

OutputWriter::Sink standardOutputSink() {
    if (std::streambuf* window = consoleWindowBuffer(StandardStream::Output)) {
        return [window](const char* data, std::size_t size) {
            return window->sputn(data, static_cast<std::streamsize>(size)) ==
                       static_cast<std::streamsize>(size) &&
                   window->pubsync() == 0;
        };
    }
    return writeStandardOutput;
}

OutputWriter::Notices standardOutputNotices() {
    OutputWriter::Notices notices;
    notices.failed = [] {
        writeErrorLine(ru("Запись в стандартный вывод не удалась (его закрыли?): строки не "
                          "выводятся, пока запись не заработает снова; бот продолжает работу, "
                          "события пишутся в chat.txt."));
    };
    notices.workingAgain = [](long long lines) {
        writeErrorLine(ru("Стандартный вывод снова принимает строки; не выведено строк: ") +
                       std::to_string(lines) + ".");
    };
    notices.skipped = [](long long lines) {
        writeErrorLine(ru("Стандартный вывод не успевал за ботом: пропущено строк: ") +
                       std::to_string(lines) + ru("; события записаны в chat.txt."));
    };
    return notices;
}

void drainAtExit() {
    if (standardWriter != nullptr) {
        standardWriter->drain(EXIT_DRAIN_MS);
    }
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
    console = Console{&in, &out, &err, terminalEncoding, terminalEncoding, terminalEncoding, false,
                      false};
}

void resetConsole() {
    console = standardConsole();
}

void startStandardOutputWriter() {
    if (standardWriter != nullptr) {
        return;
    }
    standardWriter = new OutputWriter(standardOutputSink(), STANDARD_OUTPUT_HOLD_BYTES,
                                      standardOutputNotices());
    std::atexit(drainAtExit);
}

void printLine(const std::string& cp1251) {
    if (console.standardOutput && standardWriter != nullptr) {
        std::string line = toTerminal(cp1251, console.outEncoding);
        line += '\n';
        standardWriter->write(line);
        return;
    }
    *console.out << toTerminal(cp1251, console.outEncoding) << '\n' << std::flush;
}

void printErrorLine(const std::string& cp1251) {
    if (console.standardOutput && standardWriter != nullptr) {
        standardWriter->drain(ORDER_WAIT_MS);
    }
    writeErrorLine(cp1251);
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

#pragma once

// The operator's console: standard output for the bot's lines, standard input
// for the start-up answers, standard error for the runtime's own notices.
//
// Every text the program handles is Windows-1251. The console converts at this
// boundary only: lines out are shown in the terminal's encoding, answers in are
// turned back into Windows-1251. Tests replace the streams with string streams.

#include <cstddef>
#include <iosfwd>
#include <string>

enum class TerminalEncoding { Utf8, Cp1251 };

// The terminal's encoding as the locale variables describe it (LC_ALL, then
// LC_CTYPE, then LANG): Windows-1251 when the one in force names code page
// 1251, UTF-8 otherwise. With none of them set: Windows-1251 on Windows, its
// own code page for Russian, and UTF-8 elsewhere.
TerminalEncoding terminalEncodingFromEnvironment();

// Points the console at other streams; they must outlive their use.
void setConsoleStreams(std::istream& in, std::ostream& out, std::ostream& err,
                       TerminalEncoding encoding);
// Back to the process's standard streams. A stream that is a Windows console
// window shows and reads Unicode, whatever the window's code page; the others
// take bytes in the environment's encoding. A redirected standard output or
// error keeps the platform's text-mode line end (CR LF on Windows).
void resetConsole();

// From now on the process's standard output is written by a thread of its
// own (console/output_writer.h): a reader that stalls or goes away costs the
// program no more than the lines it does not take. Up to
// STANDARD_OUTPUT_HOLD_BYTES wait for a stalled reader; further lines are
// skipped and counted, and a failed write is told once, on standard error.
// At the program's exit what waits is written within EXIT_DRAIN_MS. Call
// once, before anything is printed.
void startStandardOutputWriter();
inline constexpr std::size_t STANDARD_OUTPUT_HOLD_BYTES = 1024 * 1024;
inline constexpr int EXIT_DRAIN_MS = 2000;

// Prints one Windows-1251 line on standard output, ends it and flushes (with
// the writer started: hands it to the writer, which never blocks).
void printLine(const std::string& cp1251);
// Prints one Windows-1251 line on standard error, ends it and flushes. Lines
// printed on standard output before it are written first when the reader
// takes them at once, so that a terminal showing both keeps their order.
void printErrorLine(const std::string& cp1251);

// Reads a whole answer line (without its line end; a CR before it is dropped)
// and returns it in Windows-1251. When standard input has ended, says on
// standard error which answer was awaited (`awaited`, Windows-1251: what is
// asked, for which file and why) and ends the program with
// INPUT_ENDED_STATUS.
std::string readAnswerLine(const std::string& awaited);
// Reads one word: skips white space, stops before the next. Ends the program
// as readAnswerLine does when standard input has ended.
std::string readAnswerWord(const std::string& awaited);
// Reads one word as readAnswerWord does, without showing it as it is typed
// when the console reads a terminal.
std::string readSecretWord(const std::string& awaited);

// Exit status when standard input ends while an answer is awaited.
inline constexpr int INPUT_ENDED_STATUS = 2;

// Ends the program with the given status through the exit handler (by default
// std::exit). Tests install a handler that throws, to observe the exit.
[[noreturn]] void exitProgram(int status);
using ExitHandler = void (*)(int status);
void setExitHandler(ExitHandler handler);  // nullptr restores std::exit

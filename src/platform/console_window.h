#pragma once

// The console window of a Windows program: text is shown there and read from
// there as Unicode, whatever the window's code page. A terminal elsewhere
// takes bytes, and there is no window.

#include <streambuf>
#include <string>

enum class StandardStream { Input, Output, Error };

// When the standard stream is a console window, a stream buffer that writes
// UTF-8 text to the window (Output, Error) or yields what is typed there as
// UTF-8 (Input; a line ends in CR LF as typed, and a Ctrl-Z ends the input);
// nullptr when the stream is redirected, or on a system without console
// windows. The buffer lives until the process ends.
std::streambuf* consoleWindowBuffer(StandardStream stream);

// Shows the UTF-8 text as the title of the program's console window, where it
// has one; nothing elsewhere.
void showInConsoleTitle(const std::string& utf8);

// The encoding of the standard streams, when they are not console windows,
// for an environment whose locale variables name none: true for
// Windows-1251 (the code page of Russian Windows), false for UTF-8.
extern const bool BYTES_DEFAULT_TO_CP1251;

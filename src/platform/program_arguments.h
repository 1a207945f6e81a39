#pragma once

// A program's arguments as the user typed them.

#include <string>
#include <vector>

// The arguments after the program's name. On POSIX they are the bytes as
// given, in the terminal's encoding. On Windows they are read from the UTF-16
// command line and given in UTF-8, because the char arguments of main there
// are in the ANSI code page, which loses every character it lacks (Cyrillic
// under a Western one).
std::vector<std::string> programArguments(int argc, char** argv);

// Whether programArguments() gives UTF-8 whatever the terminal's encoding.
extern const bool PROGRAM_ARGUMENTS_ARE_UTF8;

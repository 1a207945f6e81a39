#pragma once

// The three configuration files of the working directory and the start-up
// dialogue that fills them: address.txt (server address and port), home.txt
// (world and entry coordinates) and account.txt (owner's account, colors
// answer, brightness coefficient).
//
// Every write replaces a file whole (see platform/durable_file.h), so a kill
// or a full disk never leaves one empty or half written; account.txt is
// readable by its owner only. A file that cannot be written is reported once
// on standard error, and the values in memory serve the run.

#include <iosfwd>
#include <string>

inline constexpr const char* ADDRESS_FILE = "address.txt";
inline constexpr const char* HOME_FILE = "home.txt";
inline constexpr const char* ACCOUNT_FILE = "account.txt";

// Reads one line without its line end (a CR before the LF is dropped). Returns
// true when the line ended at a line end, false when it ended at the end of
// the file (or nothing could be read).
bool readFileLine(std::istream& in, std::string& line);

// Takes the server address and port from address.txt where its lines are not
// empty, keeps the defaults otherwise, and writes both back to the file.
void settleServerAddress();

// Takes the entry point from home.txt when line 1 is not empty and line 2 ends
// at a line end; asks the operator otherwise.
void obtainEntryPoint();

// Takes the account from a complete account.txt; otherwise asks the four
// questions and writes each answer as it comes. The old file stays as it was
// until the first answer arrives.
void obtainAccount();

// Asks the citizen number and the privilege password again and rewrites
// account.txt with them, keeping the colors answer and coefficient in force.
// Nothing is rewritten until the first answer arrives.
void reaskCredentials();

// Writes home.txt from the world name and the coordinates text.
void saveEntryPoint();

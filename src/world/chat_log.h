#pragma once

// The chat log, chat.txt: every event the bot hears, one line each, appended
// across runs and flushed line by line. Each run's part begins with a banner.

#include <atomic>
#include <fstream>
#include <string>

inline constexpr const char* CHAT_LOG_FILE = "chat.txt";

// The log stream. When it cannot be opened, or a write fails, the lines are
// dropped (standard output is not affected) and the operator is told once on
// standard error; opening is tried again at each line, and the recovery is
// told too.
extern std::ofstream ChatLog;

// Opens the log for appending, creating the file when it is missing.
void openChatLog(const std::string& path);
void closeChatLog();

// Appends one line (bytes as given, then the platform's line end, see
// platform/line_end.h) and flushes it: the whole line leaves in one write,
// so a reader or a copy of the file never sees half of it. A reopen asked
// for since the last line is done first.
void writeChatLogLine(const std::string& line);

// Asks for the log to be closed and opened again on its path before the next
// line, so that after a rotation that renamed the file the next line starts
// a new one: every line lands in one of the two, none twice. Only sets a
// flag, so it may be called from a signal handler.
void requestChatLogReopen();

// Local date and time as "dd.mm.yyyy hh:mm:ss".
std::string currentTimestamp();

// Appends "***Сеанс чата <timestamp> ***"; the log only, not the console.
void writeSessionBanner();

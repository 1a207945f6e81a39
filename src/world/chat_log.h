#pragma once

// The chat log, chat.txt: every event the bot hears, one line each, appended
// across runs and flushed line by line. Each run's part begins with a banner.

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
// platform/line_end.h) and flushes it.
void writeChatLogLine(const std::string& line);

// Local date and time as "dd.mm.yyyy hh:mm:ss".
std::string currentTimestamp();

// Appends "***Сеанс чата <timestamp> ***"; the log only, not the console.
void writeSessionBanner();

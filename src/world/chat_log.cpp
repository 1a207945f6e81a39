#include "world/chat_log.h"

#include <cerrno>
#include <ctime>

#include "console/file_problems.h"
#include "platform/file_errors.h"
#include "platform/line_end.h"
#include "platform/local_time.h"
#include "text/cp1251.h"

std::ofstream ChatLog;

namespace {

std::string chatLogPath;  // empty when no log was asked for
std::atomic<bool> reopenRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

bool tryOpen() {
    errno = 0;
    ChatLog.clear();
    // Binary, with the platform's line end written by hand: the same bytes as
    // text mode, without a text-mode reader's or writer's other rewrites.
    ChatLog.open(chatLogPath, std::ios::out | std::ios::app | std::ios::binary);
    if (!ChatLog.is_open()) {
        noteFileWriteFailed(chatLogPath, lastFileError());
        return false;
    }
    return true;
}

}  // namespace

void openChatLog(const std::string& path) {
    closeChatLog();
    chatLogPath = path;
    tryOpen();
}

void closeChatLog() {
    if (ChatLog.is_open()) {
        ChatLog.close();
    }
    ChatLog.clear();
    chatLogPath.clear();
    reopenRequested = false;
}

void requestChatLogReopen() { reopenRequested = true; }

void writeChatLogLine(const std::string& line) {
    if (reopenRequested.exchange(false) && ChatLog.is_open()) {
        ChatLog.close();
    }
    if (chatLogPath.empty()) {
        return;
    }
    // A log that could not be opened (a read-only file, say) is tried again
    // at each line, so that logging resumes as soon as it can.
    if (!ChatLog.is_open() && !tryOpen()) {
        return;
    }
    // The line with its end, then one write of it: the stream's buffer is
    // empty after the last flush, so the flush hands the whole line to the
    // system at once (a line longer than the buffer goes out in one gathered
    // write with it).
    std::string record;
    record.reserve(line.size() + LINE_END.size());
    record += line;
    record += LINE_END;
    // A failed write (a full disk, say) must not silence every later line.
    ChatLog.clear();
    errno = 0;
    ChatLog.write(record.data(), static_cast<std::streamsize>(record.size()));
    ChatLog.flush();
    if (ChatLog.fail()) {
        noteFileWriteFailed(chatLogPath, lastFileError());
    } else {
        noteFileWritten(chatLogPath);
    }
}

std::string currentTimestamp() {
    std::time_t now = std::time(nullptr);
    LocalTime local;
    toLocalTime(now, local);
    char buffer[80];
    std::size_t length = std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H:%M:%S", &local.fields);
    return std::string(buffer, length);
}

void writeSessionBanner() {
    writeChatLogLine(ru("***Сеанс чата ") + currentTimestamp() + " ***");
}

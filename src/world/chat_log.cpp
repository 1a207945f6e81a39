#include "world/chat_log.h"

#include <ctime>

#include "text/cp1251.h"

std::ofstream ChatLog;

void openChatLog(const std::string& path) {
    closeChatLog();
    ChatLog.open(path, std::ios::out | std::ios::app);
}

void closeChatLog() {
    if (ChatLog.is_open()) {
        ChatLog.close();
    }
    ChatLog.clear();
}

void writeChatLogLine(const std::string& line) {
    if (!ChatLog.is_open()) {
        return;
    }
    // A failed write (a full disk, say) must not silence every later line.
    ChatLog.clear();
    ChatLog << line << '\n' << std::flush;
}

std::string currentTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[80];
    std::size_t length = std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H:%M:%S", &local);
    return std::string(buffer, length);
}

void writeSessionBanner() {
    writeChatLogLine(ru("***Сеанс чата ") + currentTimestamp() + " ***");
}

#include "relay/console_line.h"

#include "console/operator_console.h"
#include "sdk/world_sdk.h"
#include "text/cp1251.h"

void setConsoleColor(Rgb color) {
    SdkSetInt(SDK_ATTR_CONSOLE_RED, color.red);
    SdkSetInt(SDK_ATTR_CONSOLE_GREEN, color.green);
    SdkSetInt(SDK_ATTR_CONSOLE_BLUE, color.blue);
}

void sendPreparedConsoleMessage(int session) {
    int rc = SdkSendConsoleMessage(session);
    if (rc != SDK_OK) {
        printLine("Console message failed (reason " + std::to_string(rc) + ")");
    }
}

void sendConsoleLine(int session, Rgb color, const std::string& text) {
    setConsoleColor(color);
    sendConsoleLine(session, text);
}

void sendConsoleLine(int session, const std::string& text) {
    SdkSetString(SDK_ATTR_CONSOLE_MESSAGE, text);
    sendPreparedConsoleMessage(session);
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (cp1251ToLower(a[i]) != cp1251ToLower(b[i])) {
            return false;
        }
    }
    return true;
}

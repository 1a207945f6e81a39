#include "relay/console_line.h"

#include "console/operator_console.h"
#include "protocol/monotonic_clock.h"
#include "sdk/failure_streak.h"
#include "sdk/reason_text.h"
#include "sdk/world_sdk.h"
#include "text/cp1251.h"

namespace {

// A send fails for every receiver alike (a lost connection, a full queue), so
// the reason is explained once per run of the same reason, not per receiver.
FailureStreak consoleFailures;

void explainConsoleFailure(int rc, int session) {
    switch (consoleFailures.fail(rc, nowMs())) {
        case FailureStreak::Report::Full:
            printErrorLine(ru("Причина ") + std::to_string(rc) + ": " + reasonWordsRussian(rc) +
                           ru(". Сообщение сеансу ") + std::to_string(session) +
                           ru(" не отправлено."));
            break;
        case FailureStreak::Report::Reminder:
            printErrorLine(ru("Сообщения по-прежнему не отправляются (причина ") +
                           std::to_string(rc) + ru("), неудач: ") +
                           std::to_string(consoleFailures.count()));
            break;
        case FailureStreak::Report::Quiet:
            break;
    }
}

// What follows a send that failed, or the first that worked after failures;
// out of line, so that the usual send, once per receiver, stays short.
[[gnu::noinline]] void afterUnusualSend(int rc, int session) {
    if (rc != SDK_OK) {
        printLine("Console message failed (reason " + std::to_string(rc) + ")");
        explainConsoleFailure(rc, session);
    } else {
        consoleFailures.succeed();
    }
}

}  // namespace

void resetConsoleFailures() {
    consoleFailures = FailureStreak{};
}

void setConsoleColor(Rgb color) {
    SdkSetInt(SDK_ATTR_CONSOLE_RED, color.red);
    SdkSetInt(SDK_ATTR_CONSOLE_GREEN, color.green);
    SdkSetInt(SDK_ATTR_CONSOLE_BLUE, color.blue);
}

void sendPreparedConsoleMessage(int session) {
    const int rc = SdkSendConsoleMessage(session);
    if (rc != SDK_OK || consoleFailures.count() != 0) {
        afterUnusualSend(rc, session);
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

#include "app/world_session.h"

#include <chrono>
#include <string>
#include <thread>

#include "app/config_files.h"
#include "app/coordinates.h"
#include "app/explanations.h"
#include "app/number_text.h"
#include "app/service_status.h"
#include "app/startup_config.h"
#include "console/operator_console.h"
#include "protocol/monotonic_clock.h"
#include "sdk/connection_notes.h"
#include "sdk/failure_streak.h"
#include "sdk/retry_delay.h"
#include "sdk/world_sdk.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"
#include "world/chat_capture.h"

namespace {

void sleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LoginRetryWait loginRetryWait = sleepMs;

// Prints a message whose text carries the SDK's reason code in parentheses.
void printWithReason(const char* before, int reason, const char* after = ")") {
    printLine(ru(before) + std::to_string(reason) + ru(after));
}

void initialiseSdk() {
    int rc = SdkInitialise(SDK_BUILD);
    while (rc != SDK_OK) {
        printWithReason("Ошибка (причина ", rc);
        explainInitialisationFailure(rc);
        printLine(ru("Попробуйте еще раз"));
        reaskCredentials();
        rc = SdkInitialise(SDK_BUILD);
    }
}

void installHandlers() {
    SdkSetEventHandler(SDK_EVENT_AVATAR_ARRIVED, onAvatarArrived);
    SdkSetEventHandler(SDK_EVENT_AVATAR_MOVED, onAvatarMoved);
    SdkSetEventHandler(SDK_EVENT_AVATAR_LEFT, onAvatarLeft);
    SdkSetEventHandler(SDK_EVENT_CHAT, onChatLine);
    SdkSetEventHandler(SDK_EVENT_CONSOLE_MESSAGE, onConsoleMessage);
}

void createInstance() {
    int rc = SdkCreateInstance(StartupConfig.serverAddress, textToInt(StartupConfig.port), 0);
    if (rc != SDK_OK) {
        printWithReason("Невозможно запустить бота (причина ", rc);
        explainInstanceFailure(rc);
        exitProgram(1);
    }
}

void setLoginAttributes() {
    SdkSetInt(SDK_ATTR_LOGIN_OWNER, leadingInt(StartupConfig.citizenNumber));
    SdkSetString(SDK_ATTR_LOGIN_PASSWORD, StartupConfig.privilegePassword);
    SdkSetString(SDK_ATTR_LOGIN_APPLICATION, APPLICATION_NAME);
    SdkSetString(SDK_ATTR_LOGIN_NAME, BOT_NAME);
    SdkSetBool(SDK_ATTR_LOGIN_HEAR_ALL, 1);
    SdkSetEventHandler(SDK_EVENT_AVATAR_LEFT, onAvatarLeft);
}

// Failures on the way to the world rather than of the account: asking the
// operator again would not help (and, with no one at the console, would end
// the bot), so the same login is tried again after a growing delay.
bool failedOnTheWay(int rc) {
    return rc == SDK_RC_CONNECT_FAILED || rc == SDK_RC_TIMEOUT || rc == SDK_RC_CONNECTION_LOST ||
           rc == SDK_RC_PROTOCOL_ERROR || rc == SDK_RC_SERVER_FULL;
}

// Reports a failure on the way: the failure line once for each new reason,
// then a reminder on standard error now and then.
void reportLoginRetry(FailureStreak& streak, int rc) {
    switch (streak.fail(rc, nowMs())) {
        case FailureStreak::Report::Full:
            printWithReason("Невозможно зайти (причина ", rc);
            explainLoginRetry(rc);
            break;
        case FailureStreak::Report::Reminder:
            printErrorLine(ru("Вход всё ещё не удаётся (причина ") + std::to_string(rc) +
                           ru("), попыток: ") + std::to_string(streak.count()));
            break;
        case FailureStreak::Report::Quiet:
            break;
    }
}

void logIn() {
    FailureStreak streak;
    RetryDelay delay(FIRST_LOGIN_RETRY_MS, MAX_LOGIN_RETRY_MS, 0);
    setLoginAttributes();
    int rc = SdkLogin();
    while (rc != SDK_OK) {
        if (failedOnTheWay(rc)) {
            reportLoginRetry(streak, rc);
            loginRetryWait(delay.next());
        } else {
            streak.succeed();
            delay.reset();
            printWithReason("Невозможно зайти (причина ", rc);
            explainRefusedLogin(rc);
            printLine(ru("Попробуйте еще раз"));
            reaskCredentials();
        }
        setLoginAttributes();
        rc = SdkLogin();
    }
}

// Whether the bot stands in no world: the asked one and the fallback both
// failed. Placement is then explained by that, not by the coordinates.
bool outsideEveryWorld = false;

void enterWorld() {
    outsideEveryWorld = false;
    int rc = SdkEnterWorld(StartupConfig.worldName);
    noteWorldEntered(StartupConfig.worldName);
    if (rc != SDK_OK) {
        printWithReason("Невозможно зайти в мир. (причина ", rc, "). Захожу в welcome.");
        explainWorldEntryFailure(rc);
        // The fallback's result changes nothing the bot does; the operator is
        // told when it failed too.
        const int fallback = SdkEnterWorld(FALLBACK_WORLD);
        noteWorldEntered(FALLBACK_WORLD);
        if (fallback != SDK_OK) {
            outsideEveryWorld = true;
            explainFallbackWorldFailure(fallback);
        }
        StartupConfig.coordinates = FALLBACK_COORDINATES;
    }
}

int placeAt(const Position& position) {
    SdkSetInt(SDK_ATTR_MY_EAST_WEST, position.eastWest);
    SdkSetInt(SDK_ATTR_MY_NORTH_SOUTH, position.northSouth);
    SdkSetInt(SDK_ATTR_MY_ALTITUDE, position.altitude);
    SdkSetInt(SDK_ATTR_MY_HEADING, PLACEMENT_HEADING);
    SdkSetInt(SDK_ATTR_MY_GESTURE, PLACEMENT_GESTURE);
    return SdkCommitState();
}

void placeBot() {
    std::optional<Position> position = parseCoordinates(StartupConfig.coordinates);
    if (!position) {
        printLine(ru("Неверные координаты. Захожу в центр мира"));
        explainMalformedCoordinates();
        StartupConfig.coordinates = FALLBACK_COORDINATES;
        position = Position{};
    }
    int rc = placeAt(*position);
    if (rc == SDK_OK) {
        printLine(ru("Успешно."));
        return;
    }
    printWithReason("Неверные координаты (причина ", rc);
    if (outsideEveryWorld) {
        explainPlacementOutsideEveryWorld(rc);
    } else {
        explainPlacementFailure(rc);
    }
    printLine(ru("Захожу в центр мира"));
    StartupConfig.coordinates = FALLBACK_COORDINATES;
    if (placeAt(Position{}) == SDK_OK) {
        printLine(ru("Успешно."));
    }
}

}  // namespace

void setLoginRetryWait(LoginRetryWait wait) { loginRetryWait = wait != nullptr ? wait : sleepMs; }

void openWorldSession() {
    setAccountRefusalNotice(explainRefusedReconnection);
    initialiseSdk();
    installHandlers();
    createInstance();
    logIn();
    enterWorld();
    placeBot();
}

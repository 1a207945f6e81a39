#include "relay/main_loop.h"

#include <cstdint>

#include "app/service_status.h"
#include "app/startup_config.h"
#include "relay/color_command.h"
#include "relay/console_line.h"
#include "relay/help_global_commands.h"
#include "relay/personal_settings.h"
#include "sdk/world_sdk.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"
#include "world/chat_capture.h"

namespace {

bool isColorCommand(const std::string& line) {
    return line.size() >= 2 && line[0] == '!' && cp1251ToLower(line[1]) == 'c';
}

bool isGlobalCommand(const std::string& line) {
    return line.size() >= 7 && equalsIgnoreCase(line.substr(0, 7), "!global");
}

// Runs the command the line may carry and returns the dispatch result: the
// color command's own result, or 1 when a global-chat flag was changed.
int dispatchCommand(int speaker, const std::string& line) {
    int result = 0;
    const int session = AvatarRoster.sessions[speaker];
    if ((equalsIgnoreCase(line, "!h") || equalsIgnoreCase(line, "!help")) &&
        hasCommandRights(speaker)) {
        handleHelpCommand(speaker);
    }
    if (isColorCommand(line) && hasCommandRights(speaker) && StartupConfig.colorsAllowed) {
        result = handleColorCommand(speaker, line);
        if (result == 0) {
            sendConsoleLine(session, BLACK, ru("Ошибка! Команда не распознана. Использование:"));
            sendColorUsage(session, AvatarRoster.citizens[speaker]);
        } else if (result == -1) {
            sendConsoleLine(
                session, BLACK,
                ru("Заданный цвет слишком плохо видно на белом фоне. Попробуйте другой."));
        }
    }
    if (isGlobalCommand(line) && hasCommandRights(speaker)) {
        handleGlobalCommand(speaker, line, result);
    }
    return result;
}

// Farther than RELAY_DISTANCE along one axis; computed in 64 bits so that no
// pair of 32-bit coordinates can overflow.
bool beyondRelayDistance(int a, int b) {
    std::int64_t difference = static_cast<std::int64_t>(a) - static_cast<std::int64_t>(b);
    return difference > RELAY_DISTANCE || difference < -RELAY_DISTANCE;
}

}  // namespace

bool hasCommandRights(int rosterIndex) {
    return AvatarRoster.citizens[rosterIndex] != 0 ||
           AvatarRoster.names[rosterIndex].rfind('[', 0) == 0;
}

void relayPendingLine(int speaker) {
    const int citizen = AvatarRoster.citizens[speaker];
    int speakerOff = 0;
    Rgb color = BLACK;
    if (const int* flag = PersonalSettings.globalOff.find(citizen)) {
        speakerOff = *flag;
        color =
            Rgb{PersonalSettings.red.valueOr0(citizen), PersonalSettings.green.valueOr0(citizen),
                PersonalSettings.blue.valueOr0(citizen)};
    }
    setConsoleColor(color);
    if (speakerOff != 0) {
        return;
    }
    bool relayed = false;
    for (int j = 0; j < AvatarRoster.size(); ++j) {
        if (j == speaker) {
            continue;
        }
        // The distance first: it costs less than looking the receiver up.
        if (!beyondRelayDistance(AvatarRoster.x[speaker], AvatarRoster.x[j]) &&
            !beyondRelayDistance(AvatarRoster.y[speaker], AvatarRoster.y[j]) &&
            !beyondRelayDistance(AvatarRoster.z[speaker], AvatarRoster.z[j])) {
            continue;
        }
        const int* receiverOff = PersonalSettings.globalOff.find(AvatarRoster.citizens[j]);
        if (receiverOff != nullptr && *receiverOff == 1) {
            continue;
        }
        sendConsoleLine(AvatarRoster.sessions[j], PendingChat.relayLine);
        relayed = true;
    }
    if (relayed) {
        noteLineRelayed();
    }
}

void runMainLoopTurn() {
    SdkProcessEvents(0);
    keepServiceInformed();
    if (!pendingChatIsEmpty()) {
        noteLineHeard();
        int speaker = indexOfSession(PendingChat.speakerSession);
        if (speaker != -1) {
            const std::string line = PendingChat.text;
            if (dispatchCommand(speaker, line) != 0) {
                savePersonalSettings();
            }
            relayPendingLine(speaker);
        }
    }
    PendingChat.text = NO_MESSAGE_SENTINEL;
}

void runMainLoop() {
    for (;;) {
        runMainLoopTurn();
    }
}

#include "relay/help_global_commands.h"

#include "app/startup_config.h"
#include "relay/console_line.h"
#include "relay/personal_settings.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"

namespace {

constexpr Rgb HEADING{HEADING_RED, 0, 0};
constexpr Rgb EXAMPLE{0, 0, EXAMPLE_BLUE};

}  // namespace

void handleHelpCommand(int speaker) {
    const int session = AvatarRoster.sessions[speaker];
    if (StartupConfig.colorsAllowed) {
        sendColorUsage(session, AvatarRoster.citizens[speaker]);
    }
    sendGlobalUsage(session);
}

void sendColorUsage(int session, int citizen) {
    sendConsoleLine(session, HEADING, ru("Задать цвет по имени:"));
    sendConsoleLine(session, EXAMPLE, "!color green     !col Gold     !c DarkBlue");
    sendConsoleLine(session,
                    ru("Доступные цвета:  Maroon, Red, Orange, Yellow, Olive, Green, Purple, "
                       "Magenta, Lime, Teal, Aqua, Blue, Navy, Black, Gray, Silver, DarkRed, "
                       "DeepPink,"));
    sendConsoleLine(session,
                    "Violet, BlueViolet, DarkViolet, DarkMagenta, Indigo, Tomato, Coral, Gold, "
                    "OrangeRed, DarkOrange, LimeGreen, SeaGreen, Olive, DarkOliveGreen,");
    sendConsoleLine(session,
                    "Cyan, DarkCyan, SteelBlue, RoyalBlue, DarkBlue, RosyBrown, SandyBrown, "
                    "Goldenrod, Chocolate, Peru, DarkGoldenrod, Brown, SaddleBrown, Maroon.");
    sendConsoleLine(session, HEADING, ru("Задать цвет в формате RGB (0-255):"));
    sendConsoleLine(session, EXAMPLE, "!color 128 128 0     !Col 0 0 88     !c 0 64 64");
    Rgb own{PersonalSettings.red.getOrInsert(citizen), PersonalSettings.green.getOrInsert(citizen),
            PersonalSettings.blue.getOrInsert(citizen)};
    sendConsoleLine(session, own, ru("\nМой текущий цвет этот текст...\n"));
}

void sendGlobalUsage(int session) {
    sendConsoleLine(session, HEADING, ru("Включить глобальный чат:"));
    sendConsoleLine(session, EXAMPLE, "!global on");
    sendConsoleLine(session, HEADING, ru("Выключить:"));
    sendConsoleLine(session, EXAMPLE, "!global off");
}

void handleGlobalCommand(int speaker, const std::string& line, int& result) {
    const int citizen = AvatarRoster.citizens[speaker];
    if (equalsIgnoreCase(line, "!global off")) {
        PersonalSettings.globalOff.getOrInsert(citizen) = 1;
        result = 1;
    }
    if (equalsIgnoreCase(line, "!global on")) {
        PersonalSettings.globalOff.getOrInsert(citizen) = 0;
        result = 1;
    }
    // Whoever has a global-chat entry also has a color, which the relay reads.
    if (PersonalSettings.red.find(citizen) == nullptr) {
        PersonalSettings.red.getOrInsert(citizen) = 0;
        PersonalSettings.green.getOrInsert(citizen) = 0;
        PersonalSettings.blue.getOrInsert(citizen) = 0;
    }
    if (result == 0) {
        const int session = AvatarRoster.sessions[speaker];
        sendConsoleLine(session, BLACK, ru("Ошибка! Команда не распознана. Использование:"));
        sendGlobalUsage(session);
    }
}

#include "relay/help_global_commands.h"

#include <gtest/gtest.h>

#include "app/startup_config.h"
#include "relay/personal_settings.h"
#include "support/relay_fixture.h"
#include "support/line_ends.h"
#include "text/cp1251.h"

namespace {

class HelpGlobalTest : public RelayTest {
protected:
    void SetUp() override {
        RelayTest::SetUp();
        populate({avatarArrived(31, "Ann", 0, 0, 0, 104)});
    }
};

const std::vector<std::string> HEADING = RelayTest::colored(190, 0, 0);
const std::vector<std::string> EXAMPLE = RelayTest::colored(0, 0, 190);

std::vector<std::string> colorUsage(int session, const std::vector<std::string>& own) {
    return HEADING + RelayTest::consoleLine(session, ru("Задать цвет по имени:")) + EXAMPLE +
           RelayTest::consoleLine(session, "!color green     !col Gold     !c DarkBlue") +
           RelayTest::consoleLine(
               session,
               ru("Доступные цвета:  Maroon, Red, Orange, Yellow, Olive, Green, Purple, Magenta, "
                  "Lime, Teal, Aqua, Blue, Navy, Black, Gray, Silver, DarkRed, DeepPink,")) +
           RelayTest::consoleLine(session,
                                  "Violet, BlueViolet, DarkViolet, DarkMagenta, Indigo, Tomato, "
                                  "Coral, Gold, OrangeRed, DarkOrange, LimeGreen, SeaGreen, Olive, "
                                  "DarkOliveGreen,") +
           RelayTest::consoleLine(session,
                                  "Cyan, DarkCyan, SteelBlue, RoyalBlue, DarkBlue, RosyBrown, "
                                  "SandyBrown, Goldenrod, Chocolate, Peru, DarkGoldenrod, Brown, "
                                  "SaddleBrown, Maroon.") +
           HEADING + RelayTest::consoleLine(session, ru("Задать цвет в формате RGB (0-255):")) +
           EXAMPLE + RelayTest::consoleLine(session, "!color 128 128 0     !Col 0 0 88     !c 0 64 64") +
           own + RelayTest::consoleLine(session, ru("\nМой текущий цвет этот текст...\n"));
}

std::vector<std::string> globalUsage(int session) {
    return HEADING + RelayTest::consoleLine(session, ru("Включить глобальный чат:")) + EXAMPLE +
           RelayTest::consoleLine(session, "!global on") + HEADING +
           RelayTest::consoleLine(session, ru("Выключить:")) + EXAMPLE +
           RelayTest::consoleLine(session, "!global off");
}

TEST_F(HelpGlobalTest, HelpSendsTwelveLinesInOrderThenRelaysTheLine) {
    for (const char* line : {"!help", "!HELP", "!H", "!h"}) {
        SCOPED_TRACE(line);
        SetUp();
        EXPECT_EQ(turn({chatLine(31, "Ann", line)}),
                  colorUsage(31, colored(0, 0, 0)) + globalUsage(31) + colored(0, 0, 0));
        // The user now has color entries of 0 in memory but no global entry.
        EXPECT_NE(PersonalSettings.red.find(104), nullptr);
        EXPECT_EQ(PersonalSettings.globalOff.find(104), nullptr);
        EXPECT_FALSE(fileExists(PERSONAL_SETTINGS_FILE));
    }
}

TEST_F(HelpGlobalTest, HelpShowsTheUsersOwnColorAndOnlyGlobalUsageWithoutColors) {
    storeUserSettings(104, 0, 1, 2, 3);
    EXPECT_EQ(turn({chatLine(31, "Ann", "!help")}),
              colorUsage(31, colored(1, 2, 3)) + globalUsage(31) + colored(1, 2, 3));
    StartupConfig.colorsAllowed = false;
    EXPECT_EQ(turn({chatLine(31, "Ann", "!help")}), globalUsage(31) + colored(1, 2, 3));
}

TEST_F(HelpGlobalTest, HelpMustBeTheWholeLine) {
    for (const char* line : {"!help me", " !help", "!help "}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(turn({chatLine(31, "Ann", line)}), colored(0, 0, 0));
    }
}

TEST_F(HelpGlobalTest, GlobalOnAndOffSwitchSaveAndSendNothing) {
    EXPECT_EQ(turn({chatLine(31, "Ann", "!GLOBAL OFF")}), colored(0, 0, 0));
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), withLineEnds("104\n1\n0\n0\n0\n"));
    EXPECT_EQ(turn({chatLine(31, "Ann", "!global on")}), colored(0, 0, 0));
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), withLineEnds("104\n0\n0\n0\n0\n"));
}

TEST_F(HelpGlobalTest, OtherGlobalLinesGetTheErrorInBlackAndTheUsage) {
    for (const char* line : {"!global", "!global off ", "!globalx", "!Global maybe"}) {
        SCOPED_TRACE(line);
        SetUp();
        EXPECT_EQ(turn({chatLine(31, "Ann", line)}),
                  colored(0, 0, 0) +
                      consoleLine(31, ru("Ошибка! Команда не распознана. Использование:")) +
                      globalUsage(31) + colored(0, 0, 0));
        EXPECT_FALSE(fileExists(PERSONAL_SETTINGS_FILE));
        EXPECT_EQ(PersonalSettings.globalOff.find(104), nullptr);
        EXPECT_NE(PersonalSettings.red.find(104), nullptr);
    }
}

TEST_F(HelpGlobalTest, FailedUsageLinesEachPrintOneEndedLine) {
    for (int i = 0; i < 4; ++i) {
        sdk.queueResult("SdkSendConsoleMessage", SDK_RC_CONNECTION_LOST);
    }
    sendGlobalUsage(31);
    EXPECT_EQ(output(), "Console message failed (reason 7)\nConsole message failed (reason 7)\n"
                            "Console message failed (reason 7)\nConsole message failed (reason 7)\n");
}

}  // namespace

// Whole turns of the main loop: events in, SDK calls out, in order.

#include "relay/main_loop.h"

#include <gtest/gtest.h>

#include <climits>

#include "app/startup_config.h"
#include "relay/personal_settings.h"
#include "support/relay_fixture.h"
#include "support/line_ends.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"
#include "world/chat_capture.h"

namespace {

using MainLoopTest = RelayTest;

const std::vector<std::string> BLACK_COLOR = RelayTest::colored(0, 0, 0);

TEST_F(MainLoopTest, RelaysOnlyBeyondTwentyThousandOnSomeAxisNeverToTheSpeaker) {
    populate({avatarArrived(1, "Speaker", 0, 0, 0, 7),
              avatarArrived(2, "Edge", 20000, -20000, 20000, 0),
              avatarArrived(3, "FarX", 20001, 0, 0, 0), avatarArrived(4, "FarY", 0, -20001, 0, 0),
              avatarArrived(5, "FarZ", 0, 0, 20001, 0), avatarArrived(6, "Near", 5, 5, 5, 0)});
    const auto calls = turn({chatLine(1, "Speaker", "hello")});
    EXPECT_EQ(calls, BLACK_COLOR + consoleLine(3, "Speaker:\thello") +
                         consoleLine(4, "Speaker:\thello") + consoleLine(5, "Speaker:\thello"));
    EXPECT_EQ(output(), "Speaker: hello\n");
}

TEST_F(MainLoopTest, ExtremeCoordinatesDoNotOverflow) {
    populate({avatarArrived(1, "Min", INT_MIN, INT_MIN, INT_MIN, 7),
              avatarArrived(2, "Max", INT_MAX, INT_MAX, INT_MAX, 0),
              avatarArrived(3, "AlsoMin", INT_MIN, INT_MIN + 20000, INT_MIN, 0)});
    EXPECT_EQ(turn({chatLine(1, "Min", "far")}), BLACK_COLOR + consoleLine(2, "Min:\tfar"));
    EXPECT_EQ(turn({chatLine(2, "Max", "back")}),
              BLACK_COLOR + consoleLine(1, "Max:\tback") + consoleLine(3, "Max:\tback"));
}

TEST_F(MainLoopTest, RelayUsesTheSpeakersStoredColorOncePerLine) {
    storeUserSettings(7, 0, 255, 20, 147);
    populate({avatarArrived(1, "Pink", 0, 0, 0, 7), avatarArrived(2, "A", 30000, 0, 0, 0),
              avatarArrived(3, "B", -30000, 0, 0, 0)});
    EXPECT_EQ(turn({chatLine(1, "Pink", "x")}),
              colored(255, 20, 147) + consoleLine(2, "Pink:\tx") + consoleLine(3, "Pink:\tx"));
    // A speaker without settings goes out in black.
    EXPECT_EQ(turn({chatLine(2, "A", "y")}),
              BLACK_COLOR + consoleLine(1, "A:\ty") + consoleLine(3, "A:\ty"));
}

TEST_F(MainLoopTest, SpeakerAndReceiverFlagsAreTestedAsDesigned) {
    // Flags from the file may hold values other than 0 and 1: the speaker's
    // suppresses when not 0, the receiver's only when exactly 1.
    const struct {
        int speakerFlag;
        int receiverFlag;
        bool relayed;
    } cases[] = {{0, 0, true}, {1, 0, false}, {2, 0, false}, {0, 1, false}, {0, 2, true}, {-1, -1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.speakerFlag) + "/" + std::to_string(c.receiverFlag));
        SetUp();
        storeUserSettings(7, c.speakerFlag, 0, 0, 0);
        storeUserSettings(8, c.receiverFlag, 0, 0, 0);
        populate({avatarArrived(1, "S", 0, 0, 0, 7), avatarArrived(2, "R", 50000, 0, 0, 8)});
        const auto expected = c.relayed ? BLACK_COLOR + consoleLine(2, "S:\tz") : BLACK_COLOR;
        EXPECT_EQ(turn({chatLine(1, "S", "z")}), expected);
    }
}

TEST_F(MainLoopTest, UnknownSpeakersAndEmptyRostersDropTheLine) {
    EXPECT_EQ(turn({chatLine(1, "Ghost", "boo")}), std::vector<std::string>{});
    populate({avatarArrived(2, "A", 0, 0, 0, 0), avatarArrived(3, "B", 90000, 0, 0, 0)});
    EXPECT_EQ(turn({chatLine(9, "Ghost", "boo")}), std::vector<std::string>{});
    EXPECT_EQ(output(), "Ghost: boo\n");
}

TEST_F(MainLoopTest, ALineEqualToTheSentinelCountsAsNoLine) {
    populate({avatarArrived(2, "A", 0, 0, 0, 0), avatarArrived(3, "B", 90000, 0, 0, 0)});
    EXPECT_EQ(turn({chatLine(2, "A", NO_MESSAGE_SENTINEL)}), std::vector<std::string>{});
}

TEST_F(MainLoopTest, FailedSendsArePrintedAndTheRelayGoesOn) {
    populate({avatarArrived(1, "S", 0, 0, 0, 0), avatarArrived(2, "A", 90000, 0, 0, 0),
              avatarArrived(3, "B", 90000, 0, 0, 0)});
    sdk.queueResult("SdkSendConsoleMessage", SDK_RC_NO_SUCH_SESSION);
    EXPECT_EQ(turn({chatLine(1, "S", "x")}),
              BLACK_COLOR + consoleLine(2, "S:\tx") + consoleLine(3, "S:\tx"));
    EXPECT_EQ(outputLines(),
              (std::vector<std::string>{"S: x", "Console message failed (reason 17)"}));
    // Failures reach the console only, not the log.
    EXPECT_EQ(readFile("chat.txt").find("failed"), std::string::npos);
}

TEST_F(MainLoopTest, CommandsNeedRightsAndOtherwiseAreOnlyRelayed) {
    // Tourists (citizen 0) without a "[" name get no replies; the lines go out as chat.
    populate({avatarArrived(1, "Tourist", 0, 0, 0, 0), avatarArrived(2, "Far", 90000, 0, 0, 0)});
    for (const char* line : {"!help", "!color red", "!global off", "!c 1 2 3"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(turn({chatLine(1, "Tourist", line)}),
                  BLACK_COLOR + consoleLine(2, std::string("Tourist:\t") + line));
    }
    EXPECT_FALSE(fileExists(PERSONAL_SETTINGS_FILE));
    EXPECT_EQ(PersonalSettings.globalOff.find(0), nullptr);
}

TEST_F(MainLoopTest, BracketNamedTouristsHaveRightsAndShareKeyZero) {
    populate({avatarArrived(1, "[Bot1]", 0, 0, 0, 0), avatarArrived(2, "[Bot2]", 90000, 0, 0, 0),
              avatarArrived(3, "Far", 0, 90000, 0, 5)});
    const auto calls = turn({chatLine(1, "[Bot1]", "!global off")});
    EXPECT_EQ(calls, BLACK_COLOR);  // switched off before the relay: nobody gets it
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), withLineEnds("0\n1\n0\n0\n0\n"));
    // [Bot2] shares key 0: its lines stop too, and relayed lines skip both.
    EXPECT_EQ(turn({chatLine(2, "[Bot2]", "hi")}), BLACK_COLOR);
    EXPECT_EQ(turn({chatLine(3, "Far", "hey")}), BLACK_COLOR);
}

TEST_F(MainLoopTest, ColorCommandRepliesAndRelaysInTheNewColor) {
    populate({avatarArrived(1, "Ann", 0, 0, 0, 104), avatarArrived(2, "Far", 90000, 0, 0, 0)});
    EXPECT_EQ(turn({chatLine(1, "Ann", "!color DeepPink")}),
              colored(255, 20, 147) +
                  consoleLine(1, ru("для ваших сообщений установлен цвет DeepPink")) +
                  colored(255, 20, 147) + consoleLine(2, "Ann:\t!color DeepPink"));
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), withLineEnds("104\n0\n255\n20\n147\n"));
}

TEST_F(MainLoopTest, RefusedAndUnknownColorsGetBlackRepliesAndAreSaved) {
    populate({avatarArrived(1, "Ann", 0, 0, 0, 104)});
    EXPECT_EQ(turn({chatLine(1, "Ann", "!c 255 255 0")}),
              BLACK_COLOR +
                  consoleLine(1, ru("Заданный цвет слишком плохо видно на белом фоне. Попробуйте другой.")) +
                  BLACK_COLOR);
    // A refused color changes nothing, yet the (empty) settings are saved.
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), "");

    const auto calls = turn({chatLine(1, "Ann", "!cat")});
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 5),
              BLACK_COLOR + consoleLine(1, ru("Ошибка! Команда не распознана. Использование:")));
    EXPECT_EQ(calls[5], "SdkSetInt(329, 190)");  // the color usage follows
}

TEST_F(MainLoopTest, WithColorsNotAllowedColorLinesAreOnlyRelayed) {
    StartupConfig.colorsAllowed = false;
    populate({avatarArrived(1, "Ann", 0, 0, 0, 104), avatarArrived(2, "Far", 90000, 0, 0, 0)});
    EXPECT_EQ(turn({chatLine(1, "Ann", "!color red")}),
              BLACK_COLOR + consoleLine(2, "Ann:\t!color red"));
    EXPECT_FALSE(fileExists(PERSONAL_SETTINGS_FILE));
}

TEST_F(MainLoopTest, ChoicesSurviveARestart) {
    populate({avatarArrived(1, "Ann", 0, 0, 0, 104), avatarArrived(2, "Far", 90000, 0, 0, 0)});
    turn({chatLine(1, "Ann", "!color DeepPink")});
    turn({chatLine(1, "Ann", "!global off")});
    const std::string saved = readFile(PERSONAL_SETTINGS_FILE);
    EXPECT_EQ(saved, withLineEnds("104\n1\n255\n20\n147\n"));

    // A new run: fresh state, the same file.
    resetPersonalSettings();
    resetAvatarRoster();
    loadPersonalSettings();
    populate({avatarArrived(5, "Ann", 0, 0, 0, 104), avatarArrived(6, "Far", 90000, 0, 0, 0)});
    EXPECT_EQ(turn({chatLine(5, "Ann", "still off")}), colored(255, 20, 147));
    EXPECT_EQ(turn({chatLine(5, "Ann", "!global on")}),
              colored(255, 20, 147) + consoleLine(6, "Ann:\t!global on"));
}

}  // namespace

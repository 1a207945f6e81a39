#include "relay/color_command.h"

#include <gtest/gtest.h>

#include <set>

#include "app/startup_config.h"
#include "relay/console_line.h"
#include "relay/personal_settings.h"
#include "support/relay_fixture.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"

namespace {

class ColorCommandTest : public RelayTest {
protected:
    void SetUp() override {
        RelayTest::SetUp();
        populate({avatarArrived(31, "Ann", 0, 0, 0, 104)});
        sdk.calls.clear();
    }
    std::string storedColor(int citizen = 104) {
        if (PersonalSettings.red.find(citizen) == nullptr) {
            return "none";
        }
        return std::to_string(PersonalSettings.red.valueOr0(citizen)) + "," +
               std::to_string(PersonalSettings.green.valueOr0(citizen)) + "," +
               std::to_string(PersonalSettings.blue.valueOr0(citizen));
    }
};

TEST_F(ColorCommandTest, NamedFormsInAnyCaseConfirmWithTheReplyName) {
    const struct {
        const char* line;
        const char* color;
        const char* replyName;
    } cases[] = {
        {"!COLOR DeepPink", "255,20,147", "DeepPink"}, {"!Col deeppink", "255,20,147", "DeepPink"},
        {"!c DEEPPINK", "255,20,147", "DeepPink"},     {"!color gold", "255,115,0", "Gold"},
        {"!color royalblue", "65,105,255", "RoyalBlue"}, {"!c Olive", "128,128,0", "olive"},
        {"!c MAROON", "128,0,0", "maroon"},           {"!c yellow", "255,255,0", "yellow"},
        {"!color saddlebrown", "139,69,19", "SaddleBrown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        SetUp();
        EXPECT_EQ(handleColorCommand(0, c.line), 1);
        EXPECT_EQ(storedColor(), c.color);
        const std::string rgb = c.color;
        const auto first = rgb.find(','), second = rgb.rfind(',');
        EXPECT_EQ(sdk.calls,
                  colored(std::stoi(rgb.substr(0, first)),
                          std::stoi(rgb.substr(first + 1, second - first - 1)),
                          std::stoi(rgb.substr(second + 1))) +
                      consoleLine(31, ru("для ваших сообщений установлен цвет ") + c.replyName));
    }
}

TEST_F(ColorCommandTest, ComponentFormAndBrightnessLimit) {
    const struct {
        double limit;
        const char* line;
        int result;
        const char* stored;
    } cases[] = {
        {0.4, "!color 128 128 0", 1, "128,128,0"},
        {0.4, "!color 255 255 0", -1, "none"},  // D = 0.114
        {0.4, "!color 255 255 255", -1, "none"},
        {0.0, "!c 255 255 255", 1, "255,255,255"},
        {-1.0, "!c 250 250 250", 1, "250,250,250"},  // a non-number coefficient restricts nothing
        {1.0, "!c 0 0 0", 1, "0,0,0"},               // D = 1.0 equals the limit: passes
        {1.5, "!c 0 0 0", -1, "none"},
        {1.5, "!c black", 1, "0,0,0"},               // named colors are never refused
        {0.4, "!cat 10 20 30", 1, "10,20,30"},       // the first word is not examined
        {0.4, "!c 12abc 0 0", 1, "12,0,0"},
        {0.4, "!c 256 0 0", 0, "none"},
        {0.4, "!c -1 0 0", 0, "none"},
        {0.4, "!c 00 0 0", 0, "none"},
        {0.4, "!c 1 2 3 4", 0, "none"},              // four numbers
        {0.4, "!c 1  2", 0, "none"},                 // adjacent spaces leave an empty word
        {0.4, "!c 1 2 ", 0, "none"},
        {0.4, "!color  red", 0, "none"},             // two spaces after the command word
        {0.4, "!color red ", 0, "none"},
        {0.4, "!color lightblue", 0, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        SetUp();
        StartupConfig.brightnessLimit = c.limit;
        EXPECT_EQ(handleColorCommand(0, c.line), c.result);
        EXPECT_EQ(storedColor(), c.stored);
        if (c.result == 1) {
            EXPECT_EQ(sdk.calls.back(), "SdkSendConsoleMessage(31)");
            if (std::string(c.line).find("black") == std::string::npos) {
                EXPECT_EQ(sdk.calls.at(3),
                          "SdkSetString(334, " + ru("для ваших сообщений установлен цвет rgb") + ")");
            }
        } else {
            EXPECT_TRUE(sdk.calls.empty());
        }
    }
}

TEST_F(ColorCommandTest, FirstColorCreatesTheGlobalEntryAndKeepsAnExistingFlag) {
    EXPECT_EQ(handleColorCommand(0, "!c red"), 1);
    ASSERT_NE(PersonalSettings.globalOff.find(104), nullptr);
    EXPECT_EQ(*PersonalSettings.globalOff.find(104), 0);

    PersonalSettings.globalOff.getOrInsert(104) = 1;
    EXPECT_EQ(handleColorCommand(0, "!c blue"), 1);
    EXPECT_EQ(*PersonalSettings.globalOff.find(104), 1);
    EXPECT_EQ(storedColor(), "0,0,255");
}

TEST_F(ColorCommandTest, AFailedConfirmationKeepsTheColor) {
    sdk.queueResult("SdkSendConsoleMessage", SDK_RC_CONNECTION_LOST);
    EXPECT_EQ(handleColorCommand(0, "!c teal"), 1);
    EXPECT_EQ(storedColor(), "0,128,128");
    EXPECT_EQ(output(), "Console message failed (reason 7)\n");
}

TEST(ColorTableShape, FortyFourUniqueLowerCaseWords) {
    std::set<std::string> words;
    for (const ColorEntry& entry : ColorTable) {
        const std::string word = entry.word;
        EXPECT_TRUE(words.insert(word).second) << word;
        for (char c : word) {
            EXPECT_TRUE(c >= 'a' && c <= 'z') << word;
        }
        EXPECT_TRUE(equalsIgnoreCase(word, entry.replyName)) << word;
    }
    EXPECT_EQ(words.size(), 44u);
}

}  // namespace

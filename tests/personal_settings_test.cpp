#include "relay/personal_settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/bot_fixture.h"
#include "support/line_ends.h"

namespace {

using PersonalSettingsTest = BotTest;

std::string settingsRows() {
    std::string rows;
    for (const auto& [citizen, flag] : PersonalSettings.globalOff.entries()) {
        rows += std::to_string(citizen) + ":" + std::to_string(flag) + "/" +
                std::to_string(PersonalSettings.red.valueOr0(citizen)) + "," +
                std::to_string(PersonalSettings.green.valueOr0(citizen)) + "," +
                std::to_string(PersonalSettings.blue.valueOr0(citizen)) + " ";
    }
    return rows;
}

TEST_F(PersonalSettingsTest, LoadRulesForWellFormedAndMalformedFiles) {
    const struct {
        const char* file;
        const char* loaded;  // citizen:globalOff/red,green,blue
    } cases[] = {
        {"", ""},
        {"104\n0\n255\n0\n0\n", "104:0/255,0,0 "},
        {"104\r\n1\r\n255\r\n20\r\n147\r\n", "104:1/255,20,147 "},
        {"1\n0\n1\n1\n1\n2\n0\n2\n2\n", "1:0/1,1,1 "},               // short last record dropped
        {"1\n0\n1\n1\n1\n\n2\n0\n2\n2\n2\n", "1:0/1,1,1 "},           // blank line ends the load
        {"5\n0\n1\n1\n1\n5\n1\n9\n9\n9\n", "5:1/9,9,9 "},             // the later record wins
        {"x\n0\n1\n2\n3\n", "-1:0/1,2,3 "},                          // not a number: -1
        {"7\n0\n00\n2\n3", "7:0/-1,2,3 "},                          // 00 is -1; unended last line
        {"-3\n0\n0\n0\n0\n2\n1\n0\n0\n0\n", "-3:0/0,0,0 2:1/0,0,0 "},
        {"\n1\n0\n1\n1\n1\n", ""},                                  // leading blank line
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        SetUp();
        writeFile(PERSONAL_SETTINGS_FILE, c.file);
        loadPersonalSettings();
        EXPECT_EQ(settingsRows(), c.loaded);
    }
}

TEST_F(PersonalSettingsTest, MissingFileLoadsNothingAndCreatesNothing) {
    loadPersonalSettings();
    EXPECT_EQ(settingsRows(), "");
    EXPECT_FALSE(fileExists(PERSONAL_SETTINGS_FILE));
}

TEST_F(PersonalSettingsTest, SaveWritesSortedRecordsFillsMissingColorsAndRoundTrips) {
    storeUserSettings(104, 1, 255, 20, 147);
    PersonalSettings.globalOff.getOrInsert(-5) = 0;  // no color entries yet
    PersonalSettings.red.getOrInsert(9) = 1;       // no globalOff: not a stored user
    savePersonalSettings();
    const std::string expected = "-5\n0\n0\n0\n0\n104\n1\n255\n20\n147\n";
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), withLineEnds(expected));
    EXPECT_NE(PersonalSettings.red.find(-5), nullptr);  // inserted by the save
    savePersonalSettings();
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), withLineEnds(expected));

    resetPersonalSettings();
    loadPersonalSettings();
    EXPECT_EQ(settingsRows(), "-5:0/0,0,0 104:1/255,20,147 ");
    EXPECT_FALSE(fileExists(std::string(PERSONAL_SETTINGS_FILE) + ".tmp"));
}

TEST_F(PersonalSettingsTest, AFailingSaveLeavesTheOldFileWhole) {
    const std::string old = "104\n1\n255\n20\n147\n";
    writeFile(PERSONAL_SETTINGS_FILE, old);
    loadPersonalSettings();
    PersonalSettings.globalOff.getOrInsert(104) = 0;
    // The temporary file cannot be created: a directory stands in its place.
    ASSERT_TRUE(std::filesystem::create_directory(std::string(PERSONAL_SETTINGS_FILE) + ".tmp"));
    savePersonalSettings();
    savePersonalSettings();
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), old);
    EXPECT_EQ(*PersonalSettings.globalOff.find(104), 0);  // memory keeps the change
    // Standard output says nothing; standard error tells once, then the recovery.
    EXPECT_EQ(output(), "");
    EXPECT_EQ(errors(), "Не удаётся записать файл personal_chat_settings.txt (мешает каталог); "
                        "бот продолжает работу без него\n");
    ASSERT_TRUE(std::filesystem::remove(std::string(PERSONAL_SETTINGS_FILE) + ".tmp"));
    savePersonalSettings();
    EXPECT_EQ(readFile(PERSONAL_SETTINGS_FILE), withLineEnds("104\n0\n255\n20\n147\n"));
    EXPECT_EQ(splitLines(errors()), (std::vector<std::string>{
                                        "Не удаётся записать файл personal_chat_settings.txt "
                                        "(мешает каталог); бот продолжает работу без него",
                                        "Запись в файл personal_chat_settings.txt снова работает"}));
}

TEST_F(PersonalSettingsTest, AFileThatDidNotLoadWholeIsKeptAsABackupBeforeTheFirstSave) {
    const struct {
        const char* file;
        bool kept;
    } cases[] = {
        {"1\n0\n1\n1\n1\n\n2\n0\n2\n2\n2\n", true},  // records after a blank line
        {"1\n0\n1\n1\n1\n2\n0\n2\n", true},              // a cut record
        {"x\n0\n1\n2\n3\n", true},                         // a citizen that is no number
        {"1\n0\n1\n1\n1\n", false},
        {"1\n0\n1\n1\n1\n\n\n", false},                  // blank lines with nothing after
        {"1\r\n0\r\n1\r\n1\r\n1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        startFresh();
        writeFile(PERSONAL_SETTINGS_FILE, c.file);
        loadPersonalSettings();
        storeUserSettings(104, 0, 1, 2, 3);
        savePersonalSettings();
        EXPECT_EQ(fileExists(PERSONAL_SETTINGS_BACKUP_FILE), c.kept);
        if (!c.kept) {
            EXPECT_EQ(errors(), "");
            continue;
        }
        EXPECT_EQ(readFile(PERSONAL_SETTINGS_BACKUP_FILE), c.file);
        EXPECT_EQ(splitLines(errors()).size(), 2u);
        // The backup is taken once: later saves leave it as it is.
        writeFile(PERSONAL_SETTINGS_BACKUP_FILE, "moved away");
        savePersonalSettings();
        EXPECT_EQ(readFile(PERSONAL_SETTINGS_BACKUP_FILE), "moved away");
    }
}

}  // namespace

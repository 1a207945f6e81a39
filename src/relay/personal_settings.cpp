#include "relay/personal_settings.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "app/config_files.h"
#include "app/number_text.h"
#include "console/file_problems.h"
#include "console/operator_console.h"
#include "platform/durable_file.h"
#include "platform/line_end.h"
#include "text/cp1251.h"

PersonalSettingsTables PersonalSettings;

namespace {

// The file's content as found at start-up when the load could not take all
// of it; the first save keeps it beside as a backup before replacing it.
std::optional<std::string> unloadedOriginal;

std::string settingsFileContent() {
    std::string content;
    auto appendLine = [&content](int value) {
        content += std::to_string(value);
        content += LINE_END;
    };
    for (const auto& [citizen, flag] : PersonalSettings.globalOff.entries()) {
        appendLine(citizen);
        appendLine(flag);
        appendLine(PersonalSettings.red.getOrInsert(citizen));
        appendLine(PersonalSettings.green.getOrInsert(citizen));
        appendLine(PersonalSettings.blue.getOrInsert(citizen));
    }
    return content;
}

bool restHoldsText(std::istream& in) {
    std::string line;
    while (readFileLine(in, line) || !line.empty()) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// A value that does not read as a number loads as -1, and a save would write
// -1 in its place.
int loadValue(const std::string& line, bool& faithful) {
    int value = textToInt(line);
    if (value == -1 && line != "-1") {
        faithful = false;
    }
    return value;
}

// Loads records until a blank line, a short record or the end. Returns false
// when that left something of the file behind (a cut record, text after the
// blank line, a value that is not a number), so that a save would lose it.
bool loadRecords(std::istream& in) {
    bool faithful = true;
    for (;;) {
        std::string lines[5];
        bool ended = true;
        for (int i = 0; i < 5; ++i) {
            ended = readFileLine(in, lines[i]);
            if (lines[i].empty()) {
                return faithful && i == 0 && !restHoldsText(in);
            }
        }
        int citizen = loadValue(lines[0], faithful);
        PersonalSettings.globalOff.getOrInsert(citizen) = loadValue(lines[1], faithful);
        PersonalSettings.red.getOrInsert(citizen) = loadValue(lines[2], faithful);
        PersonalSettings.green.getOrInsert(citizen) = loadValue(lines[3], faithful);
        PersonalSettings.blue.getOrInsert(citizen) = loadValue(lines[4], faithful);
        if (!ended) {
            return faithful;
        }
    }
}

// Keeps the file that did not load whole beside it, once, before the first
// save replaces it. False when the backup could not be written: the save must
// then leave the file alone.
bool keepUnloadedOriginal() {
    if (!unloadedOriginal) {
        return true;
    }
    if (!replaceFileDurably(PERSONAL_SETTINGS_BACKUP_FILE, *unloadedOriginal)) {
        noteFileWriteFailed(PERSONAL_SETTINGS_BACKUP_FILE, errno);
        return false;
    }
    noteFileWritten(PERSONAL_SETTINGS_BACKUP_FILE);
    printErrorLine(ru("Прежнее содержимое ") + PERSONAL_SETTINGS_FILE + ru(" сохранено в ") +
                   PERSONAL_SETTINGS_BACKUP_FILE);
    unloadedOriginal.reset();
    return true;
}

}  // namespace

void resetPersonalSettings() {
    PersonalSettings = PersonalSettingsTables{};
    unloadedOriginal.reset();
}

void loadPersonalSettings() {
    std::ifstream file(PERSONAL_SETTINGS_FILE, std::ios::binary);
    if (!file) {
        return;
    }
    std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::istringstream in(content);
    if (!loadRecords(in)) {
        unloadedOriginal = std::move(content);
        printErrorLine(ru("Файл ") + PERSONAL_SETTINGS_FILE +
                       ru(" прочитан не полностью: загружено пользователей ") +
                       std::to_string(PersonalSettings.globalOff.entries().size()) +
                       ru("; перед первой записью он будет сохранён как ") +
                       PERSONAL_SETTINGS_BACKUP_FILE);
    }
}

void savePersonalSettings() {
    if (!keepUnloadedOriginal()) {
        return;
    }
    if (replaceFileDurably(PERSONAL_SETTINGS_FILE, settingsFileContent())) {
        noteFileWritten(PERSONAL_SETTINGS_FILE);
    } else {
        noteFileWriteFailed(PERSONAL_SETTINGS_FILE, errno);
    }
}

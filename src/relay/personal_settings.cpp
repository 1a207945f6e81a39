#include "relay/personal_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/config_files.h"
#include "app/number_text.h"

PersonalSettingsTables PersonalSettings;

namespace {

// Writes all bytes and flushes them to the disk; false on any failure.
bool writeDurably(int fd, const std::string& content) {
    std::size_t written = 0;
    while (written < content.size()) {
        ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

std::string settingsFileContent() {
    std::string content;
    auto appendLine = [&content](int value) {
        content += std::to_string(value);
        content += '\n';
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

}  // namespace

void resetPersonalSettings() { PersonalSettings = PersonalSettingsTables{}; }

void loadPersonalSettings() {
    std::ifstream in(PERSONAL_SETTINGS_FILE);
    if (!in) {
        return;
    }
    for (;;) {
        std::string lines[5];
        bool ended = true;
        for (std::string& line : lines) {
            ended = readFileLine(in, line);
            if (line.empty()) {
                return;
            }
        }
        int citizen = textToInt(lines[0]);
        PersonalSettings.globalOff.getOrInsert(citizen) = textToInt(lines[1]);
        PersonalSettings.red.getOrInsert(citizen) = textToInt(lines[2]);
        PersonalSettings.green.getOrInsert(citizen) = textToInt(lines[3]);
        PersonalSettings.blue.getOrInsert(citizen) = textToInt(lines[4]);
        if (!ended) {
            return;
        }
    }
}

void savePersonalSettings() {
    const std::string content = settingsFileContent();
    const std::string temporary = std::string(PERSONAL_SETTINGS_FILE) + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    bool written = writeDurably(fd, content);
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), PERSONAL_SETTINGS_FILE) != 0) {
        std::remove(temporary.c_str());
    }
}

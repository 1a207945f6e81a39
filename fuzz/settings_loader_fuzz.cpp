// Fuzz target: the personal settings loader, fed the input as the whole
// settings file. Checked:
// - the tables hold what the five-line records before the first blank line
//   (or the end) say, each value read as textToInt reads it;
// - every loaded user has all four values;
// - saving and loading again gives the same tables.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/number_text.h"
#include "fuzz_check.h"
#include "fuzz_workdir.h"
#include "relay/personal_settings.h"

namespace {

void writeSettingsFile(const std::uint8_t* data, std::size_t size) {
    std::ofstream file(PERSONAL_SETTINGS_FILE, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    FUZZ_CHECK(!file.fail());
}

// The file's lines as the loader sees them: split at LF, one CR before it
// dropped, a last line without LF kept when it is not empty.
std::vector<std::string> fileLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        std::string line = content.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

using Tables = std::map<int, std::vector<int>>;  // citizen -> globalOff, red, green, blue

Tables expectedTables(const std::string& content) {
    Tables tables;
    const std::vector<std::string> lines = fileLines(content);
    for (std::size_t at = 0; at + 5 <= lines.size(); at += 5) {
        for (std::size_t i = at; i < at + 5; ++i) {
            if (lines[i].empty()) {
                return tables;
            }
        }
        tables[textToInt(lines[at])] = {textToInt(lines[at + 1]), textToInt(lines[at + 2]),
                                        textToInt(lines[at + 3]), textToInt(lines[at + 4])};
    }
    return tables;
}

Tables loadedTables() {
    Tables tables;
    for (const auto& [citizen, flag] : PersonalSettings.globalOff.entries()) {
        const int* red = PersonalSettings.red.find(citizen);
        const int* green = PersonalSettings.green.find(citizen);
        const int* blue = PersonalSettings.blue.find(citizen);
        FUZZ_CHECK(red != nullptr && green != nullptr && blue != nullptr);
        tables[citizen] = {flag, *red, *green, *blue};
    }
    FUZZ_CHECK(PersonalSettings.red.entries().size() == tables.size() &&
               PersonalSettings.green.entries().size() == tables.size() &&
               PersonalSettings.blue.entries().size() == tables.size());
    return tables;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CleanWorkDirectory directory;
    writeSettingsFile(data, size);
    resetPersonalSettings();
    loadPersonalSettings();
    const Tables loaded = loadedTables();
    FUZZ_CHECK(loaded == expectedTables(std::string(reinterpret_cast<const char*>(data), size)));

    savePersonalSettings();
    resetPersonalSettings();
    loadPersonalSettings();
    FUZZ_CHECK(loadedTables() == loaded);
    resetPersonalSettings();
    return 0;
}

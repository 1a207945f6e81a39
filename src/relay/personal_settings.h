#pragma once

// Each user's relay color and global-chat switch, keyed by citizen number and
// kept in personal_chat_settings.txt as five-line records (citizen, globalOff,
// red, green, blue), in ascending order of citizen number.

#include <map>

inline constexpr const char* PERSONAL_SETTINGS_FILE = "personal_chat_settings.txt";
// Where a settings file that did not load whole is kept before it is replaced.
inline constexpr const char* PERSONAL_SETTINGS_BACKUP_FILE = "personal_chat_settings.txt.bak";

// An ordered table from citizen number to value; a missing key counts as 0.
class SettingsTable {
public:
    // The value, or nullptr when the key is missing; inserts nothing.
    const int* find(int citizen) const {
        auto found = values_.find(citizen);
        return found == values_.end() ? nullptr : &found->second;
    }
    // The value, 0 when the key is missing; inserts nothing.
    int valueOr0(int citizen) const {
        const int* value = find(citizen);
        return value == nullptr ? 0 : *value;
    }
    // The value, inserting the key with 0 when it is missing.
    int& getOrInsert(int citizen) { return values_[citizen]; }
    const std::map<int, int>& entries() const { return values_; }

private:
    std::map<int, int> values_;
};

struct PersonalSettingsTables {
    SettingsTable red;
    SettingsTable green;
    SettingsTable blue;
    // 0 global chat on, 1 off. Its keys are the users the file holds.
    SettingsTable globalOff;
};

extern PersonalSettingsTables PersonalSettings;

void resetPersonalSettings();

// Fills the tables from the file. A missing file leaves them empty; a blank
// line or a short last record ends the load there; non-numbers load as -1.
// When that leaves part of the file unloaded, standard error says so and the
// first save keeps the file as PERSONAL_SETTINGS_BACKUP_FILE.
void loadPersonalSettings();

// Writes the whole file. The new content replaces the old one at once (a
// temporary file renamed over it), so the file always holds a complete old or
// new content. A save that cannot write leaves the old file; the operator is
// told on standard error, once until saving works again.
void savePersonalSettings();

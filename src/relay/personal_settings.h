#pragma once

// Each user's relay color and global-chat switch, keyed by citizen number and
// kept in personal_chat_settings.txt as five-line records (citizen, globalOff,
// red, green, blue), in ascending order of citizen number.

#include <map>
#include <unordered_map>

inline constexpr const char* PERSONAL_SETTINGS_FILE = "personal_chat_settings.txt";
// Where a settings file that did not load whole is kept before it is replaced.
inline constexpr const char* PERSONAL_SETTINGS_BACKUP_FILE = "personal_chat_settings.txt.bak";

// An ordered table from citizen number to value; a missing key counts as 0.
// The relay looks a receiver up for every line it relays, so a table also
// keeps a hashed index to its entries (a map's entries stay in place).
class SettingsTable {
  public:
    SettingsTable() = default;
    SettingsTable(const SettingsTable& other) : values_(other.values_) { reindex(); }
    SettingsTable& operator=(const SettingsTable& other) {
        values_ = other.values_;
        reindex();
        return *this;
    }
    SettingsTable(SettingsTable&&) = default;
    SettingsTable& operator=(SettingsTable&&) = default;

    // The value, or nullptr when the key is missing; inserts nothing.
    const int* find(int citizen) const {
        auto found = index_.find(citizen);
        return found == index_.end() ? nullptr : found->second;
    }
    // The value, 0 when the key is missing; inserts nothing.
    int valueOr0(int citizen) const {
        const int* value = find(citizen);
        return value == nullptr ? 0 : *value;
    }
    // The value, inserting the key with 0 when it is missing.
    int& getOrInsert(int citizen) {
        int& value = values_[citizen];
        index_.emplace(citizen, &value);
        return value;
    }
    const std::map<int, int>& entries() const { return values_; }

  private:
    void reindex() {
        index_.clear();
        for (auto& [citizen, value] : values_) {
            index_.emplace(citizen, &value);
        }
    }

    std::map<int, int> values_;
    std::unordered_map<int, int*> index_;  // into values_
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

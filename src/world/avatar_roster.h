#pragma once

// The avatars sharing the world with the bot, kept by the presence handlers as
// six parallel lists: one index is one avatar in all of them. Entries stand in
// order of arrival; no two hold the same session number.

#include <string>
#include <vector>

struct AvatarRosterLists {
    std::vector<int> sessions;
    std::vector<std::string> names;  // the bot's own copy of the bytes the SDK gave
    std::vector<int> x;
    std::vector<int> y;
    std::vector<int> z;
    std::vector<int> citizens;

    int size() const { return static_cast<int>(sessions.size()); }
};

extern AvatarRosterLists AvatarRoster;

void resetAvatarRoster();

// Index of the entry with this session number (the last match), -1 when none.
// An index stays valid until the next SdkProcessEvents.
int indexOfSession(int session);

// Event handlers: arrival (0), move (1), departure (2).
void onAvatarArrived();
void onAvatarMoved();
void onAvatarLeft();

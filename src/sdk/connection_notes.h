#pragma once

// What the network backend notes of its connection beyond the SDK's events,
// for the program to show (a service manager's status line, say), and how
// it tells a reconnection that the world refused for the bot's account.

#include <ctime>

struct ConnectionNotesState {
    // Losses recovered since the program started, and the wall-clock time of
    // the last recovery (0 before any).
    int reconnections = 0;
    std::time_t lastReconnection = 0;
    // False from a loss until the bot stands in the world again.
    bool connected = true;
};

extern ConnectionNotesState ConnectionNotes;

void resetConnectionNotes();

// Told when a reconnection is refused for the account (its citizen number or
// password): `first` for the first refusal of a run of them, otherwise a
// reminder after `attempts` refusals. The program installs words of its own
// (naming its account file); nullptr restores the backend's.
using AccountRefusalNotice = void (*)(int reason, bool first, int attempts);
void setAccountRefusalNotice(AccountRefusalNotice notice);
AccountRefusalNotice accountRefusalNotice();

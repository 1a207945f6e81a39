#pragma once

// What the bot tells its service manager (platform/service_manager.h) and
// shows in its console window's title: READY once it stands in the world, a
// status line kept current (the world, the avatars present, the lines heard
// and relayed, the last reconnection), and the watchdog's "still alive"
// from the main loop at the interval the manager asks, so that a bot that
// hangs is restarted. Nothing of it reaches standard output or the files.

#include <string>

struct ServiceStatusState {
    std::string world;           // the world entered (Windows-1251), empty before
    long long linesHeard = 0;    // said and broadcast lines the bot heard
    long long linesRelayed = 0;  // lines relayed to at least one avatar
    bool ready = false;          // READY was said
    long long nextWatchdogMs = 0;
    long long nextStatusMs = 0;
    std::string shownStatus;  // the status line last sent
};

extern ServiceStatusState ServiceStatus;

void resetServiceStatus();

// Refreshed at most this often, when something in it changed.
inline constexpr long long STATUS_REFRESH_MS = 1000;

void noteWorldEntered(const std::string& world);
void noteLineHeard();
void noteLineRelayed();

// The status line in UTF-8, such as "В мире welcome; аватаров: 3; строк
// услышано: 10, передано: 9; переподключений не было".
std::string serviceStatusLine();

// Says READY with the first status line; once the bot stands in the world.
void announceReady();
// Called every turn of the main loop: the watchdog's "still alive" when it
// is due, and the status line when it changed. Cheap when nothing is due.
void keepServiceInformed();

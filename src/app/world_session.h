#pragma once

// Brings the bot into the world: SDK initialisation, event handlers, instance,
// login, world entry and placement.

inline constexpr const char* BOT_NAME = "Tintbeacon";
inline constexpr const char* APPLICATION_NAME = "SDK Sample Application #1";
inline constexpr const char* FALLBACK_WORLD = "welcome";
inline constexpr int PLACEMENT_HEADING = 500;
inline constexpr int PLACEMENT_GESTURE = 0;

// Delays between login attempts that failed on the way to the world (no
// connection, no answer in time, a lost connection, a broken protocol, a full
// server): doubling from the first to the longest.
inline constexpr int FIRST_LOGIN_RETRY_MS = 100;
inline constexpr int MAX_LOGIN_RETRY_MS = 2000;

// Returns once the bot has been placed, or the placement fallback has been
// tried. Asks the operator for the account again until initialisation and
// login succeed; a login that failed on the way to the world is retried with
// the same account after a delay instead. Ends the program with status 1 when
// the instance cannot be created.
void openWorldSession();

// How the bot waits between login attempts; tests put a recorder in place of
// the real sleep. nullptr restores the sleep.
using LoginRetryWait = void (*)(int milliseconds);
void setLoginRetryWait(LoginRetryWait wait);

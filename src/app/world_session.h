#pragma once

// Brings the bot into the world: SDK initialisation, event handlers, instance,
// login, world entry and placement.

inline constexpr const char* BOT_NAME = "Tintbeacon";
inline constexpr const char* APPLICATION_NAME = "SDK Sample Application #1";
inline constexpr const char* FALLBACK_WORLD = "welcome";
inline constexpr int PLACEMENT_HEADING = 500;
inline constexpr int PLACEMENT_GESTURE = 0;

// Returns once the bot has been placed, or the placement fallback has been
// tried. Asks the operator for the account again until initialisation and
// login succeed. Ends the program with status 1 when the instance cannot be
// created.
void openWorldSession();

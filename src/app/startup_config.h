#pragma once

// The values gathered at start-up, kept for the whole run.

#include <string>

inline constexpr const char* DEFAULT_SERVER_ADDRESS = "127.0.0.1";
inline constexpr const char* DEFAULT_PORT = "6670";
inline constexpr double DEFAULT_BRIGHTNESS_LIMIT = 0.4;
inline constexpr const char* DEFAULT_BRIGHTNESS_TEXT = "0.4";

struct StartupValues {
    std::string serverAddress = DEFAULT_SERVER_ADDRESS;
    std::string port = DEFAULT_PORT;
    std::string worldName;
    std::string coordinates;        // may become "0S 0W" when entry or placement fails
    bool entryPointFromFile = false;
    std::string citizenNumber;      // as read or typed, never validated
    std::string privilegePassword;  // as read or typed, never validated
    bool colorsAllowed = false;
    double brightnessLimit = DEFAULT_BRIGHTNESS_LIMIT;
    // The coefficient as it was typed or read, written back when the account
    // is saved again.
    std::string brightnessText = DEFAULT_BRIGHTNESS_TEXT;
};

extern StartupValues StartupConfig;

void resetStartupConfig();

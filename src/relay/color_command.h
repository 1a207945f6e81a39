#pragma once

// The color command: "!color <name>" (also "!col", "!c") with a name from the
// color table, or three components 0 to 255 within the brightness limit.

#include <array>
#include <string>

struct ColorEntry {
    const char* word;       // lower case, as typed after the command word
    const char* replyName;  // as shown in the confirmation
    int red;
    int green;
    int blue;
};

extern const std::array<ColorEntry, 44> ColorTable;

// Sets the speaker's color from the line and confirms it in the new color.
// Returns 1 when a color was set, 0 when the line is no valid color command,
// -1 when the components fail the brightness limit; 0 and -1 change nothing.
int handleColorCommand(int speaker, std::string line);

#include "relay/color_command.h"

#include <cmath>
#include <vector>

#include "app/number_text.h"
#include "app/startup_config.h"
#include "relay/console_line.h"
#include "relay/personal_settings.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"

const std::array<ColorEntry, 44> ColorTable = {{
    {"aqua", "aqua", 0, 255, 255},
    {"black", "black", 0, 0, 0},
    {"blue", "blue", 0, 0, 255},
    {"magenta", "magenta", 255, 0, 255},
    {"orange", "orange", 255, 165, 0},
    {"gray", "gray", 128, 128, 128},
    {"green", "green", 0, 128, 0},
    {"lime", "lime", 0, 255, 0},
    {"maroon", "maroon", 128, 0, 0},
    {"navy", "navy", 0, 0, 128},
    {"olive", "olive", 128, 128, 0},
    {"purple", "purple", 128, 0, 128},
    {"red", "red", 255, 0, 0},
    {"silver", "silver", 192, 192, 192},
    {"teal", "teal", 0, 128, 128},
    {"yellow", "yellow", 255, 255, 0},
    {"darkred", "DarkRed", 139, 0, 0},
    {"deeppink", "DeepPink", 255, 20, 147},
    {"violet", "Violet", 238, 130, 238},
    {"blueviolet", "BlueViolet", 138, 43, 226},
    {"darkviolet", "DarkViolet", 148, 0, 211},
    {"darkmagenta", "DarkMagenta", 139, 0, 139},
    {"indigo", "Indigo", 75, 0, 130},
    {"tomato", "Tomato", 255, 99, 71},
    {"coral", "Coral", 255, 127, 80},
    {"gold", "Gold", 255, 115, 0},
    {"orangered", "OrangeRed", 255, 69, 0},
    {"darkorange", "DarkOrange", 255, 140, 0},
    {"limegreen", "LimeGreen", 50, 205, 50},
    {"seagreen", "SeaGreen", 46, 139, 87},
    {"darkolivegreen", "DarkOliveGreen", 85, 107, 47},
    {"cyan", "Cyan", 0, 255, 255},
    {"darkcyan", "DarkCyan", 0, 139, 139},
    {"steelblue", "SteelBlue", 70, 130, 180},
    {"royalblue", "RoyalBlue", 65, 105, 255},
    {"darkblue", "DarkBlue", 0, 0, 139},
    {"rosybrown", "RosyBrown", 188, 143, 143},
    {"sandybrown", "SandyBrown", 244, 164, 96},
    {"goldenrod", "Goldenrod", 218, 165, 32},
    {"chocolate", "Chocolate", 210, 105, 30},
    {"peru", "Peru", 205, 133, 63},
    {"darkgoldenrod", "DarkGoldenrod", 184, 134, 11},
    {"brown", "Brown", 165, 42, 42},
    {"saddlebrown", "SaddleBrown", 139, 69, 19},
}};

namespace {

const ColorEntry* namedColor(const std::string& line) {
    for (const ColorEntry& entry : ColorTable) {
        for (const char* command : {"!color ", "!col ", "!c "}) {
            if (equalsIgnoreCase(line, command + std::string(entry.word))) {
                return &entry;
            }
        }
    }
    return nullptr;
}

// The three words after the first three spaces, when there are exactly three
// spaces and no word is empty.
bool componentWords(const std::string& line, std::string words[3]) {
    std::vector<std::size_t> spaces;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ' ') {
            spaces.push_back(i);
        }
    }
    if (spaces.size() != 3) {
        return false;
    }
    words[0] = line.substr(spaces[0] + 1, spaces[1] - spaces[0] - 1);
    words[1] = line.substr(spaces[1] + 1, spaces[2] - spaces[1] - 1);
    words[2] = line.substr(spaces[2] + 1);
    return !words[0].empty() && !words[1].empty() && !words[2].empty();
}

bool readableOnWhite(Rgb color) {
    double luminance = (color.green * 0.587 + color.red * 0.299 + color.blue * 0.114) / 255.0;
    return std::fabs(1.0 - luminance) >= StartupConfig.brightnessLimit;
}

}  // namespace

int handleColorCommand(int speaker, std::string line) {
    Rgb color;
    std::string confirmation = ru("для ваших сообщений установлен цвет ");
    if (const ColorEntry* entry = namedColor(line)) {
        color = Rgb{entry->red, entry->green, entry->blue};
        confirmation += entry->replyName;
    } else {
        std::string words[3];
        if (!componentWords(line, words)) {
            return 0;
        }
        color = Rgb{textToInt(words[0]), textToInt(words[1]), textToInt(words[2])};
        for (int component : {color.red, color.green, color.blue}) {
            if (component < 0 || component > 255) {
                return 0;
            }
        }
        if (!readableOnWhite(color)) {
            return -1;
        }
        confirmation += "rgb";
    }
    const int citizen = AvatarRoster.citizens[speaker];
    PersonalSettings.red.getOrInsert(citizen) = color.red;
    PersonalSettings.green.getOrInsert(citizen) = color.green;
    PersonalSettings.blue.getOrInsert(citizen) = color.blue;
    PersonalSettings.globalOff.getOrInsert(citizen);  // a new user starts with global chat on
    sendConsoleLine(AvatarRoster.sessions[speaker], color, confirmation);
    return 1;
}

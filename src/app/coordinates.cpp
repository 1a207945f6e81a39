#include "app/coordinates.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace {

// Reads the number at the start of the text as a double, as formatted stream
// extraction does; nothing when no number is there.
std::optional<double> leadingReal(const std::string& text) {
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    double value = 0.0;
    if (!(stream >> value)) {
        return std::nullopt;
    }
    return value;
}

// A north-south or east-west number must begin, after white space, with an
// optional sign and a digit, and must read as a 32-bit integer.
bool isIntegerLed(const std::string& text) {
    std::size_t i = 0;
    // The classic locale's classes, as the stream below reads them: under a
    // Russian code page the C library takes 0xA0 for a space.
    const std::locale& classic = std::locale::classic();
    while (i < text.size() && std::isspace(text[i], classic)) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    if (i >= text.size() || !std::isdigit(text[i], classic)) {
        return false;
    }
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    std::int32_t whole = 0;
    return static_cast<bool>(stream >> whole);
}

// Scales a number to position units, truncated toward zero; nothing when the
// result does not fit 32 bits. The range is kept symmetric so that the value
// can be negated for the south and east halves.
std::optional<std::int32_t> toPositionUnits(double value) {
    double scaled = std::trunc(value * COORDINATE_SCALE);
    if (!(scaled >= -2147483647.0 && scaled <= 2147483647.0)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(scaled);
}

// A text such as "2e" leads with an integer but does not read as a real
// number (an exponent without digits): it names no position, so it is
// malformed like a text with no number at all.
std::optional<std::int32_t> axisValue(const std::string& number) {
    if (!isIntegerLed(number)) {
        return std::nullopt;
    }
    std::optional<double> value = leadingReal(number);
    if (!value) {
        return std::nullopt;
    }
    return toPositionUnits(*value);
}

// Position units as thousands: "60", "60.5", "0.125" (no sign).
std::string thousands(std::int64_t units) {
    const std::uint64_t magnitude =
        units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    std::string text = std::to_string(magnitude / 1000);
    if (const std::uint64_t fraction = magnitude % 1000; fraction != 0) {
        std::string digits = std::to_string(1000 + fraction).substr(1);
        digits.erase(digits.find_last_not_of('0') + 1);
        text += "." + digits;
    }
    return text;
}

}  // namespace

std::string coordinatesText(std::int64_t northSouth, std::int64_t eastWest, std::int64_t altitude) {
    std::string text = thousands(northSouth) + (northSouth < 0 ? "S " : "N ") +
                       thousands(eastWest) + (eastWest < 0 ? "E" : "W");
    if (altitude != 0) {
        text += std::string(" ") + (altitude < 0 ? "-" : "") + thousands(altitude) + "a";
    }
    return text;
}

std::string coordinatesText(const Position& position) {
    return coordinatesText(position.northSouth, position.eastWest, position.altitude);
}

std::optional<Position> parseCoordinates(const std::string& text) {
    bool north = false;
    bool west = false;
    std::size_t northSouthAt = 0;
    std::size_t eastWestAt = 0;
    std::size_t altitudeAt = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == 'N' || c == 'n') north = true;
        if (c == 'W' || c == 'w') west = true;
        if (c == 'N' || c == 'n' || c == 'S' || c == 's') northSouthAt = i;
        if (c == 'W' || c == 'w' || c == 'E' || c == 'e') eastWestAt = i;
        if (c == 'a') altitudeAt = i;
    }
    // Position 0 stands for "not found", so a letter there does not count.
    if (northSouthAt == 0 || eastWestAt == 0 || eastWestAt <= northSouthAt + 1) {
        return std::nullopt;
    }
    // The one character right after the north-south letter is the separator.
    auto northSouth = axisValue(text.substr(0, northSouthAt));
    auto eastWest = axisValue(text.substr(northSouthAt + 2, eastWestAt - northSouthAt - 2));
    if (!northSouth || !eastWest) {
        return std::nullopt;
    }
    Position position;
    position.northSouth = north ? *northSouth : -*northSouth;
    position.eastWest = west ? *eastWest : -*eastWest;
    if (altitudeAt > northSouthAt && altitudeAt > eastWestAt + 1) {
        auto number = leadingReal(text.substr(eastWestAt + 2, altitudeAt - eastWestAt - 2));
        if (number) {
            auto altitude = toPositionUnits(*number);
            if (!altitude) {
                return std::nullopt;
            }
            position.altitude = *altitude;
        }
    }
    return position;
}

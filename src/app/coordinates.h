#pragma once

// The entry coordinates text: "142N 71E", "50S 10W 1a". Numbers are in
// thousands of position units and may carry a sign and a decimal part.

#include <cstdint>
#include <optional>
#include <string>

inline constexpr double COORDINATE_SCALE = 1000.0;
inline constexpr const char* FALLBACK_COORDINATES = "0S 0W";

struct Position {
    std::int32_t eastWest = 0;    // west positive
    std::int32_t altitude = 0;
    std::int32_t northSouth = 0;  // north positive

    bool operator==(const Position&) const = default;
};

// Returns the position the text names, or nothing when the text is malformed:
// a north-south or east-west letter missing (or only at position 0), the
// east-west letter not at least two places after the north-south one, a
// north-south or east-west number that does not start with a digit (after
// white space and a sign) or does not fit 32 bits, or any number whose value
// in position units does not fit 32 bits.
std::optional<Position> parseCoordinates(const std::string& text);

// The coordinates text of a place, in the form parseCoordinates reads: the
// north-south and east-west numbers with their letters, then the altitude
// with "a" when it is not 0 ("60N 60W", "0.5S 10.25E -1a"). Values are in
// position units (64 bits, so that a difference of two positions fits).
std::string coordinatesText(std::int64_t northSouth, std::int64_t eastWest, std::int64_t altitude);
std::string coordinatesText(const Position& position);

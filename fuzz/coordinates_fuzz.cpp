// Fuzz target: the entry coordinates parser. Any text gives a position or
// nothing; a position never holds the one value that cannot be negated.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "app/coordinates.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::optional<Position> position = parseCoordinates(text);
    if (position) {
        constexpr std::int32_t UNNEGATABLE = std::numeric_limits<std::int32_t>::min();
        FUZZ_CHECK(position->eastWest != UNNEGATABLE && position->northSouth != UNNEGATABLE &&
                   position->altitude != UNNEGATABLE);
    }
    return 0;
}

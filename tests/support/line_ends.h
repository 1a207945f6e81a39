#pragma once

// The bytes the bot writes for text given with '\n' line ends: each '\n'
// becomes the platform's line end (CR LF on Windows, LF elsewhere).

#include <string>
#include <string_view>

#include "platform/line_end.h"

inline std::string withLineEnds(std::string_view text) {
    std::string bytes;
    for (char c : text) {
        if (c == '\n') {
            bytes += LINE_END;
        } else {
            bytes += c;
        }
    }
    return bytes;
}

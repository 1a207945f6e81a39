#pragma once

// The live map's page: one HTML document with its script and style inline,
// built into the program from live_map.html.

#include <string_view>

std::string_view mapPageHtml();

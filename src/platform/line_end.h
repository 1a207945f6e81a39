#pragma once

// The line end of the text files the bot writes (the configuration files,
// the personal settings and the chat log): the platform's text-mode line
// end, CR LF on Windows and LF elsewhere. Every reader of those files accepts
// both, whatever the platform.

#include <string_view>

extern const std::string_view LINE_END;

#pragma once

// How the avatar client shows what the world sends: a readable line for a
// person, or a JSON object for a script.

#include <optional>
#include <string>

#include "console/operator_console.h"
#include "protocol/wire_message.h"

struct ViewStyle {
    TerminalEncoding encoding = TerminalEncoding::Utf8;
    bool colored = false;  // 24-bit colors for console messages
};

// The line to print for an event, or nothing for events a person need not
// see (moves).
std::optional<std::string> humanEventLine(const wire::Message& event, const ViewStyle& style);

// The JSON object for an event (every event has one).
std::string jsonEventLine(const wire::Message& event);

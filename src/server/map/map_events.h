#pragma once

// The live map's events: small JSON objects, one per change in the world,
// sent to the page as Server-Sent Events. Texts and names come from the world
// in Windows-1251 and leave as UTF-8 JSON strings; every byte that could end
// a string, a line or an HTML context is escaped, so an event is one line of
// plain ASCII-safe JSON whatever a name or a text holds.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/world_observer.h"

// A Windows-1251 text as a quoted JSON string of UTF-8: quotes, backslashes
// and control bytes escaped, and '<', '>', '&' as \u escapes too.
std::string jsonText(std::string_view cp1251);

// {"type":"hello","worlds":[...],"range":N}: what a page needs before the rest.
std::string helloEvent(const std::vector<std::string>& worlds, int hearingRange);
// {"type":"ready"}: every avatar present has been told; later events are news.
std::string readyEvent();
std::string arrivedEvent(const ObservedAvatar& avatar);
std::string movedEvent(int session, int x, int y, int z);
std::string leftEvent(int session);
std::string saidEvent(int session, std::string_view text);
// A console message from `sender`; `speaker` is the session whose said line it
// carries, 0 when it carries none (the bot's own replies).
std::string consoleEvent(int sender, int speaker, std::uint8_t red, std::uint8_t green,
                         std::uint8_t blue, std::string_view text,
                         const std::vector<int>& receivers);

// One Server-Sent Event carrying the JSON (which holds no line end).
std::string sseFrame(std::string_view json);

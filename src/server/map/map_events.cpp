#include "server/map/map_events.h"

#include <cstdio>

#include "text/cp1251.h"

namespace {

void appendEscaped(std::string& out, std::string_view utf8) {
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || c == '<' || c == '>' || c == '&' || byte == 0x7f) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
}

std::string position(int x, int y, int z) {
    return ",\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) +
           ",\"z\":" + std::to_string(z);
}

}  // namespace

std::string jsonText(std::string_view cp1251) {
    std::string out = "\"";
    appendEscaped(out, cp1251ToUtf8(cp1251));
    out += '"';
    return out;
}

// GCC 12 at -O3 warns that the string concatenation below may overlap in a
// memcpy with an impossible length (-Wrestrict, its bug 105329): a false alarm
// of the inlined std::string code, silenced for this one function. Clang has
// no such warning and would complain of the unknown name.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
std::string helloEvent(const std::vector<std::string>& worlds, int hearingRange) {
    std::string out = "{\"type\":\"hello\",\"worlds\":[";
    for (std::size_t i = 0; i < worlds.size(); ++i) {
        out += (i == 0 ? "" : ",") + jsonText(worlds[i]);
    }
    return out + "],\"range\":" + std::to_string(hearingRange) + "}";
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

std::string readyEvent() {
    return "{\"type\":\"ready\"}";
}

std::string arrivedEvent(const ObservedAvatar& avatar) {
    return "{\"type\":\"arrived\",\"session\":" + std::to_string(avatar.session) +
           ",\"citizen\":" + std::to_string(avatar.citizen) +
           ",\"bot\":" + (avatar.bot ? "true" : "false") + ",\"name\":" + jsonText(avatar.name) +
           ",\"world\":" + jsonText(avatar.world) + position(avatar.x, avatar.y, avatar.z) + "}";
}

std::string movedEvent(int session, int x, int y, int z) {
    return "{\"type\":\"moved\",\"session\":" + std::to_string(session) + position(x, y, z) + "}";
}

std::string leftEvent(int session) {
    return "{\"type\":\"left\",\"session\":" + std::to_string(session) + "}";
}

std::string saidEvent(int session, std::string_view text) {
    return "{\"type\":\"said\",\"session\":" + std::to_string(session) +
           ",\"text\":" + jsonText(text) + "}";
}

std::string consoleEvent(int sender, int speaker, std::uint8_t red, std::uint8_t green,
                         std::uint8_t blue, std::string_view text,
                         const std::vector<int>& receivers) {
    std::string out = "{\"type\":\"console\",\"sender\":" + std::to_string(sender) +
                      ",\"speaker\":" + std::to_string(speaker) + ",\"rgb\":[" +
                      std::to_string(red) + "," + std::to_string(green) + "," +
                      std::to_string(blue) + "],\"text\":" + jsonText(text) + ",\"to\":[";
    out.reserve(out.size() + receivers.size() * 6 + 2);
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        out += std::to_string(receivers[i]);
    }
    return out + "]}";
}

std::string sseFrame(std::string_view json) {
    std::string out;
    out.reserve(json.size() + 8);
    out += "data: ";
    out += json;
    out += "\n\n";
    return out;
}

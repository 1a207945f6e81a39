#include "avatar/json_line.h"

#include <cstdio>

#include "text/cp1251.h"

std::string jsonEscape(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    for (char c : utf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void JsonLine::key(const std::string& name) {
    if (!body_.empty()) {
        body_ += ',';
    }
    body_ += '"' + jsonEscape(name) + "\":";
}

JsonLine& JsonLine::field(const std::string& name, std::int64_t value) {
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::field(const std::string& name, const std::string& cp1251) {
    key(name);
    body_ += '"' + jsonEscape(cp1251ToUtf8(cp1251)) + '"';
    return *this;
}

JsonLine& JsonLine::flag(const std::string& name, bool value) {
    key(name);
    body_ += value ? "true" : "false";
    return *this;
}

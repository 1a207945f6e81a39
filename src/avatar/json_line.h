#pragma once

// One JSON object on one line, for the avatar client's scripted mode. Texts
// from the world are Windows-1251 and are written as UTF-8 JSON strings.

#include <cstdint>
#include <string>

class JsonLine {
public:
    JsonLine& field(const std::string& name, std::int64_t value);
    // A Windows-1251 text, converted to UTF-8 and escaped.
    JsonLine& field(const std::string& name, const std::string& cp1251);
    JsonLine& field(const std::string& name, const char* cp1251) {
        return field(name, std::string(cp1251));
    }
    JsonLine& flag(const std::string& name, bool value);
    // The object, without a line end.
    std::string str() const { return body_.empty() ? "{}" : "{" + body_ + "}"; }

private:
    void key(const std::string& name);
    std::string body_;
};

// Escapes UTF-8 text as the inside of a JSON string.
std::string jsonEscape(const std::string& utf8);

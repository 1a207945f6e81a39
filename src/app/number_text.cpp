#include "app/number_text.h"

#include <climits>
#include <cstdlib>
#include <locale>
#include <sstream>

namespace {

bool isPlainZero(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char expected = i == 1 ? '.' : '0';
        if (text[i] != expected) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::int32_t textToInt(const std::string& text) {
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    std::int32_t value = 0;
    if (!(stream >> value)) {
        value = 0;
    }
    if (value == 0 && text != "0") {
        return -1;
    }
    return value;
}

double textToReal(const std::string& text) {
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    double value = 0.0;
    if (!(stream >> value)) {
        value = 0.0;
    }
    if (value == 0.0 && !isPlainZero(text)) {
        return -1.0;
    }
    return value;
}

std::int32_t leadingInt(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<std::int32_t>(value);
}

#include "app/number_text.h"

#include <algorithm>
#include <climits>
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

// By hand rather than with strtol, whose white space follows the C locale.
std::int32_t leadingInt(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos) {
        return 0;
    }
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') {
        ++i;
    }
    long long value = 0;  // the magnitude, held within INT_MAX + 1
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(std::min(value, static_cast<long long>(INT_MAX)));
}

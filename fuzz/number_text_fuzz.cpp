// Fuzz target: the text-to-number conversions, each checked against an
// independent reading of its contract (app/number_text.h), so that a change
// of implementation that reads some text differently is a finding.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "app/number_text.h"
#include "fuzz_check.h"

namespace {

bool isClassicSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The signed decimal at the start of the text (after white space), saturated
// to the 64-bit range; nothing when no digit follows the sign. Stops at a NUL
// when asked, as the C library's readers do.
std::optional<long long> leadingDecimal(const std::string& text, bool stopAtNul) {
    std::size_t end = stopAtNul ? text.find('\0') : std::string::npos;
    std::size_t size = end == std::string::npos ? text.size() : end;
    std::size_t i = 0;
    while (i < size && isClassicSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= size || !isDigit(text[i])) {
        return std::nullopt;
    }
    constexpr long long LIMIT = 1LL << 40;  // far beyond 32 bits, far below 64
    long long magnitude = 0;
    for (; i < size && isDigit(text[i]); ++i) {
        magnitude = std::min(LIMIT, magnitude * 10 + (text[i] - '0'));
    }
    return negative ? -magnitude : magnitude;
}

std::int32_t expectedTextToInt(const std::string& text) {
    std::optional<long long> read = leadingDecimal(text, false);
    long long value = 0;
    if (read && *read >= std::numeric_limits<std::int32_t>::min() &&
        *read <= std::numeric_limits<std::int32_t>::max()) {
        value = *read;
    }
    return value == 0 && text != "0" ? -1 : static_cast<std::int32_t>(value);
}

std::int32_t expectedLeadingInt(const std::string& text) {
    long long value = leadingDecimal(text, true).value_or(0);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

// "", or "0" optionally followed by "." and zeros.
bool isPlainZero(const std::string& text) {
    if (text.empty()) {
        return true;
    }
    if (text[0] != '0' || (text.size() > 1 && text[1] != '.')) {
        return false;
    }
    return text.find_first_not_of('0', 2) == std::string::npos;
}

// The characters formatted extraction of a double takes from the start of
// the text: white space skipped, a sign, digits with at most one point, and
// an exponent (its letter only after a digit, then an optional sign and
// digits). The whole of them must read as a finite number.
std::optional<double> extractedReal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isClassicSpace(text[i])) {
        ++i;
    }
    std::string taken;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        taken += text[i++];
    }
    bool point = false, exponent = false, digits = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (isDigit(c)) {
            taken += c;
            digits = true;
        } else if (c == '.' && !point && !exponent) {
            taken += c;
            point = true;
        } else if ((c == 'e' || c == 'E') && !exponent && digits) {
            taken += 'e';
            exponent = true;
            if (i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-')) {
                taken += text[++i];
            }
        } else {
            break;
        }
    }
    if (taken.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    double value = std::strtod(taken.c_str(), &end);
    if (end != taken.c_str() + taken.size() || std::isinf(value)) {
        return std::nullopt;
    }
    return value;
}

double expectedTextToReal(const std::string& text) {
    double value = extractedReal(text).value_or(0.0);
    return value == 0.0 && !isPlainZero(text) ? -1.0 : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(textToInt(text) == expectedTextToInt(text));
    FUZZ_CHECK(leadingInt(text) == expectedLeadingInt(text));
    const double real = textToReal(text);
    const double expected = expectedTextToReal(text);
    // Both come from the same strtod call on the same characters, so they
    // agree to the bit; -0.0 and 0.0 compare equal, which the contract allows.
    FUZZ_CHECK(real == expected && !std::isnan(real));
    return 0;
}

#pragma once

// Text-to-number conversions shared by every number the bot reads from a file
// or from a user.

#include <cstdint>
#include <string>

// Reads a decimal integer from the start of the text as formatted stream
// extraction does (white space skipped, optional sign, digits, the rest
// ignored). A text that yields no 32-bit integer gives 0, and a 0 from any text
// other than exactly "0" gives -1: "00", "-0", "" and "abc" all give -1.
std::int32_t textToInt(const std::string& text);

// Reads a real number from the start of the text with "." as the decimal point
// whatever the locale (white space skipped, optional sign and exponent, the
// rest ignored). A 0.0 from a text that is not a plain zero ("", "0", "0.",
// "0.000") gives -1.0, so "abc", "00", "-0", " 0" and "0,5" give -1.0.
double textToReal(const std::string& text);

// Reads the leading integer the way the C library's atoi does in the C locale
// (ASCII white space skipped, optional sign, digits, the rest ignored; 0
// without digits), whatever the process locale, but clamps values beyond 32
// bits instead of leaving them undefined.
std::int32_t leadingInt(const std::string& text);

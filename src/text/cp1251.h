#pragma once

// Conversions between Windows-1251, the code page of every text the bot keeps
// or sends, and UTF-8, the usual encoding of the operator's terminal.

#include <string>
#include <string_view>

// Converts Windows-1251 bytes to UTF-8. The one byte that Windows-1251 leaves
// undefined (0x98) becomes U+FFFD, so the result is always valid UTF-8.
std::string cp1251ToUtf8(std::string_view cp1251);

// Converts UTF-8 to Windows-1251. A character that Windows-1251 cannot hold,
// and every byte of a malformed UTF-8 sequence, becomes '?'.
std::string utf8ToCp1251(std::string_view utf8);

// The program's own Russian texts are written in the source as UTF-8; this
// gives their Windows-1251 bytes.
inline std::string ru(std::string_view utf8) { return utf8ToCp1251(utf8); }

// Lower-cases one Windows-1251 character: Latin and Cyrillic capitals map to
// their small letters, every other byte is returned unchanged. The result does
// not depend on the process locale.
char cp1251ToLower(char c);

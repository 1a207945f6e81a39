#pragma once

// Reason codes in words, one table for every program: English for the world
// server's log and the avatar client, Russian for the bot's operator.

#include <string>

// English words for a reason code, such as "not allowed: the session lacks the
// right" for 18; a generic phrase for a code the table does not know. The
// pointer is to a static string.
const char* reasonWords(int code);

// The code and its English words, as logs and the avatar client show them:
// "18 (not allowed: the session lacks the right)".
std::string reasonWithWords(int code);

// Russian words for a reason code, as Windows-1251 bytes; a generic phrase for
// a code the table does not know.
std::string reasonWordsRussian(int code);

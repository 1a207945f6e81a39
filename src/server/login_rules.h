#pragma once

// Who may log in, and under what name: the rules of a Login that need
// nothing but the message, the world's configuration and how many tourists
// are in. Whether the connection has logged in already, and whether its
// address must wait after refused logins, are for the caller.

#include <cstddef>
#include <string>

#include "protocol/wire_message.h"
#include "server/server_config.h"

// 0 when the login is let in; else its reason code: a name that is empty,
// holds a control byte, starts like a bot's or like a line of the chat log
// (11), too long (10), unknown citizen or wrong password (14), a bot of a
// citizen not marked as one, or an avatar that asks to hear all (18), a
// tourist when only the places kept for bots and citizens are left (19).
int loginRefusal(const ServerConfig& config, const wire::Message& login, std::size_t tourists);

// The name in one letter case, ASCII and Windows-1251 Cyrillic alike, so
// that "Ann" and "ANN" are one name in a world.
std::string foldedName(const std::string& name);

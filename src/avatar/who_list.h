#pragma once

// What /who shows a person: each avatar present, where it stands in the
// coordinates form, how far it is from you on each axis, and whether it
// hears what you say directly or only through the relay bot.

#include <map>
#include <string>
#include <vector>

#include "app/coordinates.h"
#include "avatar/avatar_session.h"
#include "console/operator_console.h"

// How an avatar hears you: within `hearingRange` units on every axis it
// hears you directly; farther, only a relay bot (a name in brackets)
// present in the world passes your lines on.
enum class Hearing { Directly, ThroughTheBot, NotAtAll, IsABot };

Hearing hearingOf(const SeenAvatar& avatar, const Position& you, int hearingRange, bool botPresent);

// The lines of /who, in session order, in the terminal's encoding; the first
// says where you are. "nobody else is here" when the world is empty but you.
std::vector<std::string> whoLines(const std::map<int, SeenAvatar>& present, const Position& you,
                                  int hearingRange, TerminalEncoding encoding);

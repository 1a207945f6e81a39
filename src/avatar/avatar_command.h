#pragma once

// What a person or a script types into the avatar client. A line that does
// not begin with "/" is said; "//" at the start says a line beginning with "/".
//
//   /move 142N 71E       go to a position in the bot's coordinates form
//   /whisper NAME text   whisper to an avatar by name, or by #SESSION
//   /broadcast text      to the whole world (citizens only)
//   /who                 list who is present
//   /wait MS             let events arrive for a while (useful in scripts)
//   /help                list the commands
//   /quit                leave

#include <string>

#include "app/coordinates.h"

struct AvatarCommand {
    enum class Kind { Say, Move, Whisper, Broadcast, Who, Wait, Help, Quit, Nothing, Invalid };
    Kind kind = Kind::Nothing;
    std::string text;       // Say, Whisper, Broadcast; the reason for Invalid
    std::string target;     // Whisper: a name, or "#" and a session number
    Position position;      // Move
    int waitMs = 0;         // Wait
};

AvatarCommand parseAvatarCommand(const std::string& line);

// The lines /help prints.
const char* avatarCommandHelp();

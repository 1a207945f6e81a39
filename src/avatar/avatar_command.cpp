#include "avatar/avatar_command.h"

#include "app/number_text.h"

namespace {

using Kind = AvatarCommand::Kind;

AvatarCommand invalid(const std::string& reason) {
    AvatarCommand command;
    command.kind = Kind::Invalid;
    command.text = reason;
    return command;
}

AvatarCommand withText(Kind kind, const std::string& text) {
    AvatarCommand command;
    command.kind = kind;
    command.text = text;
    return command;
}

}  // namespace

AvatarCommand parseAvatarCommand(const std::string& line) {
    if (line.empty()) {
        return AvatarCommand{};
    }
    if (line[0] != '/') {
        return withText(Kind::Say, line);
    }
    if (line.rfind("//", 0) == 0) {
        return withText(Kind::Say, line.substr(1));
    }
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "/quit") return withText(Kind::Quit, "");
    if (word == "/who") return withText(Kind::Who, "");
    if (word == "/help") return withText(Kind::Help, "");
    if (word == "/broadcast") {
        return rest.empty() ? invalid("/broadcast needs a text") : withText(Kind::Broadcast, rest);
    }
    if (word == "/move") {
        auto position = parseCoordinates(rest);
        if (!position) {
            return invalid("/move needs coordinates such as 142N 71E or 50S 10W 1a");
        }
        AvatarCommand command;
        command.kind = Kind::Move;
        command.position = *position;
        return command;
    }
    if (word == "/whisper") {
        const std::size_t gap = rest.find(' ');
        if (rest.empty() || gap == 0 || gap == std::string::npos || gap + 1 >= rest.size()) {
            return invalid("/whisper needs a name (or #session) and a text");
        }
        AvatarCommand command = withText(Kind::Whisper, rest.substr(gap + 1));
        command.target = rest.substr(0, gap);
        return command;
    }
    if (word == "/wait") {
        const int ms = textToInt(rest);
        if (ms < 0 || ms > 600000) {
            return invalid("/wait needs milliseconds from 0 to 600000");
        }
        AvatarCommand command;
        command.kind = Kind::Wait;
        command.waitMs = ms;
        return command;
    }
    return invalid("unknown command " + word + " (try /help)");
}

const char* avatarCommandHelp() {
    return "Type a line to say it. Commands:\n"
           "  /move 142N 71E       go to a position (50S 10W 1a: with altitude)\n"
           "  /whisper NAME text   whisper to an avatar by name, or by #SESSION\n"
           "  /broadcast text      speak to the whole world (citizens only)\n"
           "  /who                 list who is present\n"
           "  /wait MS             let events arrive for a while\n"
           "  /quit                leave\n"
           "  //text               say a line that begins with /";
}

#include "avatar/who_list.h"

#include <cstdint>

#include "avatar/terminal_text.h"

namespace {

bool within(std::int64_t a, std::int64_t b, int range) {
    const std::int64_t difference = a - b;
    return difference <= range && difference >= -static_cast<std::int64_t>(range);
}

bool isBot(const SeenAvatar& avatar) {
    return !avatar.name.empty() && avatar.name[0] == '[';
}

const char* hearingWords(Hearing hearing) {
    switch (hearing) {
        case Hearing::Directly:
            return "hears you directly";
        case Hearing::ThroughTheBot:
            return "hears you through the bot";
        case Hearing::NotAtAll:
            return "out of hearing, and no bot is here to relay";
        case Hearing::IsABot:
            return "a bot";
    }
    return "";
}

}  // namespace

Hearing hearingOf(const SeenAvatar& avatar, const Position& you, int hearingRange,
                  bool botPresent) {
    if (isBot(avatar)) {
        return Hearing::IsABot;
    }
    if (within(avatar.x, you.eastWest, hearingRange) &&
        within(avatar.y, you.altitude, hearingRange) &&
        within(avatar.z, you.northSouth, hearingRange)) {
        return Hearing::Directly;
    }
    return botPresent ? Hearing::ThroughTheBot : Hearing::NotAtAll;
}

std::vector<std::string> whoLines(const std::map<int, SeenAvatar>& present, const Position& you,
                                  int hearingRange, TerminalEncoding encoding) {
    std::vector<std::string> lines{"  you are at " + coordinatesText(you)};
    bool botPresent = false;
    for (const auto& [session, avatar] : present) {
        botPresent = botPresent || isBot(avatar);
    }
    for (const auto& [session, avatar] : present) {
        const Position at{avatar.x, avatar.y, avatar.z};
        const std::string offset = coordinatesText(std::int64_t{avatar.z} - you.northSouth,
                                                   std::int64_t{avatar.x} - you.eastWest,
                                                   std::int64_t{avatar.y} - you.altitude);
        lines.push_back(
            "  #" + std::to_string(session) + " " + terminalText(avatar.name, encoding, false) +
            " at " + coordinatesText(at) + ", " + offset +
            " from you: " + hearingWords(hearingOf(avatar, you, hearingRange, botPresent)));
    }
    if (present.empty()) {
        lines.push_back("  nobody else is here");
    }
    return lines;
}

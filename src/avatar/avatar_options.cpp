#include "avatar/avatar_options.h"

#include <charconv>

#include "app/coordinates.h"
#include "cli/command_line.h"
#include "text/cp1251.h"

namespace {

template <typename Number>
bool parseNumber(const std::string& text, Number& value, Number low, Number high) {
    Number parsed{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc{} || end != text.data() + text.size() || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseServer(const std::string& text, std::string& address, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        return parseNumber(text, port, 1, 65535);
    }
    address = text.substr(0, colon);
    return !address.empty() && parseNumber(text.substr(colon + 1), port, 1, 65535);
}

}  // namespace

std::optional<AvatarOptions> parseAvatarOptions(const std::vector<std::string>& args,
                                                TerminalEncoding encoding, std::string& error) {
    AvatarOptions options;
    AvatarLogin& login = options.client.login;
    CrowdSettings& crowd = options.crowdSettings;
    login.name = "Guest";
    auto local = [encoding](const std::string& text) {
        return encoding == TerminalEncoding::Utf8 ? utf8ToCp1251(text) : text;
    };
    auto number = [](auto& target, auto low, auto high) {
        return [&target, low, high](const std::string& value) {
            return parseNumber(value, target, low, high);
        };
    };
    const std::vector<OptionEntry> entries = {
        {"server", true, "[ADDRESS:]PORT, a port from 1 to 65535",
         [&](const std::string& value) {
             const bool ok = parseServer(value, login.address, login.port);
             crowd.address = login.address;
             crowd.port = login.port;
             return ok;
         }},
        {"name", true, "a name, not empty",
         [&](const std::string& value) {
             login.name = local(value);
             return !value.empty();
         }},
        {"citizen", true, "a citizen number from 0 to 2147483647",
         number(login.citizen, 0, 2147483647)},
        {"password", true, "a password",
         [&](const std::string& value) {
             login.password = local(value);
             crowd.commanderPassword = login.password;
             return true;
         }},
        {"world", true, "a world name, not empty",
         [&](const std::string& value) {
             login.world = local(value);
             crowd.world = login.world;
             return !value.empty();
         }},
        {"at", true, "coordinates such as \"60N 60W\" or \"50S 10W 1a\"",
         [&](const std::string& value) {
             auto position = parseCoordinates(value);
             login.position = position.value_or(Position{});
             return position.has_value();
         }},
        {"hearing-range", true, "a number of units from 0 to 2147483647",
         number(options.client.hearingRange, 0, 2147483647)},
        {"script", false, "no value",
         [&](const std::string&) {
             options.client.scripted = true;
             return true;
         }},
        {"crowd", true, "a number of avatars from 1 to 100000",
         [&](const std::string& value) {
             options.crowd = true;
             return parseNumber(value, crowd.avatars, 1, 100000);
         }},
        {"rate", true, "lines per second from 0 to 100000",
         number(crowd.linesPerSecond, 0.0, 100000.0)},
        {"moves", true, "moves per second from 0 to 100000",
         number(crowd.movesPerSecond, 0.0, 100000.0)},
        {"seconds", true, "seconds from 0 to 86400", number(crowd.seconds, 0.0, 86400.0)},
        {"commanders", true, "a number from 0 to 100000", number(crowd.commanders, 0, 100000)},
        {"citizen-base", true, "a citizen number from 1 to 2000000000",
         number(crowd.citizenBase, 1, 2000000000)},
        {"seed", true, "a number from 0 to 4294967295", number(crowd.seed, 0u, 4294967295u)},
    };
    const auto request = parseCommandLine(args, entries, error);
    if (!request) {
        return std::nullopt;
    }
    options.help = *request == CommandLineRequest::Help;
    options.version = *request == CommandLineRequest::Version;
    return options;
}

const char* avatarUsage() {
    return "usage: tintbeacon-avatar [--server [ADDRESS:]PORT] [--name NAME] [--world NAME]\n"
           "                         [--at \"142N 71E\"] [--citizen N --password P] [--script]\n"
           "                         [--hearing-range UNITS]\n"
           "       tintbeacon-avatar --help | --version\n"
           "       tintbeacon-avatar --crowd N [--server [ADDRESS:]PORT] [--world NAME]\n"
           "                         [--rate LINES_PER_S] [--moves MOVES_PER_S] [--seconds S]\n"
           "                         [--commanders K --citizen-base B --password P] [--seed N]\n"
           "One avatar joins as a tourist (or a citizen with --citizen and --password); lines\n"
           "typed are said, /help lists the commands. --script writes every event as one JSON\n"
           "object per line. --crowd runs N simulated avatars and reports what came back.\n"
           "Options take their value as --option VALUE or --option=VALUE, in any order.\n"
           "/who tells who hears you directly (within the world's --hearing-range on every\n"
           "axis) and who only through the bot.\n"
           "Defaults: --server 127.0.0.1:6670 --name Guest --world welcome --at \"0N 0W\"\n"
           "          --hearing-range 20000\n"
           "          --rate 5 --moves 1 --seconds 10 --commanders 0 --citizen-base 100\n";
}

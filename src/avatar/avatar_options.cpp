#include "avatar/avatar_options.h"

#include <charconv>

#include "app/coordinates.h"
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
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            continue;
        }
        if (option == "--script") {
            options.client.scripted = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = option.rfind("--", 0) == 0 ? option + " needs a value" : "unknown argument " + option;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (option == "--server") {
            ok = parseServer(value, login.address, login.port);
            crowd.address = login.address;
            crowd.port = login.port;
        } else if (option == "--name") {
            login.name = local(value);
            ok = !value.empty();
        } else if (option == "--citizen") {
            ok = parseNumber(value, login.citizen, 0, 2147483647);
        } else if (option == "--password") {
            login.password = local(value);
            crowd.commanderPassword = login.password;
        } else if (option == "--world") {
            login.world = local(value);
            crowd.world = login.world;
            ok = !value.empty();
        } else if (option == "--at") {
            auto position = parseCoordinates(value);
            ok = position.has_value();
            login.position = position.value_or(Position{});
        } else if (option == "--crowd") {
            options.crowd = true;
            ok = parseNumber(value, crowd.avatars, 1, 100000);
        } else if (option == "--rate") {
            ok = parseNumber(value, crowd.linesPerSecond, 0.0, 100000.0);
        } else if (option == "--moves") {
            ok = parseNumber(value, crowd.movesPerSecond, 0.0, 100000.0);
        } else if (option == "--seconds") {
            ok = parseNumber(value, crowd.seconds, 0.0, 86400.0);
        } else if (option == "--commanders") {
            ok = parseNumber(value, crowd.commanders, 0, 100000);
        } else if (option == "--citizen-base") {
            ok = parseNumber(value, crowd.citizenBase, 1, 2000000000);
        } else if (option == "--seed") {
            ok = parseNumber(value, crowd.seed, 0u, 4294967295u);
        } else {
            error = "unknown option " + option;
            return std::nullopt;
        }
        if (!ok) {
            error = "bad value for " + option + ": " + value;
            return std::nullopt;
        }
    }
    return options;
}

const char* avatarUsage() {
    return "usage: tintbeacon-avatar [--server [ADDRESS:]PORT] [--name NAME] [--world NAME]\n"
           "                         [--at \"142N 71E\"] [--citizen N --password P] [--script]\n"
           "       tintbeacon-avatar --crowd N [--server [ADDRESS:]PORT] [--world NAME]\n"
           "                         [--rate LINES_PER_S] [--moves MOVES_PER_S] [--seconds S]\n"
           "                         [--commanders K --citizen-base B --password P] [--seed N]\n"
           "One avatar joins as a tourist (or a citizen with --citizen and --password); lines\n"
           "typed are said, /help lists the commands. --script writes every event as one JSON\n"
           "object per line. --crowd runs N simulated avatars and reports what came back.\n"
           "Defaults: --server 127.0.0.1:6670 --name Guest --world welcome --at \"0N 0W\"\n"
           "          --rate 5 --moves 1 --seconds 10 --commanders 0 --citizen-base 100\n";
}

#include "server/server_config.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <string_view>

#include "platform/net.h"

#include "protocol/heartbeat.h"

namespace {

std::optional<long long> parseNumber(const std::string& text, long long low, long long high) {
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Sets `target` to a whole number from low to high.
template <typename Number>
std::function<bool(const std::string&)> numberInto(Number& target, long long low, long long high) {
    return [&target, low, high](const std::string& text) {
        auto number = parseNumber(text, low, high);
        if (number) {
            target = static_cast<Number>(*number);
        }
        return number.has_value();
    };
}

// A decimal number such as "10" or "0.5" within [low, high].
std::optional<double> parseDecimal(const std::string& text, double low, double high) {
    double value = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc{} || end != text.data() + text.size() || !(value >= low && value <= high)) {
        return std::nullopt;
    }
    return value;
}

// "ADDRESS:PORT" or "PORT" (the address then stays as it is).
bool parseAddressPort(const std::string& text, std::string& address, int& port) {
    std::string::size_type colon = text.rfind(':');
    std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    auto number = parseNumber(portText, 0, 65535);
    if (!number) {
        return false;
    }
    if (colon != std::string::npos) {
        address = text.substr(0, colon);
    }
    port = static_cast<int>(*number);
    return true;
}

bool parseListen(const std::string& text, ServerConfig& config) {
    return parseAddressPort(text, config.address, config.port);
}

// "NUMBER:PASSWORD" with a citizen number of at least 1, or
// "NUMBER:PASSWORD:bot" for a citizen that may log in as a bot.
bool parseCitizen(const std::string& text, ServerConfig& config) {
    std::string::size_type colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    auto number = parseNumber(text.substr(0, colon), 1, 2147483647);
    if (!number) {
        return false;
    }
    const int citizen = static_cast<int>(*number);
    std::string password = text.substr(colon + 1);
    constexpr std::string_view BOT_MARK = ":bot";
    const bool bot = password.size() >= BOT_MARK.size() &&
                     password.compare(password.size() - BOT_MARK.size(), BOT_MARK.size(),
                                      BOT_MARK) == 0;
    if (bot) {
        password.resize(password.size() - BOT_MARK.size());
        config.bots.insert(citizen);
    } else {
        config.bots.erase(citizen);
    }
    config.citizens[citizen] = password;
    return true;
}

// A rate of events a second, a decimal number from 0 (no limit) up.
std::function<bool(const std::string&)> rateInto(double& target) {
    return [&target](const std::string& value) {
        auto number = parseDecimal(value, 0, 1000000);
        target = number.value_or(0);
        return number.has_value();
    };
}

bool parseExempt(const std::string& text, ServerConfig& config) {
    std::uint32_t address = 0;
    if (!net::parseIpv4(text, address)) {
        return false;
    }
    config.exempt.insert(address);
    return true;
}

// The shortest idle limit: the clients' quiet spell before a Ping, and time
// for the Ping to arrive.
constexpr long long MIN_IDLE_TIMEOUT_MS = wire::QUIET_BEFORE_PING_MS + 5000;
static_assert(MIN_IDLE_TIMEOUT_MS == 20000, "the option's words name it");

// Every option of the server, writing into `config`.
std::vector<OptionEntry> serverOptions(ServerConfig& config) {
    return {
        {"listen", true, "[ADDRESS:]PORT, a port from 0 to 65535",
         [&config](const std::string& value) { return parseListen(value, config); }},
        {"world", true, "a world name, not empty",
         [&config](const std::string& value) {
             config.worlds.insert(value);
             return !value.empty();
         }},
        {"citizen", true,
         "NUMBER:PASSWORD or NUMBER:PASSWORD:bot, a number from 1 to 2147483647",
         [&config](const std::string& value) { return parseCitizen(value, config); }},
        {"hearing-range", true, "a number from 0 to 2147483647",
         numberInto(config.hearingRange, 0, 2147483647)},
        {"max-clients", true, "a number from 1 to 1000000",
         numberInto(config.maxClients, 1, 1000000)},
        {"reserved-places", true, "a number from 0 to 1000000",
         numberInto(config.reservedPlaces, 0, 1000000)},
        {"max-output", true, "a number of bytes from 65536 to 4294967296",
         numberInto(config.maxOutputBytes, 65536, 1LL << 32)},
        {"max-total-output", true, "a number of bytes from 65536 to 1099511627776",
         numberInto(config.maxTotalOutputBytes, 65536, 1LL << 40)},
        {"write-timeout", true, "a number of ms from 100 to 3600000",
         numberInto(config.writeTimeoutMs, 100, 3600000)},
        {"login-timeout", true, "a number of ms from 1 to 3600000",
         numberInto(config.loginTimeoutMs, 1, 3600000)},
        {"idle-timeout", true, "0 (off) or a number of ms from 20000 to 3600000",
         [&config](const std::string& value) {
             auto number = parseNumber(value, 0, 3600000);
             config.idleTimeoutMs = static_cast<int>(number.value_or(0));
             return number && (*number == 0 || *number >= MIN_IDLE_TIMEOUT_MS);
         }},
        {"chat-rate", true, "lines per second, a decimal number from 0 to 1000000 (0: no limit)",
         rateInto(config.chatRate)},
        {"chat-burst", true, "a number from 1 to 1000000", numberInto(config.chatBurst, 1, 1000000)},
        {"move-rate", true, "moves per second, a decimal number from 0 to 1000000 (0: no limit)",
         rateInto(config.moves.rate)},
        {"move-burst", true, "a number from 1 to 1000000",
         numberInto(config.moves.burst, 1, 1000000)},
        {"enter-rate", true,
         "entries per second, a decimal number from 0 to 1000000 (0: no limit)",
         rateInto(config.entries.rate)},
        {"enter-burst", true, "a number from 1 to 1000000",
         numberInto(config.entries.burst, 1, 1000000)},
        {"address-share", true, "a number from 0 to 1000000 (0: no limit per address)",
         numberInto(config.addressShare, 0, 1000000)},
        {"address-connections", true, "a number from 0 to 1000000 (0: no limit)",
         numberInto(config.addressConnections, 0, 1000000)},
        {"connect-rate", true,
         "connections per second, a decimal number from 0 to 1000000 (0: no limit)",
         rateInto(config.connects.rate)},
        {"connect-burst", true, "a number from 1 to 1000000",
         numberInto(config.connects.burst, 1, 1000000)},
        {"login-attempts", true, "a number from 1 to 1000000",
         numberInto(config.loginAttempts, 1, 1000000)},
        {"exempt", true, "an IPv4 address such as 127.0.0.1",
         [&config](const std::string& value) { return parseExempt(value, config); }},
        {"http", true, "[ADDRESS:]PORT for the live map, a port from 0 to 65535",
         [&config](const std::string& value) {
             config.http = true;
             return parseAddressPort(value, config.httpAddress, config.httpPort);
         }},
    };
}

}  // namespace

std::optional<ServerConfig> parseServerOptions(const std::vector<std::string>& args,
                                               std::string& error, CommandLineRequest& request) {
    ServerConfig config;
    auto parsed = parseCommandLine(args, serverOptions(config), error);
    if (!parsed) {
        return std::nullopt;
    }
    request = *parsed;
    if (config.worlds.empty()) {
        config.worlds.insert("welcome");
    }
    return config;
}

std::optional<ServerConfig> parseServerOptions(const std::vector<std::string>& args,
                                               std::string& error) {
    CommandLineRequest request = CommandLineRequest::Run;
    return parseServerOptions(args, error, request);
}

const char* serverUsage() {
    return "usage: tintbeacon-world [--listen [ADDRESS:]PORT] [--world NAME]...\n"
           "                        [--citizen NUMBER:PASSWORD[:bot]]... [--hearing-range UNITS]\n"
           "                        [--max-clients N] [--reserved-places N] [--max-output BYTES]\n"
           "                        [--max-total-output BYTES] [--write-timeout MS]\n"
           "                        [--login-timeout MS] [--login-attempts N] [--idle-timeout MS]\n"
           "                        [--chat-rate LINES_PER_S] [--chat-burst N]\n"
           "                        [--move-rate MOVES_PER_S] [--move-burst N]\n"
           "                        [--enter-rate ENTRIES_PER_S] [--enter-burst N]\n"
           "                        [--address-share N] [--address-connections N]\n"
           "                        [--connect-rate CONNECTIONS_PER_S] [--connect-burst N]\n"
           "                        [--exempt ADDRESS]... [--http [ADDRESS:]PORT]\n"
           "       tintbeacon-world --help | --version\n"
           "Options take their value as --option VALUE or --option=VALUE, in any order.\n"
           "defaults: --listen 127.0.0.1:6670 --world welcome --hearing-range 20000 "
           "--max-clients 4096\n"
           "          --reserved-places (a sixteenth of --max-clients) --max-output 4194304\n"
           "          --max-total-output 268435456 --write-timeout 10000 --login-timeout 10000\n"
           "          --login-attempts 3 --idle-timeout 30000 --chat-rate 10 --chat-burst 20 --move-rate 20 "
           "--move-burst 40\n"
           "          --enter-rate 0.2 --enter-burst 3 --address-share 4 "
           "--address-connections 16\n"
           "          --connect-rate 2 --connect-burst 16\n"
           "A rate of 0 switches that limit off; --address-share 0 switches off the limits per\n"
           "address, and --exempt spares one address all of them. Only citizens given with\n"
           ":bot may log in as bots. --idle-timeout 0 switches the idle limit off.\n"
           "--http serves the live map (off by default; address 127.0.0.1 when only a port is "
           "given)\n";
}

std::size_t ServerConfig::reserved() const {
    if (reservedPlaces >= 0) {
        return static_cast<std::size_t>(reservedPlaces);
    }
    return std::max<std::size_t>(1, maxClients / 16);
}

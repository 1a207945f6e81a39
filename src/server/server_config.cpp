#include "server/server_config.h"

#include <charconv>
#include <functional>

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

// "NUMBER:PASSWORD" with a citizen number of at least 1.
bool parseCitizen(const std::string& text, ServerConfig& config) {
    std::string::size_type colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    auto number = parseNumber(text.substr(0, colon), 1, 2147483647);
    if (!number) {
        return false;
    }
    config.citizens[static_cast<int>(*number)] = text.substr(colon + 1);
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
        {"citizen", true, "NUMBER:PASSWORD, a number from 1 to 2147483647",
         [&config](const std::string& value) { return parseCitizen(value, config); }},
        {"hearing-range", true, "a number from 0 to 2147483647",
         numberInto(config.hearingRange, 0, 2147483647)},
        {"max-clients", true, "a number from 1 to 1000000",
         numberInto(config.maxClients, 1, 1000000)},
        {"max-output", true, "a number of bytes from 65536 to 4294967296",
         numberInto(config.maxOutputBytes, 65536, 1LL << 32)},
        {"max-total-output", true, "a number of bytes from 65536 to 1099511627776",
         numberInto(config.maxTotalOutputBytes, 65536, 1LL << 40)},
        {"login-timeout", true, "a number of ms from 1 to 3600000",
         numberInto(config.loginTimeoutMs, 1, 3600000)},
        {"idle-timeout", true, "0 (off) or a number of ms from 20000 to 3600000",
         [&config](const std::string& value) {
             auto number = parseNumber(value, 0, 3600000);
             config.idleTimeoutMs = static_cast<int>(number.value_or(0));
             return number && (*number == 0 || *number >= MIN_IDLE_TIMEOUT_MS);
         }},
        {"chat-rate", true, "lines per second, a decimal number from 0 to 1000000 (0: no limit)",
         [&config](const std::string& value) {
             auto number = parseDecimal(value, 0, 1000000);
             config.chatRate = number.value_or(0);
             return number.has_value();
         }},
        {"chat-burst", true, "a number from 1 to 1000000", numberInto(config.chatBurst, 1, 1000000)},
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
    return "usage: tintbeacon-world [--listen [ADDRESS:]PORT] [--world NAME]... "
           "[--citizen NUMBER:PASSWORD]...\n"
           "                        [--hearing-range UNITS] [--max-clients N] [--max-output "
           "BYTES]\n"
           "                        [--max-total-output BYTES] [--login-timeout MS] "
           "[--idle-timeout MS]\n"
           "                        [--chat-rate LINES_PER_S] [--chat-burst N]\n"
           "       tintbeacon-world --help | --version\n"
           "Options take their value as --option VALUE or --option=VALUE, in any order.\n"
           "defaults: --listen 127.0.0.1:6670 --world welcome --hearing-range 20000 "
           "--max-clients 4096 --max-output 4194304\n"
           "          --max-total-output 268435456 --login-timeout 10000 --idle-timeout 30000\n"
           "          --chat-rate 10 --chat-burst 20\n"
           "--chat-rate 0 switches the chat limit off; --idle-timeout 0 the idle limit.\n"
           "--http serves the live map (off by default; address 127.0.0.1 when only a port is "
           "given)\n";
}

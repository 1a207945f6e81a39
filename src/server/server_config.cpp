#include "server/server_config.h"

#include <charconv>

namespace {

std::optional<long long> parseNumber(const std::string& text, long long low, long long high) {
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
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

// "ADDRESS:PORT" or "PORT".
bool parseListen(const std::string& text, ServerConfig& config) {
    std::string::size_type colon = text.rfind(':');
    std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    auto number = parseNumber(port, 0, 65535);
    if (!number) {
        return false;
    }
    if (colon != std::string::npos) {
        config.address = text.substr(0, colon);
    }
    config.port = static_cast<int>(*number);
    return true;
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

bool applyOption(const std::string& option, const std::string& value, ServerConfig& config) {
    if (option == "--listen") {
        return parseListen(value, config);
    }
    if (option == "--world") {
        config.worlds.insert(value);
        return !value.empty();
    }
    if (option == "--citizen") {
        return parseCitizen(value, config);
    }
    if (option == "--hearing-range") {
        auto number = parseNumber(value, 0, 2147483647);
        config.hearingRange = static_cast<int>(number.value_or(0));
        return number.has_value();
    }
    if (option == "--max-clients") {
        auto number = parseNumber(value, 1, 1000000);
        config.maxClients = static_cast<std::size_t>(number.value_or(0));
        return number.has_value();
    }
    if (option == "--max-output") {
        auto number = parseNumber(value, 65536, 1LL << 32);
        config.maxOutputBytes = static_cast<std::size_t>(number.value_or(0));
        return number.has_value();
    }
    if (option == "--max-total-output") {
        auto number = parseNumber(value, 65536, 1LL << 40);
        config.maxTotalOutputBytes = static_cast<std::size_t>(number.value_or(0));
        return number.has_value();
    }
    if (option == "--login-timeout") {
        auto number = parseNumber(value, 1, 3600000);
        config.loginTimeoutMs = static_cast<int>(number.value_or(0));
        return number.has_value();
    }
    if (option == "--chat-rate") {
        auto number = parseDecimal(value, 0, 1000000);
        config.chatRate = number.value_or(0);
        return number.has_value();
    }
    if (option == "--chat-burst") {
        auto number = parseNumber(value, 1, 1000000);
        config.chatBurst = static_cast<int>(number.value_or(0));
        return number.has_value();
    }
    return false;
}

}  // namespace

std::optional<ServerConfig> parseServerOptions(const std::vector<std::string>& args,
                                               std::string& error) {
    ServerConfig config;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) {
            error = "option " + args[i] + " needs a value";
            return std::nullopt;
        }
        if (!applyOption(args[i], args[i + 1], config)) {
            error = "bad option " + args[i] + " " + args[i + 1];
            return std::nullopt;
        }
    }
    if (config.worlds.empty()) {
        config.worlds.insert("welcome");
    }
    return config;
}

const char* serverUsage() {
    return "usage: tintbeacon-world [--listen [ADDRESS:]PORT] [--world NAME]... "
           "[--citizen NUMBER:PASSWORD]...\n"
           "                        [--hearing-range UNITS] [--max-clients N] [--max-output "
           "BYTES]\n"
           "                        [--max-total-output BYTES] [--login-timeout MS]\n"
           "                        [--chat-rate LINES_PER_S] [--chat-burst N]\n"
           "defaults: --listen 127.0.0.1:6670 --world welcome --hearing-range 20000 "
           "--max-clients 4096 --max-output 4194304\n"
           "          --max-total-output 268435456 --login-timeout 10000 --chat-rate 10 "
           "--chat-burst 20\n"
           "--chat-rate 0 switches the chat limit off.\n";
}

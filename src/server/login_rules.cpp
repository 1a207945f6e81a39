#include "server/login_rules.h"

#include <algorithm>
#include <string_view>

#include "sdk/reason_codes.h"

using wire::Message;

namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Chat log lines begin "whisper from NAME:" for a whisper and "global chat:"
// for a console message; a name that began the same way (in any letter case)
// could forge them.
bool imitatesLogLine(const std::string& name) {
    constexpr std::string_view prefixes[] = {"whisper from", "global chat"};
    for (std::string_view prefix : prefixes) {
        if (name.size() >= prefix.size() &&
            std::equal(prefix.begin(), prefix.end(), name.begin(),
                       [](char a, char b) { return a == asciiLower(b); })) {
            return true;
        }
    }
    return false;
}

// Hearing every said line of a world is for bots (a relay must hear all that
// it relays); an avatar hears what is said within its range.
int permittedHearing(const Message& login) {
    return login.hearAll != 0 && login.kind != wire::LoginKind::Bot ? SDK_RC_NOT_ALLOWED : SDK_OK;
}

}  // namespace

std::string foldedName(const std::string& name) {
    std::string fold = name;
    for (char& c : fold) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDF)) {
            c = static_cast<char>(byte + 0x20);
        } else if (byte == 0xA8) {  // Ё
            c = static_cast<char>(0xB8);
        }
    }
    return fold;
}

int loginRefusal(const ServerConfig& config, const Message& message, std::size_t tourists) {
    const std::size_t nameLimit =
        wire::MAX_NAME_BYTES - (message.kind == wire::LoginKind::Bot ? 2 : 0);
    if (message.name.empty() || !wire::isCleanText(message.name, false) ||
        (message.kind == wire::LoginKind::Avatar && message.name[0] == '[') ||
        imitatesLogLine(message.name)) {
        return SDK_RC_INVALID_TEXT;
    }
    if (message.name.size() > nameLimit) {
        return SDK_RC_TEXT_TOO_LONG;
    }
    if (message.kind == wire::LoginKind::Avatar && message.citizen == 0) {
        if (!message.password.empty()) {
            return SDK_RC_BAD_CREDENTIALS;
        }
        if (permittedHearing(message) != SDK_OK) {
            return SDK_RC_NOT_ALLOWED;
        }
        // The last places are for bots and citizens.
        return tourists + config.reserved() >= config.maxClients ? SDK_RC_SERVER_FULL : SDK_OK;
    }
    auto citizen = config.citizens.find(message.citizen);
    if (citizen == config.citizens.end() || citizen->second != message.password) {
        return SDK_RC_BAD_CREDENTIALS;
    }
    // Who may relay the world's chat is the operator's to say.
    if (message.kind == wire::LoginKind::Bot && config.bots.count(message.citizen) == 0) {
        return SDK_RC_NOT_ALLOWED;
    }
    return permittedHearing(message);
}

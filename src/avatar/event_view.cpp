#include "avatar/event_view.h"

#include "avatar/json_line.h"
#include "avatar/terminal_text.h"
#include "sdk/reason_text.h"

using wire::Message;
using wire::MessageType;

std::optional<std::string> humanEventLine(const Message& event, const ViewStyle& style) {
    auto plain = [&style](const std::string& cp1251) {
        return terminalText(cp1251, style.encoding, false);
    };
    switch (event.type) {
        case MessageType::AvatarArrived:
            return "* " + plain(event.name) + " arrived (session " + std::to_string(event.session) +
                   ")";
        case MessageType::AvatarLeft:
            return "* " + plain(event.name) + " left";
        case MessageType::Chat:
            if (event.chatType == 2) {
                return plain(event.name) + " whispers: " + plain(event.text);
            }
            if (event.chatType == 1) {
                return plain(event.name) + " (to all): " + plain(event.text);
            }
            return plain(event.name) + ": " + plain(event.text);
        case MessageType::ConsoleMessage:
            return consoleTerminalText(event.text, style.encoding, style.colored, event.red,
                                       event.green, event.blue);
        case MessageType::Error:
            return "! server error " + reasonWithWords(event.code);
        default:
            return std::nullopt;
    }
}

std::string jsonEventLine(const Message& event) {
    JsonLine line;
    switch (event.type) {
        case MessageType::AvatarArrived:
            line.field("event", "arrived").field("session", event.session).field("name", event.name)
                .field("citizen", event.citizen).field("x", event.x).field("y", event.y)
                .field("z", event.z);
            break;
        case MessageType::AvatarMoved:
            line.field("event", "moved").field("session", event.session).field("x", event.x)
                .field("y", event.y).field("z", event.z);
            break;
        case MessageType::AvatarLeft:
            line.field("event", "left").field("session", event.session).field("name", event.name);
            break;
        case MessageType::Chat: {
            static const char* const TYPES[] = {"said", "broadcast", "whisper"};
            line.field("event", "chat").field("type", event.chatType < 3 ? TYPES[event.chatType] : "other")
                .field("session", event.session).field("name", event.name).field("text", event.text);
            break;
        }
        case MessageType::ConsoleMessage:
            line.field("event", "console").field("text", event.text).field("red", event.red)
                .field("green", event.green).field("blue", event.blue);
            break;
        case MessageType::Error:
            line.field("event", "error").field("reason", event.code);
            break;
        default:
            line.field("event", "other").field("type", static_cast<int>(event.type));
            break;
    }
    return line.str();
}

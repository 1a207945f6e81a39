#pragma once

// The messages of the world wire protocol, and their encoding into frames.
//
// A frame is a 4-byte big-endian body length followed by the body; the body is
// one type byte and the type's fields. Integers are big-endian (i32 two's
// complement); texts are a length (u8 for short texts, u16 for long ones)
// followed by that many raw bytes, so any byte value travels unchanged.
// docs/world-protocol.md describes every message.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wire {

inline constexpr std::uint32_t PROTOCOL_MAGIC = 0x54425750;  // "TBWP"
// The version clients send; a world takes every version from the first on.
// Version 2 added the heartbeat (Ping and Pong).
inline constexpr std::uint16_t PROTOCOL_VERSION = 2;
inline constexpr std::uint16_t FIRST_PROTOCOL_VERSION = 1;

inline constexpr std::size_t FRAME_HEADER_BYTES = 4;
inline constexpr std::size_t MAX_BODY_BYTES = 8192;
// Names, world names, passwords and application names.
inline constexpr std::size_t MAX_NAME_BYTES = 64;
inline constexpr std::size_t MAX_CHAT_BYTES = 500;
// A console text holds at least a relayed line: a name, ":\t" and a chat text.
inline constexpr std::size_t MAX_CONSOLE_BYTES = 600;
inline constexpr std::size_t MAX_CONSOLE_TARGETS = 1000;

enum class MessageType : std::uint8_t {
    // Client to server.
    Hello = 1,
    Login = 2,
    Enter = 3,
    State = 4,
    Say = 5,
    Whisper = 6,
    Broadcast = 7,
    Console = 8,
    Ping = 9,  // since version 2: the server answers Pong
    // Server to client.
    Reply = 64,
    AvatarArrived = 65,
    AvatarMoved = 66,
    AvatarLeft = 67,
    Chat = 68,
    ConsoleMessage = 69,
    Error = 70,
    Pong = 71,  // since version 2: the answer to Ping
};

enum class LoginKind : std::uint8_t { Avatar = 0, Bot = 1 };

// One message of any type; each type uses the fields its comment names.
struct Message {
    MessageType type = MessageType::Hello;
    std::uint32_t magic = PROTOCOL_MAGIC;      // Hello
    std::uint16_t version = PROTOCOL_VERSION;  // Hello
    LoginKind kind = LoginKind::Avatar;        // Login
    std::int32_t citizen = 0;                  // Login, AvatarArrived
    std::uint8_t hearAll = 0;                  // Login
    std::string name;                  // Login, AvatarArrived, AvatarLeft, Chat; world of Enter
    std::string password;              // Login
    std::string application;           // Login
    std::int32_t session = 0;          // Whisper target; avatar events; Chat speaker
    std::int32_t x = 0, y = 0, z = 0;  // State, AvatarArrived, AvatarMoved
    std::int32_t heading = 0, gesture = 0;  // State
    std::string text;           // Say, Whisper, Broadcast, Console, Chat, ConsoleMessage
    std::uint8_t chatType = 0;  // Chat: 0 said, 1 broadcast, 2 whisper
    std::uint8_t red = 0, green = 0, blue = 0;  // Console, ConsoleMessage
    std::vector<std::int32_t> targets;          // Console: receiving sessions
    MessageType request = MessageType::Hello;   // Reply, Error: the message answered
    std::int32_t code = 0;                      // Reply, Error: reason code
    std::int32_t value = 0;                     // Reply: session (Login), version (Hello)

    bool operator==(const Message&) const = default;
};

// Appends the message as one frame. Returns false, appending nothing, when a
// field exceeds its limit (a text too long, too many targets).
bool encodeFrame(const Message& message, std::string& out);

// Decodes one frame body (type byte and fields). std::nullopt when the body is
// malformed: unknown type, truncated, trailing bytes or a text over its limit.
std::optional<Message> decodeBody(const std::string& body);

// True when the text holds no byte below 0x20 (TAB allowed when asked), no DEL
// (0x7F) and no 0x98 (unassigned in Windows-1251): such a text cannot break a
// line of a log or forge a second one.
bool isCleanText(const std::string& text, bool allowTab);
// True when a console text holds no byte below 0x20 but TAB, LF and CR, and no
// DEL or 0x98: a console message may span lines, and only bots may send one.
bool isCleanConsoleText(const std::string& text);

// Cuts frames out of a byte stream. Holds at most one header, one body and the
// bytes of one read, so a peer cannot make it grow without bound; once the
// whole frames are taken out, it keeps no more room than one frame needs.
class FrameReader {
  public:
    enum class Status { NeedMore, Frame, Malformed };

    // Adds received bytes.
    void append(const char* data, std::size_t size);
    // The next whole frame body into `body`; Malformed when the announced
    // length is 0 or over MAX_BODY_BYTES (the stream cannot be trusted after).
    Status next(std::string& body);
    std::size_t buffered() const { return buffer_.size() - offset_; }

  private:
    Status needMore();

    std::string buffer_;
    std::size_t offset_ = 0;
};

}  // namespace wire

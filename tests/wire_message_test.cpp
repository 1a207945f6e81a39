#include "protocol/wire_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using wire::Message;
using wire::MessageType;

namespace {

// Every byte value except NUL, with a TAB, in a name and a text.
const std::string HIGH_BYTES = "\xC8\xE2\xE0\xED \x09\xFF\x7F\x80";

std::vector<Message> oneOfEachType() {
    std::vector<Message> all;
    auto add = [&](MessageType type) -> Message& {
        all.emplace_back();
        all.back().type = type;
        return all.back();
    };
    add(MessageType::Hello).version = 7;
    Message& login = add(MessageType::Login);
    login.kind = wire::LoginKind::Bot;
    login.citizen = -5;
    login.hearAll = 1;
    login.name = HIGH_BYTES;
    login.password = "p w";
    login.application = "app";
    add(MessageType::Enter).name = HIGH_BYTES;
    Message& state = add(MessageType::State);
    state.x = -2147483647 - 1;
    state.y = 2147483647;
    state.z = -20001;
    state.heading = 500;
    add(MessageType::Say).text = HIGH_BYTES;
    Message& whisper = add(MessageType::Whisper);
    whisper.session = 42;
    whisper.text = HIGH_BYTES;
    add(MessageType::Broadcast).text = std::string(wire::MAX_CHAT_BYTES, 'b');
    Message& console = add(MessageType::Console);
    console.red = 255;
    console.blue = 1;
    console.text = "name:\t" + HIGH_BYTES;
    console.targets = std::vector<std::int32_t>(wire::MAX_CONSOLE_TARGETS, 9);
    Message& reply = add(MessageType::Reply);
    reply.request = MessageType::Login;
    reply.code = 14;
    reply.value = 3;
    Message& arrived = add(MessageType::AvatarArrived);
    arrived.session = 1;
    arrived.citizen = 7;
    arrived.x = 30000;
    arrived.name = "[" + HIGH_BYTES + "]";
    Message& moved = add(MessageType::AvatarMoved);
    moved.session = 2;
    moved.z = -1;
    Message& left = add(MessageType::AvatarLeft);
    left.session = 3;
    left.name = HIGH_BYTES;
    Message& chat = add(MessageType::Chat);
    chat.session = 4;
    chat.chatType = 2;
    chat.name = HIGH_BYTES;
    chat.text = HIGH_BYTES;
    Message& received = add(MessageType::ConsoleMessage);
    received.green = 128;
    received.text = std::string(wire::MAX_CONSOLE_BYTES, '\xE9');
    Message& error = add(MessageType::Error);
    error.request = MessageType::Say;
    error.code = 11;
    add(MessageType::Ping);
    add(MessageType::Pong);
    return all;
}

std::vector<Message> decodeAll(const std::string& stream) {
    wire::FrameReader reader;
    std::vector<Message> decoded;
    std::string body;
    // Byte by byte: frames must come out whole however the stream is cut.
    for (char c : stream) {
        reader.append(&c, 1);
        while (reader.next(body) == wire::FrameReader::Status::Frame) {
            auto message = wire::decodeBody(body);
            EXPECT_TRUE(message.has_value());
            if (message) {
                decoded.push_back(*message);
            }
        }
    }
    EXPECT_EQ(reader.buffered(), 0u);
    return decoded;
}

std::string frameOf(const std::string& body) {
    std::string frame;
    auto size = static_cast<std::uint32_t>(body.size());
    for (int shift : {24, 16, 8, 0}) {
        frame.push_back(static_cast<char>((size >> shift) & 0xFF));
    }
    return frame + body;
}

}  // namespace

TEST(WireMessage, EveryTypeSurvivesARoundTripWithItsBytesIntact) {
    std::vector<Message> sent = oneOfEachType();
    std::string stream;
    for (const Message& message : sent) {
        ASSERT_TRUE(wire::encodeFrame(message, stream));
    }
    EXPECT_EQ(decodeAll(stream), sent);
}

TEST(WireMessage, OverLongFieldsAreRefusedWhenEncoding) {
    Message say;
    say.type = MessageType::Say;
    say.text = std::string(wire::MAX_CHAT_BYTES + 1, 'a');
    Message login;
    login.type = MessageType::Login;
    login.name = std::string(wire::MAX_NAME_BYTES + 1, 'n');
    Message console;
    console.type = MessageType::Console;
    console.targets.resize(wire::MAX_CONSOLE_TARGETS + 1);
    for (const Message& message : {say, login, console}) {
        std::string out;
        EXPECT_FALSE(wire::encodeFrame(message, out));
        EXPECT_TRUE(out.empty());
    }
}

TEST(WireMessage, MalformedBodiesDecodeToNothing) {
    const std::string bodies[] = {
        "",                          // no type
        std::string(1, '\x00'),      // unknown type 0
        std::string(1, '\x63'),      // unknown type 99
        std::string(1, '\x0A'),      // unknown type 10, after Ping
        std::string(1, '\x48'),      // unknown type 72, after Pong
        std::string("\x09\x00", 2),  // Ping with a byte it does not have
        std::string("\x05\x00", 2),  // Say with a truncated length
        std::string("\x05\x00\x03"
                    "ab",
                    5),  // Say text shorter than announced
        std::string("\x05\x00\x01"
                    "ab",
                    5),                                               // trailing byte
        std::string("\x05\x01\xF5", 3) + std::string(501, 'a'),       // chat text over its limit
        std::string("\x08\x00\x00\x00\x00\x00\x03\xE9", 8),           // 1001 console targets
        std::string("\x02\x07\x00\x00\x00\x00\x00\x00\x00\x00", 10),  // unknown login kind
    };
    for (const std::string& body : bodies) {
        EXPECT_FALSE(wire::decodeBody(body).has_value()) << testing::PrintToString(body);
    }
}

TEST(WireMessage, FrameReaderRefusesEmptyAndOverLongFrames) {
    for (std::uint32_t length :
         {0u, static_cast<std::uint32_t>(wire::MAX_BODY_BYTES + 1), 0xFFFFFFFFu}) {
        std::string header;
        for (int shift : {24, 16, 8, 0}) {
            header.push_back(static_cast<char>((length >> shift) & 0xFF));
        }
        wire::FrameReader reader;
        reader.append(header.data(), header.size());
        std::string body;
        EXPECT_EQ(reader.next(body), wire::FrameReader::Status::Malformed) << length;
    }
}

TEST(WireMessage, FrameReaderWaitsForWholeFramesAndKeepsTheirOrder) {
    const std::string say(
        "\x05\x00\x01"
        "a",
        4);
    std::string stream = frameOf(say) + frameOf(std::string(wire::MAX_BODY_BYTES, 'x'));
    wire::FrameReader reader;
    std::string body;
    reader.append(stream.data(), 6);
    EXPECT_EQ(reader.next(body), wire::FrameReader::Status::NeedMore);
    reader.append(stream.data() + 6, stream.size() - 6);
    ASSERT_EQ(reader.next(body), wire::FrameReader::Status::Frame);
    EXPECT_EQ(body, say);
    ASSERT_EQ(reader.next(body), wire::FrameReader::Status::Frame);
    EXPECT_EQ(body.size(), wire::MAX_BODY_BYTES);
    EXPECT_EQ(reader.next(body), wire::FrameReader::Status::NeedMore);
}

TEST(WireMessage, CleanTextRefusesControlBytes) {
    EXPECT_TRUE(wire::isCleanText("\xC0\xFF plain", false));
    EXPECT_FALSE(wire::isCleanText("a\tb", false));
    EXPECT_TRUE(wire::isCleanText("a\tb", true));
    EXPECT_FALSE(wire::isCleanText("a\nb", true));
    EXPECT_FALSE(wire::isCleanText(std::string("a\0b", 3), true));
    EXPECT_TRUE(wire::isCleanConsoleText("\nline\r\n\tend"));
    EXPECT_FALSE(wire::isCleanConsoleText("bell\x07"));
    // DEL and the byte Windows-1251 leaves unassigned are not text either;
    // their neighbours are.
    for (const char* text : {"a\x7F" "b", "a\x98" "b"}) {
        EXPECT_FALSE(wire::isCleanText(text, true)) << text;
        EXPECT_FALSE(wire::isCleanConsoleText(text)) << text;
    }
    EXPECT_TRUE(wire::isCleanText("~\x80\x97\x99\x9F\xA0", false));
    EXPECT_TRUE(wire::isCleanConsoleText("~\x80\x97\x99\x9F\xA0"));
}

// Cutting frames in place and viewing the messages a crowd member reads.

#include "avatar/frame_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using wire::Message;
using wire::MessageType;

std::string frameOf(const Message& message) {
    std::string out;
    EXPECT_TRUE(wire::encodeFrame(message, out));
    return out;
}

std::string bodyOf(const Message& message) {
    return frameOf(message).substr(wire::FRAME_HEADER_BYTES);
}

Message chat(const std::string& name, const std::string& text) {
    Message m;
    m.type = MessageType::Chat;
    m.session = 42;
    m.chatType = 1;
    m.name = name;
    m.text = text;
    return m;
}

Message console(const std::string& text) {
    Message m;
    m.type = MessageType::ConsoleMessage;
    m.red = 1;
    m.text = text;
    return m;
}

Message arrived() {
    Message m;
    m.type = MessageType::AvatarArrived;
    m.session = 7;
    m.name = "Crowd7";
    return m;
}

TEST(FrameScanner, CutsTheSameBodiesHoweverTheStreamIsSplit) {
    const std::vector<Message> messages = {arrived(), console(std::string(600, 'x')),
                                           chat("Speaker", "hi"), console("Speaker:\tline 1")};
    std::string stream;
    std::vector<std::string> expected;
    for (const Message& m : messages) {
        stream += frameOf(m);
        expected.push_back(bodyOf(m));
    }
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        FrameScanner scanner;
        std::vector<std::string> bodies;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::size_t size = std::min(chunk, stream.size() - at);
            ASSERT_TRUE(scanner.feed(stream.data() + at, size, [&](std::string_view body) {
                bodies.emplace_back(body);
                return true;
            }));
        }
        EXPECT_EQ(bodies, expected) << "chunks of " << chunk;
        EXPECT_EQ(scanner.buffered(), 0u);
    }
}

TEST(FrameScanner, KeepsAnIncompleteFrameAndRefusesBadLengths) {
    const std::string frame = frameOf(chat("A", "b"));
    FrameScanner scanner;
    int bodies = 0;
    auto count = [&](std::string_view) { return ++bodies, true; };
    ASSERT_TRUE(scanner.feed(frame.data(), frame.size() - 1, count));
    EXPECT_EQ(bodies, 0);
    EXPECT_EQ(scanner.buffered(), frame.size() - 1);
    ASSERT_TRUE(scanner.feed(frame.data() + frame.size() - 1, 1, count));
    EXPECT_EQ(bodies, 1);

    const struct {
        const char* what;
        std::string header;
    } bad[] = {{"empty body", std::string("\0\0\0\0", 4)},
               {"one past the limit", std::string("\0\0\x20\x01", 4)},
               {"huge", std::string("\xff\xff\xff\xff", 4)}};
    for (const auto& c : bad) {
        FrameScanner fresh;
        EXPECT_FALSE(fresh.feed(c.header.data(), c.header.size(), count)) << c.what;
        FrameScanner split;  // the header split across reads
        ASSERT_TRUE(split.feed(c.header.data(), 2, count)) << c.what;
        EXPECT_FALSE(split.feed(c.header.data() + 2, 2, count)) << c.what;
    }

    // The observer's refusal stops the scan at once.
    const std::string two = frame + frame;
    FrameScanner refusing;
    bodies = 0;
    EXPECT_FALSE(refusing.feed(two.data(), two.size(), [&](std::string_view) {
        ++bodies;
        return false;
    }));
    EXPECT_EQ(bodies, 1);
}

TEST(FrameViews, ReadExactlyTheirMessageOrNothing) {
    const std::string consoleBody = bodyOf(console("Speaker:\tline"));
    ASSERT_TRUE(consoleText(consoleBody));
    EXPECT_EQ(*consoleText(consoleBody), "Speaker:\tline");
    const std::string chatBody = bodyOf(chat("Speaker", "hello"));
    const std::optional<ChatView> view = chatView(chatBody);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->session, 42);
    EXPECT_EQ(view->chatType, 1);
    EXPECT_EQ(view->name, "Speaker");
    EXPECT_EQ(view->text, "hello");

    std::string overLong = bodyOf(console("x"));
    overLong[4] = '\x02';
    overLong[5] = '\x59';  // announces 601 bytes
    overLong += std::string(600, 'x');
    const std::string bad[] = {consoleBody.substr(0, consoleBody.size() - 1), consoleBody + "!",
                               overLong, chatBody};
    for (const std::string& body : bad) {
        EXPECT_FALSE(consoleText(body)) << body.size();
    }
    EXPECT_FALSE(chatView(chatBody.substr(0, chatBody.size() - 1)));
    EXPECT_FALSE(chatView(chatBody + "!"));
    EXPECT_FALSE(chatView(consoleBody));
}

}  // namespace

#include "protocol/wire_message.h"

#include <bit>
#include <cstring>

namespace wire {

namespace {

std::uint32_t toNetworkOrder(std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        return __builtin_bswap32(v);
    } else {
        return v;
    }
}

void putU8(std::string& out, std::uint8_t v) {
    out.push_back(static_cast<char>(v));
}

void putU16(std::string& out, std::uint16_t v) {
    putU8(out, static_cast<std::uint8_t>(v >> 8));
    putU8(out, static_cast<std::uint8_t>(v));
}

void putU32(std::string& out, std::uint32_t v) {
    const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    out.append(bytes, sizeof bytes);
}

void putI32(std::string& out, std::int32_t v) {
    putU32(out, static_cast<std::uint32_t>(v));
}

// Many numbers at once: the receivers of a console message, up to a thousand
// of them, written in place rather than appended one by one.
void putI32Array(std::string& out, const std::vector<std::int32_t>& values) {
    std::size_t at = out.size();
    out.resize(at + 4 * values.size());
    char* bytes = out.data() + at;
    for (std::int32_t value : values) {
        // A whole word in network order at a time: the byte-by-byte form
        // compiles to a loop several times slower.
        const std::uint32_t v = toNetworkOrder(static_cast<std::uint32_t>(value));
        std::memcpy(bytes, &v, sizeof v);
        bytes += 4;
    }
}

void putShortText(std::string& out, const std::string& text) {
    putU8(out, static_cast<std::uint8_t>(text.size()));
    out += text;
}

void putLongText(std::string& out, const std::string& text) {
    putU16(out, static_cast<std::uint16_t>(text.size()));
    out += text;
}

// Reads fields off a body; after the first failure every read fails.
class BodyReader {
  public:
    explicit BodyReader(const std::string& body) : body_(body) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && offset_ == body_.size(); }
    void fail() { ok_ = false; }

    std::uint8_t u8() {
        if (!has(1)) {
            return 0;
        }
        return static_cast<std::uint8_t>(body_[offset_++]);
    }
    std::uint16_t u16() {
        std::uint16_t high = u8();
        return static_cast<std::uint16_t>((high << 8) | u8());
    }
    std::uint32_t u32() {
        std::uint32_t high = u16();
        return (high << 16) | u16();
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::string shortText(std::size_t limit) { return text(u8(), limit); }
    std::string longText(std::size_t limit) { return text(u16(), limit); }

  private:
    bool has(std::size_t n) {
        if (!ok_ || body_.size() - offset_ < n) {
            ok_ = false;
        }
        return ok_;
    }
    std::string text(std::size_t size, std::size_t limit) {
        if (size > limit || !has(size)) {
            ok_ = false;
            return {};
        }
        std::string result = body_.substr(offset_, size);
        offset_ += size;
        return result;
    }

    const std::string& body_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

bool withinLimits(const Message& m) {
    switch (m.type) {
        case MessageType::Login:
            return m.name.size() <= MAX_NAME_BYTES && m.password.size() <= MAX_NAME_BYTES &&
                   m.application.size() <= MAX_NAME_BYTES;
        case MessageType::Enter:
        case MessageType::AvatarArrived:
        case MessageType::AvatarLeft:
            return m.name.size() <= MAX_NAME_BYTES;
        case MessageType::Say:
        case MessageType::Whisper:
        case MessageType::Broadcast:
            return m.text.size() <= MAX_CHAT_BYTES;
        case MessageType::Chat:
            return m.name.size() <= MAX_NAME_BYTES && m.text.size() <= MAX_CHAT_BYTES;
        case MessageType::Console:
            return m.text.size() <= MAX_CONSOLE_BYTES && m.targets.size() <= MAX_CONSOLE_TARGETS;
        case MessageType::ConsoleMessage:
            return m.text.size() <= MAX_CONSOLE_BYTES;
        default:
            return true;
    }
}

void encodeFields(const Message& m, std::string& out) {
    switch (m.type) {
        case MessageType::Hello:
            putU32(out, m.magic);
            putU16(out, m.version);
            break;
        case MessageType::Login:
            putU8(out, static_cast<std::uint8_t>(m.kind));
            putI32(out, m.citizen);
            putU8(out, m.hearAll);
            putShortText(out, m.name);
            putShortText(out, m.password);
            putShortText(out, m.application);
            break;
        case MessageType::Enter:
            putShortText(out, m.name);
            break;
        case MessageType::State:
            for (std::int32_t v : {m.x, m.y, m.z, m.heading, m.gesture}) {
                putI32(out, v);
            }
            break;
        case MessageType::Say:
        case MessageType::Broadcast:
            putLongText(out, m.text);
            break;
        case MessageType::Whisper:
            putI32(out, m.session);
            putLongText(out, m.text);
            break;
        case MessageType::Console:
            putU8(out, m.red);
            putU8(out, m.green);
            putU8(out, m.blue);
            putLongText(out, m.text);
            putU16(out, static_cast<std::uint16_t>(m.targets.size()));
            putI32Array(out, m.targets);
            break;
        case MessageType::Reply:
            putU8(out, static_cast<std::uint8_t>(m.request));
            putI32(out, m.code);
            putI32(out, m.value);
            break;
        case MessageType::AvatarArrived:
            for (std::int32_t v : {m.session, m.citizen, m.x, m.y, m.z}) {
                putI32(out, v);
            }
            putShortText(out, m.name);
            break;
        case MessageType::AvatarMoved:
            for (std::int32_t v : {m.session, m.x, m.y, m.z}) {
                putI32(out, v);
            }
            break;
        case MessageType::AvatarLeft:
            putI32(out, m.session);
            putShortText(out, m.name);
            break;
        case MessageType::Chat:
            putI32(out, m.session);
            putU8(out, m.chatType);
            putShortText(out, m.name);
            putLongText(out, m.text);
            break;
        case MessageType::ConsoleMessage:
            putU8(out, m.red);
            putU8(out, m.green);
            putU8(out, m.blue);
            putLongText(out, m.text);
            break;
        case MessageType::Error:
            putU8(out, static_cast<std::uint8_t>(m.request));
            putI32(out, m.code);
            break;
        case MessageType::Ping:
        case MessageType::Pong:
            break;
    }
}

bool knownType(std::uint8_t type) {
    return (type >= static_cast<std::uint8_t>(MessageType::Hello) &&
            type <= static_cast<std::uint8_t>(MessageType::Ping)) ||
           (type >= static_cast<std::uint8_t>(MessageType::Reply) &&
            type <= static_cast<std::uint8_t>(MessageType::Pong));
}

void decodeFields(BodyReader& in, Message& m) {
    switch (m.type) {
        case MessageType::Hello:
            m.magic = in.u32();
            m.version = in.u16();
            break;
        case MessageType::Login:
            m.kind = static_cast<LoginKind>(in.u8());
            if (m.kind != LoginKind::Avatar && m.kind != LoginKind::Bot) {
                in.fail();
            }
            m.citizen = in.i32();
            m.hearAll = in.u8();
            m.name = in.shortText(MAX_NAME_BYTES);
            m.password = in.shortText(MAX_NAME_BYTES);
            m.application = in.shortText(MAX_NAME_BYTES);
            break;
        case MessageType::Enter:
            m.name = in.shortText(MAX_NAME_BYTES);
            break;
        case MessageType::State:
            m.x = in.i32();
            m.y = in.i32();
            m.z = in.i32();
            m.heading = in.i32();
            m.gesture = in.i32();
            break;
        case MessageType::Say:
        case MessageType::Broadcast:
            m.text = in.longText(MAX_CHAT_BYTES);
            break;
        case MessageType::Whisper:
            m.session = in.i32();
            m.text = in.longText(MAX_CHAT_BYTES);
            break;
        case MessageType::Console: {
            m.red = in.u8();
            m.green = in.u8();
            m.blue = in.u8();
            m.text = in.longText(MAX_CONSOLE_BYTES);
            std::uint16_t count = in.u16();
            if (count > MAX_CONSOLE_TARGETS) {
                in.fail();
                break;
            }
            for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
                m.targets.push_back(in.i32());
            }
            break;
        }
        case MessageType::Reply:
            m.request = static_cast<MessageType>(in.u8());
            m.code = in.i32();
            m.value = in.i32();
            break;
        case MessageType::AvatarArrived:
            m.session = in.i32();
            m.citizen = in.i32();
            m.x = in.i32();
            m.y = in.i32();
            m.z = in.i32();
            m.name = in.shortText(MAX_NAME_BYTES);
            break;
        case MessageType::AvatarMoved:
            m.session = in.i32();
            m.x = in.i32();
            m.y = in.i32();
            m.z = in.i32();
            break;
        case MessageType::AvatarLeft:
            m.session = in.i32();
            m.name = in.shortText(MAX_NAME_BYTES);
            break;
        case MessageType::Chat:
            m.session = in.i32();
            m.chatType = in.u8();
            m.name = in.shortText(MAX_NAME_BYTES);
            m.text = in.longText(MAX_CHAT_BYTES);
            break;
        case MessageType::ConsoleMessage:
            m.red = in.u8();
            m.green = in.u8();
            m.blue = in.u8();
            m.text = in.longText(MAX_CONSOLE_BYTES);
            break;
        case MessageType::Error:
            m.request = static_cast<MessageType>(in.u8());
            m.code = in.i32();
            break;
        case MessageType::Ping:
        case MessageType::Pong:
            break;
    }
}

}  // namespace

bool encodeFrame(const Message& message, std::string& out) {
    if (!withinLimits(message)) {
        return false;
    }
    // The body is written in place after room for its length, which is
    // filled in once the body's size is known: no body of its own to
    // allocate and copy (a console message to a thousand is 4 KB of it).
    const std::size_t at = out.size();
    putU32(out, 0);
    putU8(out, static_cast<std::uint8_t>(message.type));
    encodeFields(message, out);
    const auto size = static_cast<std::uint32_t>(out.size() - at - 4);
    const char length[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                            static_cast<char>(size >> 8), static_cast<char>(size)};
    std::memcpy(out.data() + at, length, sizeof length);
    return true;
}

std::optional<Message> decodeBody(const std::string& body) {
    BodyReader in(body);
    std::uint8_t type = in.u8();
    if (!in.ok() || !knownType(type)) {
        return std::nullopt;
    }
    Message message;
    message.type = static_cast<MessageType>(type);
    decodeFields(in, message);
    if (!in.atEnd()) {
        return std::nullopt;
    }
    return message;
}

void FrameReader::append(const char* data, std::size_t size) {
    if (offset_ > 0 && offset_ == buffer_.size()) {
        buffer_.clear();
        offset_ = 0;
    } else if (offset_ > MAX_BODY_BYTES) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(data, size);
}

FrameReader::Status FrameReader::needMore() {
    // A large read leaves its room behind; keep only the partial frame, so
    // that an idle peer costs no more than its partial frame.
    if (buffer_.capacity() > FRAME_HEADER_BYTES + MAX_BODY_BYTES) {
        buffer_ = buffer_.substr(offset_);
        offset_ = 0;
    }
    return Status::NeedMore;
}

FrameReader::Status FrameReader::next(std::string& body) {
    if (buffered() < FRAME_HEADER_BYTES) {
        return needMore();
    }
    const auto* header = reinterpret_cast<const unsigned char*>(buffer_.data() + offset_);
    std::size_t length = (std::size_t{header[0]} << 24) | (std::size_t{header[1]} << 16) |
                         (std::size_t{header[2]} << 8) | std::size_t{header[3]};
    if (length == 0 || length > MAX_BODY_BYTES) {
        return Status::Malformed;
    }
    if (buffered() < FRAME_HEADER_BYTES + length) {
        return needMore();
    }
    body.assign(buffer_, offset_ + FRAME_HEADER_BYTES, length);
    offset_ += FRAME_HEADER_BYTES + length;
    return Status::Frame;
}

}  // namespace wire

namespace wire {

namespace {

// DEL is a control character, and 0x98 is the one byte Windows-1251 leaves
// unassigned: neither is text, and a terminal or log may act on them.
bool isNonText(unsigned char byte) {
    return byte == 0x7F || byte == 0x98;
}

}  // namespace

bool isCleanText(const std::string& text, bool allowTab) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && !(allowTab && c == '\t')) || isNonText(byte)) {
            return false;
        }
    }
    return true;
}

bool isCleanConsoleText(const std::string& text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || isNonText(byte)) {
            return false;
        }
    }
    return true;
}

}  // namespace wire

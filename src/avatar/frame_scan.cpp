#include "avatar/frame_scan.h"

namespace {

// Reads fields off a body view; after the first failure every read fails.
class ViewReader {
  public:
    explicit ViewReader(std::string_view body) : body_(body) {}
    bool atEnd() const { return ok_ && at_ == body_.size(); }
    std::uint32_t number(std::size_t bytes) {
        if (!has(bytes)) {
            return 0;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            value = (value << 8) | static_cast<std::uint8_t>(body_[at_++]);
        }
        return value;
    }
    std::string_view text(std::size_t lengthBytes, std::size_t limit) {
        const std::size_t length = number(lengthBytes);
        if (length > limit || !has(length)) {
            ok_ = false;
            return {};
        }
        std::string_view text = body_.substr(at_, length);
        at_ += length;
        return text;
    }

  private:
    bool has(std::size_t n) {
        ok_ = ok_ && body_.size() - at_ >= n;
        return ok_;
    }

    std::string_view body_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

std::size_t FrameScanner::bodyLength(const char* data) {
    const auto* header = reinterpret_cast<const unsigned char*>(data);
    const std::size_t length = (std::size_t{header[0]} << 24) | (std::size_t{header[1]} << 16) |
                               (std::size_t{header[2]} << 8) | std::size_t{header[3]};
    return length > wire::MAX_BODY_BYTES ? 0 : length;
}

std::optional<std::string_view> consoleText(std::string_view body) {
    ViewReader in(body);
    if (in.number(1) != static_cast<std::uint8_t>(wire::MessageType::ConsoleMessage)) {
        return std::nullopt;
    }
    in.number(3);  // the color
    std::string_view text = in.text(2, wire::MAX_CONSOLE_BYTES);
    if (!in.atEnd()) {
        return std::nullopt;
    }
    return text;
}

std::optional<ChatView> chatView(std::string_view body) {
    ViewReader in(body);
    if (in.number(1) != static_cast<std::uint8_t>(wire::MessageType::Chat)) {
        return std::nullopt;
    }
    ChatView chat;
    chat.session = static_cast<std::int32_t>(in.number(4));
    chat.chatType = static_cast<std::uint8_t>(in.number(1));
    chat.name = in.text(1, wire::MAX_NAME_BYTES);
    chat.text = in.text(2, wire::MAX_CHAT_BYTES);
    if (!in.atEnd()) {
        return std::nullopt;
    }
    return chat;
}

#pragma once

// Reading a world server's stream cheaply, for many avatars in one process:
// frames are cut in place from what one read brought, and the few messages a
// simulated avatar looks into are read as views, without building a message.
// Only an incomplete frame is kept between reads.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire_message.h"

class FrameScanner {
  public:
    // Cuts the whole frames out of the bytes of one read (after the partial
    // frame kept from the reads before) and calls onBody with each body, in
    // order; the view stays valid only during the call. Keeps what is left of
    // an incomplete frame. False, at once, when a frame announces 0 or more
    // than wire::MAX_BODY_BYTES, or when onBody returns false: the stream
    // cannot be trusted after that.
    template <typename OnBody>
    bool feed(const char* data, std::size_t size, OnBody&& onBody);
    std::size_t buffered() const { return partial_.size(); }

  private:
    // The length announced by a complete header at `data`, or 0 when malformed.
    static std::size_t bodyLength(const char* data);
    // Completes the kept partial frame from the new bytes; returns how many
    // bytes it took, or nothing when the frame is malformed.
    template <typename OnBody>
    std::optional<std::size_t> finishPartial(const char* data, std::size_t size, bool& refused,
                                             OnBody& onBody);

    std::string partial_;
};

// The fields of a Chat or ConsoleMessage body, viewed in place.
struct ChatView {
    std::int32_t session = 0;
    std::uint8_t chatType = 0;
    std::string_view name;
    std::string_view text;
};

// The body's type byte (the body is never empty).
inline wire::MessageType bodyType(std::string_view body) {
    return static_cast<wire::MessageType>(static_cast<std::uint8_t>(body[0]));
}
// The text of a ConsoleMessage body; nothing when the body is not exactly one.
std::optional<std::string_view> consoleText(std::string_view body);
// A Chat body; nothing when the body is not exactly one.
std::optional<ChatView> chatView(std::string_view body);

template <typename OnBody>
bool FrameScanner::feed(const char* data, std::size_t size, OnBody&& onBody) {
    std::size_t at = 0;
    if (!partial_.empty()) {
        bool refused = false;
        std::optional<std::size_t> taken = finishPartial(data, size, refused, onBody);
        if (!taken || refused) {
            return false;
        }
        if (!partial_.empty()) {
            return true;  // every byte went into the frame still incomplete
        }
        at = *taken;
    }
    while (size - at >= wire::FRAME_HEADER_BYTES) {
        const std::size_t length = bodyLength(data + at);
        if (length == 0) {
            return false;
        }
        if (size - at - wire::FRAME_HEADER_BYTES < length) {
            break;
        }
        if (!onBody(std::string_view(data + at + wire::FRAME_HEADER_BYTES, length))) {
            return false;
        }
        at += wire::FRAME_HEADER_BYTES + length;
    }
    partial_.assign(data + at, size - at);
    if (partial_.empty() && partial_.capacity() > 1024) {
        std::string().swap(partial_);  // a rare long frame leaves no large buffer behind
    }
    return true;
}

template <typename OnBody>
std::optional<std::size_t> FrameScanner::finishPartial(const char* data, std::size_t size,
                                                       bool& refused, OnBody& onBody) {
    std::size_t taken = 0;
    if (partial_.size() < wire::FRAME_HEADER_BYTES) {
        taken = std::min(size, wire::FRAME_HEADER_BYTES - partial_.size());
        partial_.append(data, taken);
        if (partial_.size() < wire::FRAME_HEADER_BYTES) {
            return taken;
        }
    }
    const std::size_t length = bodyLength(partial_.data());
    if (length == 0) {
        return std::nullopt;
    }
    const std::size_t wanted = wire::FRAME_HEADER_BYTES + length - partial_.size();
    const std::size_t more = std::min(wanted, size - taken);
    partial_.append(data + taken, more);
    taken += more;
    if (more == wanted) {
        refused = !onBody(std::string_view(partial_).substr(wire::FRAME_HEADER_BYTES));
        partial_.clear();
    }
    return taken;
}

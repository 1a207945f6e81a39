#include "server/output_queue.h"

#include <algorithm>

namespace {

// What the allocator keeps beside each block it hands out.
constexpr std::size_t ALLOCATION_OVERHEAD = 16;

}  // namespace

std::size_t OutputQueue::heldBy(std::size_t capacity) {
    // The string object sits in the deque's blocks; its bytes (and a
    // terminating zero) in a block of their own.
    return sizeof(std::string) + capacity + 1 + ALLOCATION_OVERHEAD;
}

bool OutputQueue::alone(std::size_t size) const {
    return back_ == nullptr && size <= CHUNK_BYTES;
}

std::size_t OutputQueue::costOf(std::size_t size) const {
    const std::size_t room = back_ != nullptr ? backRoom_ : 0;
    if (size <= room) {
        return 0;
    }
    if (alone(size)) {
        // A string never holds less than its built-in room.
        static const std::size_t builtIn = std::string().capacity();
        return heldBy(std::max(size, builtIn));
    }
    const std::size_t chunks = (size - room + CHUNK_BYTES - 1) / CHUNK_BYTES;
    return chunks * heldBy(CHUNK_BYTES);
}

std::size_t OutputQueue::addChunk(std::size_t capacity) {
    std::string chunk;
    chunk.reserve(capacity);
    chunks_.push_back(std::move(chunk));
    back_ = &chunks_.back();
    backRoom_ = back_->capacity();
    const std::size_t added = heldBy(back_->capacity());
    held_ += added;
    return added;
}

std::size_t OutputQueue::push(std::string_view frame) {
    std::size_t added = 0;
    if (alone(frame.size())) {
        added += addChunk(frame.size());
    }
    while (!frame.empty()) {
        if (back_ == nullptr || backRoom_ == 0) {
            added += addChunk(CHUNK_BYTES);
        }
        const std::size_t part = std::min(frame.size(), backRoom_);
        back_->append(frame.data(), part);
        backRoom_ -= part;
        frame.remove_prefix(part);
    }
    return added;
}

int OutputQueue::gather(net::Piece* pieces, int max) const {
    int filled = 0;
    std::size_t skip = offset_;
    for (auto chunk = chunks_.begin(); chunk != chunks_.end() && filled < max; ++chunk) {
        pieces[filled].data = chunk->data() + skip;
        pieces[filled].size = chunk->size() - skip;
        ++filled;
        skip = 0;
    }
    return filled;
}

void OutputQueue::consume(std::size_t sent) {
    while (!chunks_.empty() && sent > 0) {
        const std::size_t left = chunks_.front().size() - offset_;
        if (sent < left) {
            offset_ += sent;
            return;
        }
        sent -= left;
        held_ -= heldBy(chunks_.front().capacity());
        chunks_.pop_front();
        offset_ = 0;
        if (chunks_.empty()) {
            back_ = nullptr;
        }
    }
}

void OutputQueue::clear() {
    std::deque<std::string>().swap(chunks_);
    back_ = nullptr;
    offset_ = 0;
    held_ = 0;
}

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

bool OutputQueue::fitsBack(std::size_t size) const {
    return back_ != nullptr && backRoom_ >= size;
}

std::size_t OutputQueue::newChunkCapacity(std::size_t size) const {
    if (back_ == nullptr) {
        // A string never holds less than its built-in room.
        static const std::size_t builtIn = std::string().capacity();
        return std::max(size, builtIn);
    }
    return std::max(size, CHUNK_BYTES);
}

std::size_t OutputQueue::costOf(std::size_t size) const {
    return fitsBack(size) ? 0 : heldBy(newChunkCapacity(size));
}

std::size_t OutputQueue::push(const std::string& frame) {
    std::size_t added = 0;
    if (!fitsBack(frame.size())) {
        std::string chunk;
        chunk.reserve(newChunkCapacity(frame.size()));
        chunks_.push_back(std::move(chunk));
        back_ = &chunks_.back();
        added = heldBy(back_->capacity());
        held_ += added;
    }
    *back_ += frame;
    backRoom_ = back_->capacity() - back_->size();
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

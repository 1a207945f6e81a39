#include "server/output_queue.h"

namespace {

// What the allocator keeps beside each block it hands out.
constexpr std::size_t ALLOCATION_OVERHEAD = 16;

}  // namespace

std::size_t OutputQueue::costOf(std::size_t size) {
    // The string object itself sits in the deque's blocks; its bytes (and a
    // terminating zero) in a block of their own.
    return sizeof(std::string) + size + 1 + ALLOCATION_OVERHEAD;
}

void OutputQueue::push(const std::string& frame) {
    frames_.emplace_back(frame);
    held_ += costOf(frame.size());
}

int OutputQueue::gather(iovec* iov, int max) const {
    int filled = 0;
    std::size_t skip = offset_;
    for (auto frame = frames_.begin(); frame != frames_.end() && filled < max; ++frame) {
        iov[filled].iov_base = const_cast<char*>(frame->data() + skip);
        iov[filled].iov_len = frame->size() - skip;
        ++filled;
        skip = 0;
    }
    return filled;
}

void OutputQueue::consume(std::size_t sent) {
    while (!frames_.empty() && sent > 0) {
        const std::size_t left = frames_.front().size() - offset_;
        if (sent < left) {
            offset_ += sent;
            return;
        }
        sent -= left;
        held_ -= costOf(frames_.front().size());
        frames_.pop_front();
        offset_ = 0;
    }
}

void OutputQueue::clear() {
    std::deque<std::string>().swap(frames_);
    offset_ = 0;
    held_ = 0;
}

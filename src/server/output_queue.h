#pragma once

// The output waiting for one client: whole frames in the order queued, sent
// from the front. It counts the memory it holds (each frame's storage and
// bookkeeping, not just its bytes), and gives every frame's memory back once
// that frame is sent, so a queue that was once long holds nothing later.

#include <sys/uio.h>

#include <cstddef>
#include <deque>
#include <string>

class OutputQueue {
  public:
    // The memory one queued frame of `size` bytes holds.
    static std::size_t costOf(std::size_t size);

    bool empty() const { return frames_.empty(); }
    // Memory held by the waiting frames: the sum of their costOf.
    std::size_t heldBytes() const { return held_; }

    // Queues a copy of the frame (its storage exactly its size).
    void push(const std::string& frame);
    // Points up to `max` iovecs at the unsent bytes, front first; returns how
    // many it filled. They stay valid until the next push, consume or clear.
    int gather(iovec* iov, int max) const;
    // Forgets the first `sent` unsent bytes (at most all of them), releasing
    // every frame sent whole.
    void consume(std::size_t sent);
    // Forgets everything and releases its memory.
    void clear();

  private:
    std::deque<std::string> frames_;
    std::size_t offset_ = 0;  // bytes of the front frame already sent
    std::size_t held_ = 0;
};

#pragma once

// The output waiting for one client, in the order queued, sent from the
// front. Small frames are packed into chunks of CHUNK_BYTES, so that a
// newcomer's thousands of arrivals cost a few hundred allocations and leave in
// a few large writes, while a partly filled chunk wastes little of the
// client's output budget; a chunk's memory goes back as soon as it is sent whole, so a
// queue that was once long holds nothing later. It counts the memory it holds
// (each chunk's storage and bookkeeping, not just its bytes).

#include <cstddef>
#include <deque>
#include <string>

#include "platform/net.h"

class OutputQueue {
  public:
    static constexpr std::size_t CHUNK_BYTES = 2048;

    OutputQueue() = default;
    // Moved, its chunks stay where they are; a copy would point into the
    // original's.
    OutputQueue(OutputQueue&&) = default;
    OutputQueue& operator=(OutputQueue&&) = default;
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // What queuing a frame of `size` bytes would add to heldBytes.
    std::size_t costOf(std::size_t size) const;

    bool empty() const { return chunks_.empty(); }
    // Memory held by the waiting output.
    std::size_t heldBytes() const { return held_; }

    // Queues a copy of the frame; returns what that added to heldBytes (at
    // most costOf its size).
    std::size_t push(const std::string& frame);
    // Points up to `max` pieces at the unsent bytes, front first; returns how
    // many it filled. They stay valid until the next push, consume or clear.
    int gather(net::Piece* pieces, int max) const;
    // Forgets the first `sent` unsent bytes (at most all of them), releasing
    // every chunk sent whole.
    void consume(std::size_t sent);
    // Forgets everything and releases its memory.
    void clear();

  private:
    static std::size_t heldBy(std::size_t capacity);
    bool fitsBack(std::size_t size) const;
    // The room a new chunk for a frame of `size` bytes is given: the frame
    // alone when nothing waits (the usual case, one frame a turn), else
    // CHUNK_BYTES (or the frame, when larger).
    std::size_t newChunkCapacity(std::size_t size) const;

    std::deque<std::string> chunks_;
    // The last chunk, where frames are added; a deque keeps it in place as
    // chunks come and go at its ends. Null when there is none.
    std::string* back_ = nullptr;
    // The room left in it, kept here so that a frame's cost is known without
    // a look at the chunk.
    std::size_t backRoom_ = 0;
    std::size_t offset_ = 0;  // bytes of the front chunk already sent
    std::size_t held_ = 0;
};

#pragma once

// The output waiting for one client, in the order queued, sent from the
// front. Frames are packed into chunks of CHUNK_BYTES, a large one spread
// over several, so that a newcomer's thousands of arrivals cost a few hundred
// allocations and leave in a few large writes, while a partly filled chunk
// wastes little of the client's output budget; and since chunks are all of
// one size, the memory of those sent serves the next ones rather than
// scattering the heap. A chunk's memory goes back as soon as it is sent
// whole, so a queue that was once long holds nothing later. It counts the
// memory it holds (each chunk's storage and bookkeeping, not just its bytes).

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

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
    std::size_t push(std::string_view frame);
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
    // True when a frame of `size` bytes gets a chunk of its own, just its
    // size: when nothing waits and it fits one chunk (the usual case, one
    // frame a turn).
    bool alone(std::size_t size) const;
    // Adds an empty chunk with room for `capacity` bytes; returns what it
    // added to heldBytes.
    std::size_t addChunk(std::size_t capacity);

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

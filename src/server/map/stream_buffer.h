#pragma once

// The bytes waiting for one page's stream, with a bound: a page that does not
// read its stream cannot make the world hold more than `bound` bytes for it.
// Once an append would pass the bound, the buffer overflows for good: it is
// emptied and refuses every later append, and its owner drops the page.

#include <cstddef>
#include <string>
#include <string_view>

class StreamBuffer {
  public:
    explicit StreamBuffer(std::size_t bound) : bound_(bound) {}

    // Appends the bytes whole; false (and overflowed from now on) when the
    // backlog would pass the bound, or when it already overflowed.
    bool append(std::string_view bytes);
    // Moves up to `max` waiting bytes, oldest first, to `out`; their count.
    std::size_t take(char* out, std::size_t max);
    // Bytes waiting.
    std::size_t size() const { return data_.size() - read_; }
    bool overflowed() const { return overflowed_; }

  private:
    std::string data_;
    std::size_t read_ = 0;  // bytes of data_ already taken
    std::size_t bound_;
    bool overflowed_ = false;
};

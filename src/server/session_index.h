#pragma once

// The socket of each session, found in one probe of a flat table: a console
// message names up to a thousand sessions, and each is looked up. Open
// addressing with linear probing; a removal shifts the entries after it
// back, so the table never fills with tombstones however many sessions
// come and go.

#include <cstdint>
#include <vector>

class SessionIndex {
  public:
    SessionIndex();

    // Session numbers are above 0; a session is added at most once.
    void add(int session, int socket);
    void remove(int session);
    // The socket of the session, or -1.
    int find(int session) const {
        for (std::size_t slot = home(session);; slot = (slot + 1) & mask_) {
            if (slots_[slot].session == session) {
                return slots_[slot].socket;
            }
            if (slots_[slot].session == 0) {
                return -1;
            }
        }
    }
    std::size_t size() const { return size_; }

  private:
    struct Slot {
        int session = 0;  // 0: empty
        int socket = -1;
    };
    std::size_t home(int session) const {
        // Fibonacci hashing spreads consecutive numbers over the table.
        return static_cast<std::size_t>(static_cast<std::uint32_t>(session) * 2654435769u) & mask_;
    }
    void grow();

    std::vector<Slot> slots_;
    std::size_t mask_;
    std::size_t size_ = 0;
};

#include "server/session_index.h"

#include <utility>

namespace {

constexpr std::size_t FIRST_SLOTS = 64;

}  // namespace

SessionIndex::SessionIndex() : slots_(FIRST_SLOTS), mask_(FIRST_SLOTS - 1) {}

void SessionIndex::add(int session, int socket) {
    // At most half full, so that a probe ends soon.
    if ((size_ + 1) * 2 > slots_.size()) {
        grow();
    }
    std::size_t slot = home(session);
    while (slots_[slot].session != 0) {
        slot = (slot + 1) & mask_;
    }
    slots_[slot] = {session, socket};
    ++size_;
}

void SessionIndex::remove(int session) {
    std::size_t slot = home(session);
    while (slots_[slot].session != session) {
        if (slots_[slot].session == 0) {
            return;
        }
        slot = (slot + 1) & mask_;
    }
    // Shift back every entry after it that would no longer be found.
    std::size_t hole = slot;
    for (std::size_t next = (hole + 1) & mask_; slots_[next].session != 0;
         next = (next + 1) & mask_) {
        const std::size_t wanted = home(slots_[next].session);
        // It may fill the hole when its home is not between the hole and it.
        const bool between =
            hole <= next ? (hole < wanted && wanted <= next) : (hole < wanted || wanted <= next);
        if (!between) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = Slot{};
    --size_;
}

void SessionIndex::grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    size_ = 0;
    for (const Slot& entry : old) {
        if (entry.session != 0) {
            add(entry.session, entry.socket);
        }
    }
}

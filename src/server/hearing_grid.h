#pragma once

// Where the avatars of one world stand, in cubes as wide as the hearing
// range, so that whoever can hear a said line is among the avatars of the
// 27 cubes around the speaker: a line costs in proportion to those near it,
// not to everyone in the world. Avatars are named by a small number of the
// caller's (the socket).

#include <cstdint>
#include <unordered_map>
#include <vector>

class HearingGrid {
  public:
    explicit HearingGrid(int hearingRange);

    // Puts the avatar at the position, or moves it there.
    void place(int avatar, int x, int y, int z);
    void remove(int avatar);

    // Calls `visit(avatar)` for every avatar in the cubes around the
    // position (the avatar itself included); the caller checks the range.
    // The grid must not change during the calls.
    template <typename Visit>
    void forEachNear(int x, int y, int z, Visit&& visit) const {
        const Key centre = keyOf(x, y, z);
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const auto cell = cells_.find({centre.x + dx, centre.y + dy, centre.z + dz});
                    if (cell != cells_.end()) {
                        for (int avatar : cell->second) {
                            visit(avatar);
                        }
                    }
                }
            }
        }
    }

  private:
    struct Key {
        std::int64_t x, y, z;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };
    struct Where {
        Key key{};
        std::size_t index = 0;
        bool placed = false;
    };
    Key keyOf(int x, int y, int z) const;

    std::int64_t cellSize_;
    std::unordered_map<Key, std::vector<int>, KeyHash> cells_;
    std::vector<Where> where_;  // by avatar
};

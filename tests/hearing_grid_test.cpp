#include "server/hearing_grid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace {

bool within(int a, int b, int range) {
    const std::int64_t d = static_cast<std::int64_t>(a) - b;
    return d <= range && d >= -static_cast<std::int64_t>(range);
}

}  // namespace

// Whoever is within the range on every axis is among those visited, for
// positions on both sides of 0, on cell borders and at the ends of int,
// while avatars move and leave.
TEST(HearingGrid, EveryoneWithinRangeIsVisitedAsTheyMoveAndLeave) {
    for (int range : {0, 1, 20000, 2147483647}) {
        HearingGrid grid(range);
        std::mt19937 random(7);
        const std::vector<int> special = {
            0, -1, 1, range, -range, 2 * (range % 1000000), -2147483647 - 1, 2147483647};
        auto coordinate = [&] {
            std::uniform_int_distribution<int> pick(0, 3);
            if (pick(random) == 0) {
                return special[random() % special.size()];
            }
            std::uniform_int_distribution<int> near(-3 * (range % 1000000) - 5,
                                                    3 * (range % 1000000) + 5);
            return near(random);
        };
        struct Position {
            int x, y, z;
            bool present;
        };
        std::vector<Position> avatars(60, {0, 0, 0, false});
        for (int step = 0; step < 3000; ++step) {
            const int who = static_cast<int>(random() % avatars.size());
            if (random() % 5 == 0) {
                grid.remove(who);
                avatars[who].present = false;
            } else {
                avatars[who] = {coordinate(), coordinate(), coordinate(), true};
                grid.place(who, avatars[who].x, avatars[who].y, avatars[who].z);
            }
            const Position& speaker = avatars[random() % avatars.size()];
            std::multiset<int> visited;
            grid.forEachNear(speaker.x, speaker.y, speaker.z, [&](int a) { visited.insert(a); });
            for (int a = 0; a < static_cast<int>(avatars.size()); ++a) {
                const Position& p = avatars[a];
                const bool hears = p.present && within(p.x, speaker.x, range) &&
                                   within(p.y, speaker.y, range) && within(p.z, speaker.z, range);
                ASSERT_LE(visited.count(a), 1u) << range;
                if (hears) {
                    ASSERT_EQ(visited.count(a), 1u) << "range " << range << " step " << step;
                }
                if (!p.present) {
                    ASSERT_EQ(visited.count(a), 0u);
                }
            }
        }
    }
}

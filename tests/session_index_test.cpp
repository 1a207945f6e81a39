#include "server/session_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

// Against a map, through growth and removals in any order, so that every
// entry stays findable after the entries before it were shifted back.
TEST(SessionIndex, FindsWhatAMapFindsThroughGrowthAndRemovals) {
    SessionIndex index;
    std::map<int, int> expected;
    std::mt19937 random(3);
    int next = 1;
    for (int step = 0; step < 20000; ++step) {
        if (expected.empty() || random() % 3 != 0) {
            index.add(next, next * 7 % 1000);
            expected[next] = next * 7 % 1000;
            ++next;
        } else {
            auto victim = expected.begin();
            std::advance(victim, static_cast<long>(random() % expected.size()));
            index.remove(victim->first);
            expected.erase(victim);
        }
        if (step % 97 == 0) {
            for (int session = 1; session < next; ++session) {
                const auto found = expected.find(session);
                ASSERT_EQ(index.find(session), found == expected.end() ? -1 : found->second)
                    << "session " << session << " at step " << step;
            }
        }
    }
    EXPECT_EQ(index.size(), expected.size());
    index.remove(next + 5);  // absent: nothing happens
    EXPECT_EQ(index.size(), expected.size());
}

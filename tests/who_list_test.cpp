#include "avatar/who_list.h"

#include <gtest/gtest.h>

#include "text/cp1251.h"

namespace {

SeenAvatar at(const std::string& name, int x, int y, int z) {
    return SeenAvatar{name, 0, x, y, z};
}

}  // namespace

TEST(WhoList, HearingIsDecidedOnEveryAxisWithTheRangeIncluded) {
    const Position you{60000, 0, 60000};  // 60N 60W
    struct Case {
        SeenAvatar avatar;
        bool botPresent;
        Hearing hearing;
    };
    const Case cases[] = {
        {at("a", 60000, 0, 60000), false, Hearing::Directly},
        {at("a", 80000, 0, 40000), false, Hearing::Directly},           // 20000 on two axes
        {at("a", 80001, 0, 60000), true, Hearing::ThroughTheBot},       // one unit past on x
        {at("a", 60000, -20001, 60000), true, Hearing::ThroughTheBot},  // altitude counts
        {at("a", 60000, 0, 39999), true, Hearing::ThroughTheBot},
        {at("a", 60000, 0, 39999), false, Hearing::NotAtAll},
        {at("[Bot]", 0, 0, 0), true, Hearing::IsABot},
        {at("a", -2147483647, 0, 60000), true, Hearing::ThroughTheBot},  // no overflow
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hearingOf(c.avatar, you, 20000, c.botPresent), c.hearing)
            << c.avatar.x << " " << c.avatar.y << " " << c.avatar.z;
    }
}

TEST(WhoList, LinesGiveThePlaceTheDistancePerAxisAndTheHearing) {
    const Position you{60000, 0, 60000};
    const std::map<int, SeenAvatar> present = {
        {1, at("[Tintbeacon]", 0, 0, 0)},
        {4, at(ru("Ёж"), 60500, 1000, 59000)},
        {9, at("Far", -10000, 0, 100000)},
    };
    EXPECT_EQ(whoLines(present, you, 20000, TerminalEncoding::Utf8),
              (std::vector<std::string>{
                  "  you are at 60N 60W",
                  "  #1 [Tintbeacon] at 0N 0W, 60S 60E from you: a bot",
                  "  #4 Ёж at 59N 60.5W 1a, 1S 0.5W 1a from you: hears you directly",
                  "  #9 Far at 100N 10E, 40N 70E from you: hears you through the bot",
              }));

    const std::map<int, SeenAvatar> noBot = {{9, at("Far", -10000, 0, 100000)}};
    EXPECT_EQ(
        whoLines(noBot, you, 20000, TerminalEncoding::Cp1251).back(),
        "  #9 Far at 100N 10E, 40N 70E from you: out of hearing, and no bot is here to relay");
    EXPECT_EQ(whoLines({}, Position{}, 20000, TerminalEncoding::Utf8),
              (std::vector<std::string>{"  you are at 0N 0W", "  nobody else is here"}));
}

#include "world/avatar_roster.h"

#include <gtest/gtest.h>

#include "support/bot_fixture.h"
#include "support/line_ends.h"
#include "text/cp1251.h"
#include "world/chat_log.h"

namespace {

class AvatarRosterTest : public BotTest {
protected:
    void SetUp() override {
        BotTest::SetUp();
        openChatLog(CHAT_LOG_FILE);
        SdkSetEventHandler(SDK_EVENT_AVATAR_ARRIVED, onAvatarArrived);
        SdkSetEventHandler(SDK_EVENT_AVATAR_MOVED, onAvatarMoved);
        SdkSetEventHandler(SDK_EVENT_AVATAR_LEFT, onAvatarLeft);
    }
    void deliver(std::vector<SdkEvent> events) {
        sdk.queueEvents(std::move(events));
        SdkProcessEvents(0);
    }
    // The roster as "session name x y z citizen" rows, which also checks that
    // the six lists stay equally long.
    static std::vector<std::string> rows() {
        const auto n = AvatarRoster.sessions.size();
        EXPECT_EQ(AvatarRoster.names.size(), n);
        EXPECT_EQ(AvatarRoster.x.size(), n);
        EXPECT_EQ(AvatarRoster.y.size(), n);
        EXPECT_EQ(AvatarRoster.z.size(), n);
        EXPECT_EQ(AvatarRoster.citizens.size(), n);
        std::vector<std::string> result;
        for (std::size_t i = 0; i < n; ++i) {
            result.push_back(std::to_string(AvatarRoster.sessions[i]) + " " + AvatarRoster.names[i] +
                             " " + std::to_string(AvatarRoster.x[i]) + " " +
                             std::to_string(AvatarRoster.y[i]) + " " +
                             std::to_string(AvatarRoster.z[i]) + " " +
                             std::to_string(AvatarRoster.citizens[i]));
        }
        return result;
    }
    void arriveThree() {
        deliver({avatarArrived(11, "Ann", 1, 2, 3, 101), avatarArrived(12, "Bob", 4, 5, 6, 0),
                 avatarArrived(13, "Cid", 7, 8, 9, 103)});
    }
};

TEST_F(AvatarRosterTest, ArrivalsAreAnnouncedAndAddedInOrderDuplicatesAnnouncedOnly) {
    arriveThree();
    deliver({avatarArrived(12, "Impostor", 70, 80, 90, 555)});
    EXPECT_EQ(rows(), (std::vector<std::string>{"11 Ann 1 2 3 101", "12 Bob 4 5 6 0",
                                               "13 Cid 7 8 9 103"}));
    const std::vector<std::string> announced = {"Ann зашел(а) в мир", "Bob зашел(а) в мир",
                                                "Cid зашел(а) в мир", "Impostor зашел(а) в мир"};
    EXPECT_EQ(outputLines(), announced);
    EXPECT_EQ(splitLines(cp1251ToUtf8(readFile("chat.txt"))), announced);
}

TEST_F(AvatarRosterTest, DepartureRemovesExactlyThatEntryWherePlaced) {
    const struct {
        int session;
        std::vector<std::string> remaining;
    } cases[] = {
        {11, {"12 Bob 4 5 6 0", "13 Cid 7 8 9 103"}},
        {12, {"11 Ann 1 2 3 101", "13 Cid 7 8 9 103"}},
        {13, {"11 Ann 1 2 3 101", "12 Bob 4 5 6 0"}},
        {99, {"11 Ann 1 2 3 101", "12 Bob 4 5 6 0", "13 Cid 7 8 9 103"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.session);
        resetAvatarRoster();
        arriveThree();
        clearOutput();
        deliver({avatarLeft(c.session, "Gone")});
        EXPECT_EQ(rows(), c.remaining);
        EXPECT_EQ(outputLines(), std::vector<std::string>{"Gone вышел(а) из мира"});
    }
    EXPECT_EQ(indexOfSession(13), 2);
    EXPECT_EQ(indexOfSession(99), -1);
}

TEST_F(AvatarRosterTest, MovesChangeOnlyThePositionOfKnownSessionsSilently) {
    arriveThree();
    clearOutput();
    deliver({avatarMoved(12, -40000, 50, 2147483647), avatarMoved(77, 1, 1, 1)});
    EXPECT_EQ(rows(), (std::vector<std::string>{"11 Ann 1 2 3 101", "12 Bob -40000 50 2147483647 0",
                                               "13 Cid 7 8 9 103"}));
    EXPECT_EQ(output(), "");
}

TEST_F(AvatarRosterTest, NonAsciiNamesAreKeptByteForByteAfterTheEventIsGone) {
    const std::string name = ru("Ёжик") + "\x98\xFF~";
    deliver({avatarArrived(5, name, 0, 0, 0, 7)});
    deliver({});  // the SDK's texts of the earlier call are gone now
    EXPECT_EQ(AvatarRoster.names.at(0), name);
    EXPECT_EQ(readFile("chat.txt"), withLineEnds(name + ru(" зашел(а) в мир") + "\n"));
    deliver({avatarLeft(5, name)});
    EXPECT_EQ(readFile("chat.txt"), withLineEnds(name + ru(" зашел(а) в мир") + "\n" + name +
                                                 ru(" вышел(а) из мира") + "\n"));
}

}  // namespace

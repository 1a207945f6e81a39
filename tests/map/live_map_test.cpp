#include "server/map/live_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/map/map_events.h"

namespace {

std::string drain(MapStream& stream) {
    std::string out;
    char bytes[4096];
    std::size_t n;
    while ((n = stream.buffer.take(bytes, sizeof bytes)) > 0) {
        out.append(bytes, n);
    }
    return out;
}

std::string frames(const std::vector<std::string>& events) {
    std::string out;
    for (const std::string& event : events) {
        out += sseFrame(event);
    }
    return out;
}

const ObservedAvatar BOT{1, 1, true, "[Tintbeacon]", "welcome", 0, 0, 0};
const ObservedAvatar ANN{2, 7, false, "Ann", "welcome", 100, 0, 100};
const ObservedAvatar BOB{3, 0, false, "Bob", "welcome", 60000, 0, 60000};

}  // namespace

TEST(LiveMap, ANewStreamStartsWithTheWorldAsItIs) {
    LiveMap map({"welcome"}, 20000, 1 << 20);
    map.arrived(BOT);
    map.arrived(ANN);
    map.arrived(BOB);
    map.moved(2, 5, 6, 7);
    map.left(3);
    MapStream* stream = map.open();
    ObservedAvatar movedAnn = ANN;
    movedAnn.x = 5;
    movedAnn.y = 6;
    movedAnn.z = 7;
    EXPECT_EQ(drain(*stream), frames({helloEvent({"welcome"}, 20000), arrivedEvent(BOT),
                                      arrivedEvent(movedAnn), readyEvent()}));
}

TEST(LiveMap, ChangesArePublishedToEveryStreamAndWakeIt) {
    LiveMap map({"welcome"}, 20000, 1 << 20);
    MapStream* first = map.open();
    MapStream* second = map.open();
    drain(*first);
    drain(*second);
    int wakes = 0;
    first->wake = [&wakes] { ++wakes; };
    map.arrived(ANN);
    map.moved(2, 1, 2, 3);
    map.moved(99, 1, 2, 3);  // nobody by that session: nothing
    map.said(2, "hi");
    map.left(2);
    map.left(2);  // already gone: nothing
    const std::string expected =
        frames({arrivedEvent(ANN), movedEvent(2, 1, 2, 3), saidEvent(2, "hi"), leftEvent(2)});
    EXPECT_EQ(drain(*first), expected);
    EXPECT_EQ(drain(*second), expected);
    EXPECT_EQ(wakes, 4);
    map.close(first);
    map.close(second);
    EXPECT_EQ(map.streamCount(), 0u);
}

TEST(LiveMap, AConsoleMessageNamesTheLatestSpeakerOfItsLine) {
    LiveMap map({"welcome"}, 20000, 1 << 20);
    map.arrived(BOT);
    map.arrived(ANN);
    map.arrived(BOB);
    MapStream* stream = map.open();
    map.said(2, "same words");
    map.said(3, "same words");
    map.said(2, "other");
    drain(*stream);
    struct Case {
        std::string text;
        int speaker;
    };
    const std::vector<Case> cases = {
        {"Bob:\tsame words", 3}, {"Ann:\tsame words", 2},
        {"Ann:\tother", 2},      {"Bob:\tother", 0},  // Bob never said it
        {"Ann: other", 0},                            // not the relayed form
        {"Help text", 0},                             // the bot's own words
    };
    for (const Case& c : cases) {
        map.consoleSent(1, 10, 20, 30, c.text, {3});
        EXPECT_EQ(drain(*stream), sseFrame(consoleEvent(1, c.speaker, 10, 20, 30, c.text, {3})))
            << c.text;
    }
}

TEST(LiveMap, OnlyTheLastSaidLinesArePaired) {
    LiveMap map({"welcome"}, 20000, 1 << 20);
    map.arrived(ANN);
    map.said(2, "first");
    map.said(2, "again");
    for (std::size_t i = 0; i + 1 < RECENT_SAID_LINES; ++i) {
        map.said(2, "line " + std::to_string(i));
    }
    map.said(2, "again");  // said anew: remembered though its first saying is forgotten
    MapStream* stream = map.open();
    drain(*stream);
    map.consoleSent(1, 0, 0, 0, "Ann:\tfirst", {3});
    map.consoleSent(1, 0, 0, 0, "Ann:\tagain", {3});
    EXPECT_EQ(drain(*stream), frames({consoleEvent(1, 0, 0, 0, 0, "Ann:\tfirst", {3}),
                                      consoleEvent(1, 2, 0, 0, 0, "Ann:\tagain", {3})}));
}

TEST(LiveMap, AStreamPastItsBoundGetsNothingMoreAndOthersCarryOn) {
    LiveMap map({"welcome"}, 20000, 256);
    MapStream* stuck = map.open();
    MapStream* reading = map.open();
    int stuckWakes = 0;
    stuck->wake = [&stuckWakes] { ++stuckWakes; };
    map.arrived(ANN);
    std::string received = drain(*reading);
    for (int i = 0; i < 20; ++i) {
        map.said(2, "a line of some length, " + std::to_string(i));
        received += drain(*reading);
    }
    EXPECT_TRUE(stuck->buffer.overflowed());
    EXPECT_EQ(stuck->buffer.size(), 0u);
    const int wakesAtOverflow = stuckWakes;
    map.said(2, "later");
    EXPECT_EQ(stuckWakes, wakesAtOverflow);  // told once, then left alone
    EXPECT_FALSE(reading->buffer.overflowed());
    EXPECT_NE(received.find("a line of some length, 19"), std::string::npos);
}

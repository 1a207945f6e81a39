#include "server/map/live_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "server/map/map_events.h"

namespace {

std::string drain(LiveMap& map, MapStream* stream) {
    std::string out;
    char bytes[4096];
    std::size_t n;
    while ((n = map.read(stream, bytes, sizeof bytes)) > 0) {
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
    EXPECT_EQ(drain(map, stream), frames({helloEvent({"welcome"}, 20000), arrivedEvent(BOT),
                                          arrivedEvent(movedAnn), readyEvent()}));
}

TEST(LiveMap, ChangesArePublishedToEveryStreamAndWakeIt) {
    LiveMap map({"welcome"}, 20000, 1 << 20);
    MapStream* first = map.open();
    MapStream* second = map.open();
    drain(map, first);
    drain(map, second);
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
    EXPECT_EQ(drain(map, first), expected);
    EXPECT_EQ(drain(map, second), expected);
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
    drain(map, stream);
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
        EXPECT_EQ(drain(map, stream), sseFrame(consoleEvent(1, c.speaker, 10, 20, 30, c.text, {3})))
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
    drain(map, stream);
    map.consoleSent(1, 0, 0, 0, "Ann:\tfirst", {3});
    map.consoleSent(1, 0, 0, 0, "Ann:\tagain", {3});
    EXPECT_EQ(drain(map, stream), frames({consoleEvent(1, 0, 0, 0, 0, "Ann:\tfirst", {3}),
                                          consoleEvent(1, 2, 0, 0, 0, "Ann:\tagain", {3})}));
}

TEST(LiveMap, AStreamPastItsBoundGetsNothingMoreAndOthersCarryOn) {
    LiveMap map({"welcome"}, 20000, 256);
    MapStream* stuck = map.open();
    MapStream* reading = map.open();
    int stuckWakes = 0;
    stuck->wake = [&stuckWakes] { ++stuckWakes; };
    map.arrived(ANN);
    std::string received = drain(map, reading);
    for (int i = 0; i < 20; ++i) {
        map.said(2, "a line of some length, " + std::to_string(i));
        received += drain(map, reading);
    }
    EXPECT_TRUE(stuck->buffer.overflowed());
    EXPECT_EQ(stuck->buffer.size(), 0u);
    const int wakesAtOverflow = stuckWakes;
    map.said(2, "later");
    EXPECT_EQ(stuckWakes, wakesAtOverflow);  // told once, then left alone
    EXPECT_FALSE(reading->buffer.overflowed());
    EXPECT_NE(received.find("a line of some length, 19"), std::string::npos);
}

namespace {

// What a page knows after reading the events: each avatar's place and world.
std::map<int, std::string> replay(const std::string& events, bool& ready) {
    std::map<int, std::string> known;
    std::size_t at = 0;
    while ((at = events.find("data: ", at)) != std::string::npos) {
        const std::size_t end = events.find("\n\n", at);
        const std::string json = events.substr(at + 6, end - at - 6);
        at = end;
        auto field = [&json](const std::string& name) {
            const std::size_t start = json.find("\"" + name + "\":") + name.size() + 3;
            return json.substr(start, json.find_first_of(",}", start) - start);
        };
        if (json.find("\"type\":\"ready\"") != std::string::npos) {
            ready = true;
        } else if (json.find("\"type\":\"arrived\"") != std::string::npos ||
                   json.find("\"type\":\"moved\"") != std::string::npos) {
            std::string& place = known[std::stoi(field("session"))];
            const std::string world = json.find("\"world\"") != std::string::npos
                                          ? field("world")
                                          : place.substr(0, place.find(' '));
            place = world + " " + field("x") + "," + field("z");
        } else if (json.find("\"type\":\"left\"") != std::string::npos) {
            known.erase(std::stoi(field("session")));
        }
    }
    return known;
}

}  // namespace

TEST(LiveMap, AWorldLargerThanTheBoundReachesAPageThatReadsWhileItChanges) {
    // 600 avatars with names that escape to six bytes a character: about
    // 300 KiB of first events against a 64 KiB bound. While the page reads
    // them in small pieces, the world changes around where it has got to.
    const std::size_t bound = 64 * 1024;
    LiveMap map({"welcome", "other"}, 20000, bound);
    std::map<int, std::string> world;  // what the page should end up knowing
    auto arrive = [&](int session, const std::string& in, int x) {
        map.arrived({session, 0, false, std::string(64, '<'), in, x, 0, x});
        world[session] = "\"" + in + "\" " + std::to_string(x) + "," + std::to_string(x);
    };
    for (int session = 1; session <= 600; ++session) {
        arrive(session, "welcome", session);
    }
    MapStream* stream = map.open();
    std::string received;
    std::size_t mostWaiting = 0;
    int step = 0;
    auto readSome = [&] {
        char bytes[1000];
        received.append(bytes, map.read(stream, bytes, sizeof bytes));
        mostWaiting = std::max(mostWaiting, stream->buffer.size());
        ++step;
    };
    while (received.find("\"type\":\"ready\"") == std::string::npos && step < 100000) {
        readSome();
        // Each step something changes: avatars told and not yet told move,
        // leave, come back in another world, and newcomers arrive.
        const int told = stream->toldThrough;
        const int someone = 1 + (step * 37) % 600;
        switch (step % 5) {
            case 0:
                map.moved(someone, step, 0, -step);
                if (auto found = world.find(someone); found != world.end()) {
                    found->second = found->second.substr(0, found->second.find(' ')) + " " +
                                    std::to_string(step) + "," + std::to_string(-step);
                }
                break;
            case 1:
                map.left(someone);
                world.erase(someone);
                break;
            case 2:
                map.left(someone);
                arrive(someone, "other", -step);
                break;
            case 3:
                arrive(600 + step, "welcome", step);
                break;
            default:
                map.said(told > 0 ? told : 1, "a line");
        }
    }
    bool ready = false;
    const std::map<int, std::string> known = replay(received + drain(map, stream), ready);
    EXPECT_TRUE(ready);
    EXPECT_FALSE(stream->buffer.overflowed());
    EXPECT_EQ(known, world);
    EXPECT_GT(received.size(), 4 * bound);
    // The first events never took more than their share of the backlog.
    EXPECT_LE(mostWaiting, MAP_FIRST_EVENTS_BYTES + 4096);
}

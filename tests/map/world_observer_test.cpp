// The world server tells its observer what it applied, in order.

#include "server/world_observer.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "server/world_server.h"
#include "support/test_avatar.h"

namespace {

// Records every call as one line; the server calls from its own thread.
class RecordingObserver : public WorldObserver {
  public:
    void arrived(const ObservedAvatar& a) override {
        add("arrived " + std::to_string(a.session) + " " + a.name + " " + a.world + " " +
            std::to_string(a.citizen) + (a.bot ? " bot" : "") + " at " + at(a.x, a.y, a.z));
    }
    void moved(int session, int x, int y, int z) override {
        add("moved " + std::to_string(session) + " to " + at(x, y, z));
    }
    void left(int session) override { add("left " + std::to_string(session)); }
    void said(int session, const std::string& text) override {
        add("said " + std::to_string(session) + " " + text);
    }
    void consoleSent(int sender, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                     const std::string& text, const std::vector<int>& receivers) override {
        std::ostringstream line;
        line << "console " << sender << " " << int{r} << "," << int{g} << "," << int{b} << " "
             << text << " to";
        for (int session : receivers) {
            line << " " << session;
        }
        add(line.str());
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

  private:
    static std::string at(int x, int y, int z) {
        return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z);
    }
    void add(std::string line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace

TEST(WorldObserver, IsToldOfPresenceSaidLinesAndDeliveredConsoleMessages) {
    ServerConfig config;
    config.port = 0;
    config.worlds = {"welcome", "other"};
    config.citizens = {{1, "demo"}};
    config.bots = {1};
    RecordingObserver observer;
    WorldServer server(config);
    server.setObserver(&observer);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    std::thread loop([&server] { server.run(); });

    auto bot = std::make_unique<TestAvatar>();
    auto ann = std::make_unique<TestAvatar>();
    auto bob = std::make_unique<TestAvatar>();
    ASSERT_EQ(bot->join(server.port(), "Tint", 1, "demo", "welcome", true), 0);
    ASSERT_EQ(ann->join(server.port(), "Ann"), 0);
    ASSERT_EQ(bob->join(server.port(), "Bob", 0, "", "other"), 0);
    ASSERT_EQ(ann->moveTo(-5, 6, 70000), 0);
    ann->say("hi \"all\"");
    ann->whisper(bot->session(), "not seen");
    ann->sync();
    // Bob is in another world and session 99 does not exist: only Ann counts.
    wire::Message console;
    console.type = wire::MessageType::Console;
    console.red = 1;
    console.green = 2;
    console.blue = 3;
    console.text = "Ann:\thi";
    console.targets = {ann->session(), bob->session(), 99};
    ASSERT_EQ(bot->connection().post(console), 0);
    bot->sync();
    ASSERT_EQ(bob->enter("welcome"), 0);
    const int annSession = ann->session();
    ann.reset();
    // Ann's departure and Bob's request come on two connections: wait for
    // the one before sending the other, so that their order is known.
    bob->waitFor([annSession](const wire::Message& m) {
        return m.type == wire::MessageType::AvatarLeft && m.session == annSession;
    });
    bob->sync();
    const int bobSession = bob->session();
    bob.reset();
    bot->waitFor([bobSession](const wire::Message& m) {
        return m.type == wire::MessageType::AvatarLeft && m.session == bobSession;
    });
    bot->sync();

    server.stop();
    loop.join();
    const std::vector<std::string> expected = {
        "arrived 1 [Tint] welcome 1 bot at 0,0,0",
        "arrived 2 Ann welcome 0 at 0,0,0",
        "arrived 3 Bob other 0 at 0,0,0",
        "moved 2 to -5,6,70000",
        "said 2 hi \"all\"",
        "moved 2 to -5,6,70000",  // each sync is a state request
        "console 1 1,2,3 Ann:\thi to 2",
        "moved 1 to 0,0,0",
        "left 3",
        "arrived 3 Bob welcome 0 at 0,0,0",
        "left 2",
        "moved 3 to 0,0,0",
        "left 3",
        "moved 1 to 0,0,0",
    };
    EXPECT_EQ(observer.lines(), expected);
}

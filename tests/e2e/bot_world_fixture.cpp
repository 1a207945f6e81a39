#include "e2e/bot_world_fixture.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"
#include "support/temporary_directory.h"

using wire::Message;
using wire::MessageType;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool eventually(const std::function<bool()>& condition, int deadlineMs) {
    const long long deadline = nowMs() + deadlineMs;
    while (!condition()) {
        if (nowMs() >= deadline) {
            return false;
        }
        // Polling a file or process, not pacing the test.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int occurrences(const std::string& within, const std::string& text) {
    int found = 0;
    for (auto at = within.find(text); at != std::string::npos; at = within.find(text, at + 1)) {
        ++found;
    }
    return found;
}

void BotWorldTest::SetUp() {
    dir_ = makeTemporaryDirectory("tintbeacon-e2e");
    ASSERT_FALSE(dir_.empty());
}

void BotWorldTest::TearDown() {
    bot_.stop(CHILD_KILL);
    server_.stop(CHILD_KILL);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

int BotWorldTest::startServer(int port, const std::vector<std::string>& moreOptions) {
    const std::string out = (dir_ / "world.out").string();
    std::filesystem::remove(out);
    std::vector<std::string> options = {
        "--listen", "127.0.0.1:" + std::to_string(port), "--world", "welcome", "--world", "lobby",
        "--citizen", "1:demo:bot", "--citizen", "7:seven", "--citizen", "8:eight:bot",
        // These tests send bursts of lines at the bot, not at the world's chat limit.
        "--chat-rate", "0"};
    options.insert(options.end(), moreOptions.begin(), moreOptions.end());
    bool started = server_.start(BIN_DIR + "/tintbeacon-world", options, dir_.string(), out,
                                 (dir_ / "world.err").string());
    EXPECT_TRUE(started);
    const std::string prefix = "listening on 127.0.0.1:";
    std::string text;
    EXPECT_TRUE(eventually([&] {
        text = readFile(out);
        return text.find('\n') != std::string::npos;
    }));
    std::string::size_type at = text.find(prefix);
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + prefix.size());
}

void BotWorldTest::writeBotFiles(int port, const std::string& home, const std::string& account) {
    std::ofstream(dir_ / "address.txt") << "127.0.0.1\n" << port << "\n";
    std::ofstream(dir_ / "home.txt") << home;
    std::ofstream(dir_ / "account.txt") << account;
}

void BotWorldTest::startBot(const std::vector<std::string>& environment) {
    std::vector<std::string> variables = {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"};
    variables.insert(variables.end(), environment.begin(), environment.end());
    ASSERT_TRUE(bot_.start(BIN_DIR + "/tintbeacon", {}, dir_.string(), (dir_ / "bot.out").string(),
                           (dir_ / "bot.err").string(), variables));
}

bool BotWorldTest::botPrinted(const std::string& text, int count) {
    return eventually([&] { return occurrences(botOutput(), text) >= count; });
}

bool BotWorldTest::botTold(const std::string& text, int count, int deadlineMs) {
    return eventually([&] { return occurrences(botErrors(), text) >= count; }, deadlineMs);
}

void BotWorldTest::startBotInWorld(int port) {
    writeBotFiles(port);
    startBot();
    ASSERT_TRUE(botPrinted("Успешно."));
}

void BotWorldTest::startPipedBotInWorld(std::string& shown) {
    writeBotFiles(port_);
    ASSERT_TRUE(bot_.startPiped(BIN_DIR + "/tintbeacon", {}, dir_.string(),
                                (dir_ / "bot.err").string(), {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"}));
    ASSERT_TRUE(eventually([&] {
        shown += bot_.readOutput(50);
        return shown.find("Успешно.") != std::string::npos;
    })) << shown;
}

void BotWorldTest::join(TestAvatar& avatar, const std::string& name, int x, int z, int citizen,
                        const std::string& password) {
    ASSERT_EQ(avatar.join(port_, name, citizen, password), SDK_OK) << name;
    ASSERT_EQ(avatar.moveTo(x, 0, z), SDK_OK) << name;
}

int BotWorldTest::botSession(TestAvatar& avatar) {
    return avatar
        .waitFor([](const Message& m) {
            return m.type == MessageType::AvatarArrived && m.name == BOT_NAME;
        })
        .session;
}

std::vector<Message> BotWorldTest::consoleMessages(TestAvatar& avatar) {
    avatar.sync();
    return avatar.receivedOfType(MessageType::ConsoleMessage);
}

Message BotWorldTest::waitConsole(TestAvatar& avatar, const std::string& text) {
    return avatar.waitFor([&](const Message& m) { return isConsole(m) && m.text == text; });
}

#pragma once

// The real bot and the real world server as child processes in a fresh
// temporary directory, with scripted avatars joining over TCP.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e/child_process.h"
#include "support/test_avatar.h"

inline constexpr int E2E_DEADLINE_MS = 15000;
inline const std::string BIN_DIR = TINTBEACON_BIN_DIR;
inline const std::string BOT_NAME = "[Tintbeacon]";

std::string readFile(const std::filesystem::path& path);

// Polls the condition until it holds or the deadline passes.
bool eventually(const std::function<bool()>& condition, int deadlineMs = E2E_DEADLINE_MS);

inline bool isConsole(const wire::Message& m) {
    return m.type == wire::MessageType::ConsoleMessage;
}

class BotWorldTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the world server on the port (0: a free one), with its options
    // and any further ones, and returns its port.
    int startServer(int port = 0, const std::vector<std::string>& moreOptions = {});

    void writeBotFiles(int port, const std::string& home = "welcome\n0N 0W\n",
                       const std::string& account = "1\ndemo\nyes\n0.4\n");
    // Starts the bot with its standard output in bot.out, and any further
    // environment variables.
    void startBot(const std::vector<std::string>& environment = {});

    // Waits until the bot's standard output holds the text (UTF-8) `count` times.
    bool botPrinted(const std::string& text, int count = 1);
    // The same for its standard error.
    bool botTold(const std::string& text, int count = 1, int deadlineMs = E2E_DEADLINE_MS);
    std::string botOutput() { return readFile(dir_ / "bot.out"); }
    std::string botErrors() { return readFile(dir_ / "bot.err"); }
    std::string chatLog() { return readFile(dir_ / "chat.txt"); }

    // Starts the bot with its files and waits until it stands in the world.
    void startBotInWorld(int port);
    // The same with the bot's standard output a pipe (ChildProcess::startPiped),
    // read into `shown` until the bot stands in the world at port_.
    void startPipedBotInWorld(std::string& shown);

    // Logs an avatar in, enters "welcome" and moves it to the spot.
    void join(TestAvatar& avatar, const std::string& name, int x, int z, int citizen = 0,
              const std::string& password = "");

    static int botSession(TestAvatar& avatar);

    // The console messages the avatar has received once the server has
    // answered a round trip (so everything sent before has arrived).
    static std::vector<wire::Message> consoleMessages(TestAvatar& avatar);
    static wire::Message waitConsole(TestAvatar& avatar, const std::string& text);

    std::filesystem::path dir_;
    ChildProcess server_;
    ChildProcess bot_;
    int port_ = 0;
};

// How often `text` occurs in `within`.
int occurrences(const std::string& within, const std::string& text);

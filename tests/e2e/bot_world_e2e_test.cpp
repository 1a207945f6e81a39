// The real bot and the real world server over TCP, with scripted avatars.

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/bot_world_fixture.h"
#include "sdk/reason_codes.h"
#include "support/line_ends.h"
#include "text/cp1251.h"

using wire::Message;
using wire::MessageType;

namespace {

// The "Speaker: line N" numbers of a chat log, in file order.
std::vector<int> lineNumbers(const std::string& log) {
    std::vector<int> numbers;
    const std::string marker = "Speaker: line ";
    for (auto at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
        numbers.push_back(std::atoi(log.c_str() + at + marker.size()));
    }
    return numbers;
}

}  // namespace

TEST_F(BotWorldTest, RelaysOnlyToDistantAvatarsInTheSpeakersColor) {
    port_ = startServer();
    startBotInWorld(port_);
    TestAvatar speaker, near, far, high;
    join(speaker, "Speaker", 0, 0, 7, "seven");
    join(near, "Near", 20000, -20000);
    join(far, "Far", 20001, 0);
    join(high, "High", 0, 0);
    ASSERT_EQ(high.moveTo(0, -30000, 0), SDK_OK);

    const std::string text = ru("Привет,") + " \xFF world";
    speaker.say(text);
    Message relayed = waitConsole(far, "Speaker:\t" + text);
    EXPECT_EQ(std::vector<int>({relayed.red, relayed.green, relayed.blue}),
              std::vector<int>({0, 0, 0}));
    EXPECT_EQ(waitConsole(high, "Speaker:\t" + text).type, MessageType::ConsoleMessage);
    EXPECT_TRUE(consoleMessages(near).empty());
    EXPECT_TRUE(consoleMessages(speaker).empty());

    speaker.say("!color 0 0 88");
    ASSERT_TRUE(eventually([&] { return consoleMessages(speaker).size() == 1; }));
    speaker.say("blue now");
    relayed = waitConsole(far, "Speaker:\tblue now");
    EXPECT_EQ(std::vector<int>({relayed.red, relayed.green, relayed.blue}),
              std::vector<int>({0, 0, 88}));
    EXPECT_TRUE(botPrinted("Speaker: Привет, \xD1\x8F world"));
}

TEST_F(BotWorldTest, ColorAndGlobalSettingsSurviveARestartOfTheBot) {
    port_ = startServer();
    startBotInWorld(port_);
    TestAvatar speaker, optedOut, far;
    join(speaker, "Speaker", 0, 0, 7, "seven");
    join(optedOut, "OptedOut", 50000, 0, 8, "eight");
    join(far, "Far", -50000, 0);
    speaker.say("!color 0 0 88");
    optedOut.say("!global off");
    ASSERT_TRUE(eventually([&] {
        std::string settings = readFile(dir_ / "personal_chat_settings.txt");
        return settings.find(withLineEnds("7\n0\n0\n0\n88\n")) != std::string::npos &&
               settings.find(withLineEnds("8\n1\n")) != std::string::npos;
    })) << readFile(dir_ / "personal_chat_settings.txt");

    bot_.stop(CHILD_TERMINATE);
    startBot();
    ASSERT_TRUE(botPrinted("Успешно.", 2));
    // The restarted bot learns the avatars from its arrival events; wait
    // until it has them before speaking.
    for (const char* line :
         {"Speaker зашел(а) в мир", "OptedOut зашел(а) в мир", "Far зашел(а) в мир"}) {
        ASSERT_TRUE(botPrinted(line, 2)) << line;
    }
    speaker.say("after restart");
    Message relayed = waitConsole(far, "Speaker:\tafter restart");
    EXPECT_EQ(std::vector<int>({relayed.red, relayed.green, relayed.blue}),
              std::vector<int>({0, 0, 88}));
    for (const Message& m : consoleMessages(optedOut)) {
        EXPECT_NE(m.text, "Speaker:\tafter restart");
    }
}

TEST_F(BotWorldTest, HelpRepliesInOrderAndInColor) {
    port_ = startServer();
    startBotInWorld(port_);
    TestAvatar asker;
    join(asker, "Asker", 0, 0, 7, "seven");
    asker.say("!help");
    ASSERT_TRUE(eventually([&] { return consoleMessages(asker).size() >= 12; }));
    std::vector<Message> replies = consoleMessages(asker);
    ASSERT_EQ(replies.size(), 12u);
    const int heading = 0xBE0000, example = 0x0000BE, own = 0;
    // Texts left empty are long lists of color names, checked by color only.
    const std::vector<std::pair<std::string, int>> expected = {
        {ru("Задать цвет по имени:"), heading},
        {"!color green     !col Gold     !c DarkBlue", example},
        {"", example},
        {"", example},
        {"", example},
        {ru("Задать цвет в формате RGB (0-255):"), heading},
        {"!color 128 128 0     !Col 0 0 88     !c 0 64 64", example},
        {ru("\nМой текущий цвет этот текст...\n"), own},
        {ru("Включить глобальный чат:"), heading},
        {"!global on", example},
        {ru("Выключить:"), heading},
        {"!global off", example},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (!expected[i].first.empty()) {
            EXPECT_EQ(replies[i].text, expected[i].first) << i;
        }
        EXPECT_EQ((replies[i].red << 16) | (replies[i].green << 8) | replies[i].blue,
                  expected[i].second)
            << i;
    }
}

TEST_F(BotWorldTest, WhispersAndConsoleMessagesAreLoggedButNotRelayed) {
    port_ = startServer();
    startBotInWorld(port_);
    TestAvatar whisperer, otherBot, far;
    join(whisperer, "Whisperer", 0, 0);
    ASSERT_EQ(otherBot.join(port_, "Helper", 8, "eight", "welcome", true), SDK_OK);
    join(far, "Far", 90000, 0);
    const int bot = botSession(whisperer);
    whisperer.whisper(bot, "just for you");
    ASSERT_EQ(otherBot.connection().postConsole(10, 20, 30, "note\tto the bot", bot), SDK_OK);
    otherBot.connection().flush();
    ASSERT_TRUE(botPrinted("whisper from Whisperer: just for you"));
    ASSERT_TRUE(botPrinted("{TB}note\tto the bot"));
    whisperer.say("marker");
    waitConsole(far, "Whisperer:\tmarker");
    std::vector<Message> relayed = consoleMessages(far);
    ASSERT_EQ(relayed.size(), 1u);
    EXPECT_EQ(relayed[0].text, "Whisperer:\tmarker");
    std::string log = chatLog();
    EXPECT_NE(log.find(withLineEnds("whisper from Whisperer: just for you\n")), std::string::npos)
        << log;
    EXPECT_NE(log.find(withLineEnds("global chat: note\tto the bot\n")), std::string::npos) << log;
}

TEST_F(BotWorldTest, ArrivalsAndDeparturesAreLogged) {
    port_ = startServer();
    startBotInWorld(port_);
    {
        TestAvatar visitor;
        join(visitor, ru("Гость"), 100, 100);
        ASSERT_TRUE(botPrinted("Гость зашел(а) в мир"));
    }
    ASSERT_TRUE(botPrinted("Гость вышел(а) из мира"));
    std::string log = chatLog();
    EXPECT_NE(log.find(withLineEnds(ru("Гость зашел(а) в мир\n"))), std::string::npos);
    EXPECT_NE(log.find(withLineEnds(ru("Гость вышел(а) из мира\n"))), std::string::npos);
}

TEST_F(BotWorldTest, ABurstOfChatLosesNoLine) {
    port_ = startServer();
    startBotInWorld(port_);
    TestAvatar speaker, far;
    join(speaker, "Fast", 0, 0);
    join(far, "Far", 0, 40000);
    constexpr int LINES = 300;
    for (int i = 0; i < LINES; ++i) {
        speaker.say("line " + std::to_string(i));
    }
    waitConsole(far, "Fast:\tline " + std::to_string(LINES - 1));
    std::vector<Message> relayed = consoleMessages(far);
    ASSERT_EQ(relayed.size(), static_cast<std::size_t>(LINES));
    for (int i = 0; i < LINES; ++i) {
        EXPECT_EQ(relayed[i].text, "Fast:\tline " + std::to_string(i));
    }
}

TEST_F(BotWorldTest, ARotationByRenameAndHangUpKeepsEveryLineOnceInOrder) {
    port_ = startServer();
    startBotInWorld(port_);
    ASSERT_TRUE(eventually([&] { return !chatLog().empty(); }));  // the banner
    TestAvatar speaker;
    join(speaker, "Speaker", 0, 0);
    constexpr int LINES = 200, ROTATED_AT = 100;
    for (int i = 0; i < LINES; ++i) {
        if (i == ROTATED_AT) {
            std::error_code renamed;
            std::filesystem::rename(dir_ / "chat.txt", dir_ / "chat.txt.1", renamed);
            if (renamed || !bot_.signal(CHILD_HANG_UP)) {
                GTEST_SKIP() << "no rename of an open file and hang-up signal here";
            }
        }
        speaker.say("line " + std::to_string(i));
    }
    std::vector<int> numbers;
    ASSERT_TRUE(eventually([&] {
        numbers = lineNumbers(readFile(dir_ / "chat.txt.1"));
        const std::vector<int> after = lineNumbers(chatLog());
        numbers.insert(numbers.end(), after.begin(), after.end());
        return !numbers.empty() && numbers.back() == LINES - 1;
    }));
    std::vector<int> expected(LINES);
    for (int i = 0; i < LINES; ++i) {
        expected[i] = i;
    }
    EXPECT_EQ(numbers, expected);
    // The lines said after the signal are in the new file, and the old one
    // keeps the banner.
    EXPECT_NE(chatLog().find("Speaker: line " + std::to_string(ROTATED_AT)), std::string::npos);
    EXPECT_EQ(readFile(dir_ / "chat.txt.1").rfind(ru("***Сеанс чата "), 0), 0u);
    EXPECT_EQ(botErrors(), "");
}

TEST_F(BotWorldTest, ACopyAndTruncateRotationWritesTheNextLineAtTheStartOfTheFile) {
    port_ = startServer();
    startBotInWorld(port_);
    TestAvatar speaker;
    join(speaker, "Speaker", 0, 0);
    speaker.say("line 1");
    ASSERT_TRUE(eventually([&] { return lineNumbers(chatLog()) == std::vector<int>{1}; }));
    std::filesystem::copy_file(dir_ / "chat.txt", dir_ / "chat.txt.1");
    std::filesystem::resize_file(dir_ / "chat.txt", 0);
    speaker.say("line 2");
    ASSERT_TRUE(eventually([&] { return !chatLog().empty(); }));
    // Appending, the bot writes at the file's new end: no hole of zero bytes.
    EXPECT_EQ(chatLog(), withLineEnds("Speaker: line 2\n"));
    EXPECT_EQ(lineNumbers(readFile(dir_ / "chat.txt.1")), std::vector<int>{1});
}

TEST_F(BotWorldTest, AFailedWorldEntryFallsBackToWelcome) {
    port_ = startServer();
    writeBotFiles(port_, "nowhere\n5N 5W\n");
    startBot();
    ASSERT_TRUE(botPrinted("Невозможно зайти в мир. (причина 15). Захожу в welcome."));
    ASSERT_TRUE(botPrinted("Успешно."));
    TestAvatar avatar;
    join(avatar, "Witness", 0, 0);
    Message bot = avatar.waitFor([](const Message& m) {
        return m.type == MessageType::AvatarArrived && m.name == BOT_NAME;
    });
    EXPECT_EQ(std::vector<int>({bot.x, bot.y, bot.z}), std::vector<int>({0, 0, 0}));
}

TEST_F(BotWorldTest, AWrongPasswordIsAskedAgain) {
    port_ = startServer();
    writeBotFiles(port_, "welcome\n0N 0W\n", "1\nwrong\nyes\n0.4\n");
    startBot();
    ASSERT_TRUE(botPrinted("Невозможно зайти (причина 14)"));
    ASSERT_TRUE(botPrinted("Номер гражданства?"));
    bot_.write("1\n");
    ASSERT_TRUE(botPrinted("Пароль привилегий?"));
    bot_.write("demo\n");
    ASSERT_TRUE(botPrinted("Успешно."));
}

TEST_F(BotWorldTest, TheBotComesBackAfterTheServerRestarts) {
    port_ = startServer();
    writeBotFiles(port_, "lobby\n1N 2W\n");
    startBot();
    ASSERT_TRUE(botPrinted("Успешно."));
    {
        TestAvatar before;
        ASSERT_EQ(before.join(port_, "Before", 0, "", "lobby"), SDK_OK);
        ASSERT_TRUE(botPrinted("Before зашел(а) в мир"));
        server_.stop(CHILD_KILL);
    }
    ASSERT_TRUE(botPrinted("Before вышел(а) из мира"));
    ASSERT_EQ(startServer(port_), port_);
    TestAvatar after;
    ASSERT_EQ(after.join(port_, "After", 0, "", "lobby"), SDK_OK);
    // The bot enters by itself: either before the avatar (an arrival at its
    // spot) or after it (an arrival, then its move to the spot).
    Message placed = after.waitFor([](const Message& m) {
        return (m.type == MessageType::AvatarArrived && m.name == BOT_NAME && m.x == 2000) ||
               (m.type == MessageType::AvatarMoved && m.x == 2000);
    });
    EXPECT_EQ(std::vector<int>({placed.x, placed.y, placed.z}), std::vector<int>({2000, 0, 1000}));
    EXPECT_TRUE(botPrinted("After зашел(а) в мир"));
    std::string errors = botErrors();
    EXPECT_NE(errors.find("Связь с миром потеряна"), std::string::npos) << errors;
    EXPECT_NE(errors.find("Связь с миром восстановлена"), std::string::npos) << errors;
}

TEST_F(BotWorldTest, ASecondBotInTheSameDirectoryRefusesBeforeItTouchesAnything) {
    port_ = startServer();
    startBotInWorld(port_);
    const std::string logBefore = chatLog();
    std::filesystem::remove(dir_ / "address.txt");
    ChildProcess second;
    ASSERT_TRUE(second.start(BIN_DIR + "/tintbeacon", {}, dir_.string(),
                             (dir_ / "second.out").string(), (dir_ / "second.err").string(),
                             {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"}));
    EXPECT_EQ(second.stop(CHILD_WAIT), 3);
    EXPECT_EQ(readFile(dir_ / "second.out"), "");
    EXPECT_EQ(readFile(dir_ / "second.err"),
              withLineEnds("В этом каталоге уже работает другой бот (tintbeacon.lock занят); "
                           "второй не запущен.\n"));
    EXPECT_EQ(chatLog(), logBefore);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "address.txt"));
}

TEST_F(BotWorldTest, EndedInputStopsTheBotNamingTheAnswerAndLeavesWhatItReadAsItWas) {
    const std::filesystem::path work = dir_ / "work";
    for (bool fresh : {true, false}) {
        SCOPED_TRACE(fresh);
        std::filesystem::remove_all(work);
        std::filesystem::create_directory(work);
        if (!fresh) {
            std::ofstream(work / "home.txt") << "welcome\n0N 0W\n";
            std::ofstream(work / "account.txt") << "5\n";
        }
        std::filesystem::remove(dir_ / "err");
        ChildProcess bot;
        ASSERT_TRUE(bot.start(BIN_DIR + "/tintbeacon", {}, work.string(), (dir_ / "out").string(),
                              (dir_ / "err").string(), {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"}));
        EXPECT_EQ(bot.stop(CHILD_WAIT), 2);
        const std::string awaited = fresh ? "название мира для home.txt (файла home.txt нет)"
                                          : "номер гражданства для account.txt (account.txt "
                                            "неполон)";
        EXPECT_EQ(readFile(dir_ / "err"),
                  withLineEnds("Стандартный ввод закрыт, а ответ не получен: " + awaited +
                               ". Бот остановлен; ответьте на вопросы, запустив его один раз "
                               "вручную в его рабочем каталоге.\n"));
        // What every start makes: the address file, the chat log (empty: the
        // banner comes once in the world) and the lock; what it read stays.
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(work)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        const std::vector<std::string> made = {"address.txt", "chat.txt", "tintbeacon.lock"};
        const std::vector<std::string> kept = {"account.txt", "address.txt", "chat.txt",
                                               "home.txt", "tintbeacon.lock"};
        EXPECT_EQ(names, fresh ? made : kept);
        EXPECT_EQ(readFile(work / "chat.txt"), "");
        EXPECT_EQ(readFile(work / "address.txt"), withLineEnds("127.0.0.1\n6670\n"));
        if (!fresh) {
            // As the test wrote them, in text mode.
            EXPECT_EQ(readFile(work / "home.txt"), withLineEnds("welcome\n0N 0W\n"));
            EXPECT_EQ(readFile(work / "account.txt"), withLineEnds("5\n"));
        }
    }
}

TEST_F(BotWorldTest, HelpAndVersionAnswerWithoutTouchingTheDirectory) {
    const std::filesystem::path work = dir_ / "work";
    std::filesystem::create_directory(work);
    // A Cyrillic argument (UTF-8 here) comes back readable, on Windows too,
    // where the bot reads the UTF-16 command line.
    for (const char* argument : {"--help", "--version", "--мир"}) {
        SCOPED_TRACE(argument);
        ChildProcess bot;
        ASSERT_TRUE(bot.start(BIN_DIR + "/tintbeacon", {argument}, work.string(),
                              (dir_ / "out").string(), (dir_ / "err").string(),
                              {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"}));
        EXPECT_EQ(bot.stop(CHILD_WAIT), std::string(argument) == "--мир" ? 64 : 0);
        EXPECT_TRUE(std::filesystem::is_empty(work));
    }
    EXPECT_NE(readFile(dir_ / "out").find("Использование: tintbeacon [--help | --version]"),
              std::string::npos);
    EXPECT_NE(readFile(dir_ / "out").find("tintbeacon 0."), std::string::npos);
    EXPECT_EQ(readFile(dir_ / "err"),
              withLineEnds("Бот не принимает аргументов, кроме --help и --version; непонятно: "
                           "--мир\nНастройки бота — в файлах его рабочего каталога (tintbeacon "
                           "--help).\n"));
}

// The bot never stops silently: a dead or stalled standard output and a
// refused account are noticed, told, and outlived.

#include <string>
#include <vector>

#include "e2e/bot_world_fixture.h"
#include "sdk/reason_codes.h"
#include "support/line_ends.h"
#include "text/cp1251.h"

using wire::Message;
using wire::MessageType;

TEST_F(BotWorldTest, AClosedStandardOutputCostsTheLinesOnItOnly) {
    port_ = startServer();
    writeBotFiles(port_);
    ASSERT_TRUE(bot_.startPiped(BIN_DIR + "/tintbeacon", {}, dir_.string(),
                                (dir_ / "bot.err").string(), {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"}));
    std::string shown;
    ASSERT_TRUE(eventually([&] {
        shown += bot_.readOutput(50);
        return shown.find("Успешно.") != std::string::npos;
    })) << shown;
    bot_.closeOutput();  // as `tintbeacon | head -1` does once it has its line
    TestAvatar speaker, far;
    join(speaker, "Speaker", 0, 0);
    join(far, "Far", 0, 40000);
    constexpr int LINES = 20;
    for (int i = 0; i < LINES; ++i) {
        speaker.say("line " + std::to_string(i));
        EXPECT_EQ(waitConsole(far, "Speaker:\tline " + std::to_string(i)).type,
                  MessageType::ConsoleMessage)
            << i;
    }
    ASSERT_TRUE(eventually([&] {
        return chatLog().find(withLineEnds("Speaker: line 19\n")) != std::string::npos;
    })) << chatLog();
    for (int i = 0; i < LINES; ++i) {
        EXPECT_NE(chatLog().find(withLineEnds("Speaker: line " + std::to_string(i) + "\n")),
                  std::string::npos)
            << i;
    }
    EXPECT_TRUE(bot_.running());
    EXPECT_EQ(occurrences(botErrors(), "Запись в стандартный вывод не удалась (его закрыли?): "
                                       "строки не выводятся, пока запись не заработает снова; "
                                       "бот продолжает работу, события пишутся в chat.txt."),
              1)
        << botErrors();
}

TEST_F(BotWorldTest, AStalledStandardOutputStopsNothingAndLosesNothingOnceRead) {
    port_ = startServer();
    writeBotFiles(port_);
    ASSERT_TRUE(bot_.startPiped(BIN_DIR + "/tintbeacon", {}, dir_.string(),
                                (dir_ / "bot.err").string(), {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"}));
    std::string shown;
    ASSERT_TRUE(eventually([&] {
        shown += bot_.readOutput(50);
        return shown.find("Успешно.") != std::string::npos;
    })) << shown;
    TestAvatar speaker, far;
    join(speaker, "Speaker", 0, 0);
    join(far, "Far", 0, 40000);
    // Nobody reads now: the lines printed outgrow the pipe many times over,
    // and every one is relayed as it comes all the same.
    std::string expected = "Speaker зашел(а) в мир\nFar зашел(а) в мир\n";
    const std::string filler(300, 'x');
    constexpr int LINES = 60;
    for (int i = 0; i < LINES; ++i) {
        const std::string text = ru("строка ") + std::to_string(i) + " " + filler;
        speaker.say(text);
        ASSERT_EQ(waitConsole(far, "Speaker:\t" + text).type, MessageType::ConsoleMessage) << i;
        expected += cp1251ToUtf8("Speaker: " + text) + "\n";
    }
    const std::size_t afterReady = shown.find("Успешно.") + std::string("Успешно.").size() + 1;
    ASSERT_TRUE(eventually([&] {
        shown += bot_.readOutput(50);
        return shown.size() >= afterReady + withLineEnds(expected).size();
    })) << shown.size();
    EXPECT_EQ(shown.substr(afterReady), withLineEnds(expected));
    EXPECT_EQ(botErrors().find("пропущено"), std::string::npos) << botErrors();
}

TEST_F(BotWorldTest, AnAccountRefusedOnReconnectionIsToldOnceAndTriedRarely) {
    port_ = startServer();
    startBotInWorld(port_);
    server_.stop(CHILD_KILL);
    // The world's owner changed the bot's password meanwhile.
    ASSERT_EQ(startServer(port_, {"--citizen", "1:changed"}), port_);
    const std::string told =
        "Переподключение не удалось (причина 14: неверные данные входа: неизвестный номер "
        "гражданства или неверный пароль): мир больше не принимает номер гражданства «1» и "
        "пароль привилегий из account.txt — пароль сменили или гражданство удалили. Впишите "
        "верные номер и пароль в account.txt и перезапустите бота; до тех пор вход повторяется "
        "раз в несколько минут, и бот вернётся сам, если прежние данные снова станут верны.\n";
    ASSERT_TRUE(botTold(told)) << botErrors();
    // The next attempt is a minute or more away, not a second.
    const int refusals = occurrences(readFile(dir_ / "world.err"), "refused");
    EXPECT_FALSE(eventually([&] { return occurrences(botErrors(), "причина 14") > 1; }, 3000));
    EXPECT_EQ(occurrences(readFile(dir_ / "world.err"), "refused"), refusals);
    EXPECT_EQ(occurrences(botErrors(), "account.txt"), 2);
}

TEST_F(BotWorldTest, AnAnswerGivenAfterTheWorldsLoginTimeoutGoesOnAFreshConnection) {
    port_ = startServer(0, {"--login-timeout", "1000"});
    writeBotFiles(port_, "welcome\n0N 0W\n", "1\nwrong\nyes\n0.4\n");
    startBot();
    ASSERT_TRUE(botPrinted("Номер гражданства?"));
    // The operator takes longer than the world waits for a login.
    ASSERT_TRUE(eventually([&] { return readFile(dir_ / "world.err").find("did not log in in time") !=
                                        std::string::npos; }))
        << readFile(dir_ / "world.err");
    bot_.write("1\ndemo\n");
    ASSERT_TRUE(botPrinted("Успешно."));
    EXPECT_EQ(botOutput(), withLineEnds("Невозможно зайти (причина 14)\n"
                                        "Попробуйте еще раз\n"
                                        "Номер гражданства?\n"
                                        "Пароль привилегий?\n"
                                        "Успешно.\n"));
}

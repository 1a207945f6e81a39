// The bot never stops silently: a dead path to the world, a dead or stalled
// standard output and a refused account are noticed, told, and outlived.

#include <string>
#include <vector>

#include "e2e/bot_world_fixture.h"
#include "protocol/heartbeat.h"
#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"
#include "support/freezing_proxy.h"
#include "support/line_ends.h"
#include "text/cp1251.h"

using wire::Message;
using wire::MessageType;

namespace {

// The world's idle limit in these tests: above the clients' quiet spell
// before a Ping, as the world requires, and shorter than its default.
constexpr int IDLE_LIMIT_MS = 20000;

bool leftTheWorld(const Message& m, int session) {
    return m.type == MessageType::AvatarLeft && m.session == session;
}

}  // namespace

TEST_F(BotWorldTest, APartitionIsNoticedAndOutlivedAndACutOffAvatarLeaves) {
    port_ = startServer(0, {"--idle-timeout", std::to_string(IDLE_LIMIT_MS)});
    FreezingProxy botPath(port_), avatarPath(port_);
    ASSERT_NE(botPath.port(), 0);
    ASSERT_NE(avatarPath.port(), 0);
    writeBotFiles(botPath.port());
    startBot();
    ASSERT_TRUE(botPrinted("Успешно."));
    TestAvatar speaker, far, cutOff;
    join(speaker, "Speaker", 0, 0);
    join(far, "Far", 0, 40000);
    ASSERT_EQ(cutOff.join(avatarPath.port(), "CutOff"), SDK_OK);
    ASSERT_EQ(cutOff.moveTo(40000, 0, 0), SDK_OK);
    ASSERT_TRUE(botPrinted("CutOff зашел(а) в мир"));
    const int cutOffSession = cutOff.session();

    // No FIN, no RST: the paths just stop carrying anything.
    const long long frozenAt = nowMs();
    botPath.freeze();
    avatarPath.freeze();
    long long cutOffLeftAt = 0;
    const bool noticed = eventually(
        [&] {
            // The avatars beside keep their own heartbeat as they read.
            for (const Message& m : far.received()) {
                if (cutOffLeftAt == 0 && leftTheWorld(m, cutOffSession)) {
                    cutOffLeftAt = nowMs();
                }
            }
            speaker.received();
            return occurrences(botErrors(), "Связь с миром потеряна") == 1;
        },
        45000);
    ASSERT_TRUE(noticed) << botErrors();
    const long long noticedAt = nowMs();
    EXPECT_NE(botErrors().find("Связь с миром потеряна (причина 6: сервер не ответил вовремя), "
                               "переподключаюсь"),
              std::string::npos)
        << botErrors();
    EXPECT_LE(noticedAt - frozenAt, wire::QUIET_BEFORE_PING_MS + wire::PING_ANSWER_MS + 2000);
    if (cutOffLeftAt == 0) {
        cutOffLeftAt = nowMs() + 1;
        EXPECT_TRUE(
            far.waitFor([&](const Message& m) { return leftTheWorld(m, cutOffSession); }).type ==
            MessageType::AvatarLeft);
    }
    // Idle from its last message before the freeze; the world looks once a second.
    EXPECT_LE(cutOffLeftAt - frozenAt, IDLE_LIMIT_MS + 1500);

    // The bot tries again through the dead path for a while, then the way clears.
    EXPECT_TRUE(eventually([&] {
        speaker.received();
        far.received();
        return nowMs() - noticedAt >= 3000;
    }));
    const long long clearedAt = nowMs();
    botPath.thaw();
    const Message back = far.waitFor([](const Message& m) {
        return m.type == MessageType::AvatarArrived && m.name == BOT_NAME;
    });
    EXPECT_EQ(back.type, MessageType::AvatarArrived);
    EXPECT_LE(nowMs() - clearedAt, 5000);
    EXPECT_TRUE(botTold("Связь с миром восстановлена"));

    // The roster came back from the world's arrivals: the avatar cut off is
    // not among them, and what is said reaches those who are.
    ASSERT_TRUE(botPrinted("Far зашел(а) в мир", 2));
    speaker.say("after the partition");
    EXPECT_EQ(waitConsole(far, "Speaker:\tafter the partition").type, MessageType::ConsoleMessage);
    EXPECT_EQ(occurrences(botOutput(), "CutOff зашел(а) в мир"), 1);
    EXPECT_NE(readFile(dir_ / "world.err").find("idle"), std::string::npos);
}

TEST_F(BotWorldTest, AClosedStandardOutputCostsTheLinesOnItOnly) {
    port_ = startServer();
    std::string shown;
    ASSERT_NO_FATAL_FAILURE(startPipedBotInWorld(shown));
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
    // Told by the writer's thread, which may run a little after the lines.
    const std::string told = withLineEnds(
        "Запись в стандартный вывод не удалась (его закрыли?): строки не выводятся, пока запись "
        "не заработает снова; бот продолжает работу, события пишутся в chat.txt.\n");
    EXPECT_TRUE(botTold(told)) << botErrors();
    EXPECT_EQ(occurrences(botErrors(), told), 1) << botErrors();
}

TEST_F(BotWorldTest, AStalledStandardOutputStopsNothingAndLosesNothingOnceRead) {
    port_ = startServer();
    std::string shown;
    ASSERT_NO_FATAL_FAILURE(startPipedBotInWorld(shown));
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
    const std::string ready = withLineEnds("Успешно.\n");
    const std::size_t afterReady = shown.find(ready) + ready.size();
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
    ASSERT_EQ(startServer(port_, {"--citizen", "1:changed:bot"}), port_);
    const std::string told = withLineEnds(
        "Переподключение не удалось (причина 14: неверные данные входа: неизвестный номер "
        "гражданства или неверный пароль): мир больше не принимает номер гражданства «1» и "
        "пароль привилегий из account.txt — пароль сменили или гражданство удалили. Впишите "
        "верные номер и пароль в account.txt и перезапустите бота; до тех пор вход повторяется "
        "раз в несколько минут, и бот вернётся сам, если прежние данные снова станут верны.\n");
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
    ASSERT_TRUE(eventually([&] {
        return readFile(dir_ / "world.err").find("did not log in in time") != std::string::npos;
    })) << readFile(dir_ / "world.err");
    bot_.write("1\ndemo\n");
    ASSERT_TRUE(botPrinted("Успешно."));
    EXPECT_EQ(botOutput(), withLineEnds("Невозможно зайти (причина 14)\n"
                                        "Попробуйте еще раз\n"
                                        "Номер гражданства?\n"
                                        "Пароль привилегий?\n"
                                        "Успешно.\n"));
}

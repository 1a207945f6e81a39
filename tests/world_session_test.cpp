// Login, world entry and placement through the scripted SDK: the exact call
// sequence of a clean session and of each failure path.

#include "app/world_session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/config_files.h"
#include "app/startup.h"
#include "app/startup_config.h"
#include "console/operator_console.h"
#include "support/bot_fixture.h"
#include "support/line_ends.h"
#include "support/test_system.h"
#include "text/cp1251.h"
#include "world/chat_log.h"

namespace {

const std::vector<std::string> HANDLERS = {
    "SdkSetEventHandler(0, onAvatarArrived)", "SdkSetEventHandler(1, onAvatarMoved)",
    "SdkSetEventHandler(2, onAvatarLeft)",    "SdkSetEventHandler(6, onChatLine)",
    "SdkSetEventHandler(29, onConsoleMessage)",
};

std::vector<std::string> loginCalls(const std::string& citizen, const std::string& password) {
    return {"SdkSetInt(2, " + citizen + ")",
            "SdkSetString(3, " + password + ")",
            "SdkSetString(6, SDK Sample Application #1)",
            "SdkSetString(0, Tintbeacon)",
            "SdkSetBool(328, 1)",
            "SdkSetEventHandler(2, onAvatarLeft)",
            "SdkLogin()"};
}

std::vector<std::string> placeCalls(int eastWest, int northSouth, int altitude) {
    return {"SdkSetInt(198, " + std::to_string(eastWest) + ")",
            "SdkSetInt(200, " + std::to_string(northSouth) + ")",
            "SdkSetInt(199, " + std::to_string(altitude) + ")", "SdkSetInt(201, 500)",
            "SdkSetInt(203, 0)", "SdkCommitState()"};
}

std::vector<int> retryWaits;
void recordRetryWait(int milliseconds) { retryWaits.push_back(milliseconds); }

class WorldSessionTest : public BotTest {
protected:
    void SetUp() override {
        BotTest::SetUp();
        writeFile("home.txt", "Atlantis\n142N 71E\n");
        writeFile("account.txt", "104\nsecret\nyes\n0.5\n");
        retryWaits.clear();
        setLoginRetryWait(recordRetryWait);
    }
    void TearDown() override {
        setLoginRetryWait(nullptr);
        BotTest::TearDown();
    }
    void start() {
        openChatLog(CHAT_LOG_FILE);
        runStartup();
    }
};

TEST_F(WorldSessionTest, CleanSessionCallsTheSdkInOrder) {
    start();
    EXPECT_EQ(sdk.calls, concat({{"SdkInitialise(93)"},
                                 HANDLERS,
                                 {"SdkCreateInstance(127.0.0.1, 6670, 0)"},
                                 loginCalls("104", "secret"),
                                 {"SdkEnterWorld(Atlantis)"},
                                 placeCalls(-71000, 142000, 0)}));
    EXPECT_EQ(outputLines(), std::vector<std::string>{"Успешно."});
}

TEST_F(WorldSessionTest, FailedInitialisationReasksTheAccountUntilItSucceeds) {
    sdk.queueResult("SdkInitialise", 9);
    sdk.queueResult("SdkInitialise", 9);
    typeAnswers("7 pw1\n8 pw2\n");
    start();
    EXPECT_EQ(outputLines(), (std::vector<std::string>{
                                 "Ошибка (причина 9)", "Попробуйте еще раз", "Номер гражданства?",
                                 "Пароль привилегий?", "Ошибка (причина 9)", "Попробуйте еще раз",
                                 "Номер гражданства?", "Пароль привилегий?", "Успешно."}));
    EXPECT_EQ(std::vector<std::string>(sdk.calls.begin(), sdk.calls.begin() + 3),
              (std::vector<std::string>{"SdkInitialise(93)", "SdkInitialise(93)",
                                        "SdkInitialise(93)"}));
    EXPECT_EQ(sdk.callsStartingWith("SdkSetInt(2,"), std::vector<std::string>{"SdkSetInt(2, 8)"});
    // The colors answer and coefficient in force survive the rewrite.
    EXPECT_EQ(readFile("account.txt"), withLineEnds("8\npw2\nyes\n0.5\n"));
}

TEST_F(WorldSessionTest, FailedLoginSetsTheNewCredentialsBeforeEveryAttempt) {
    sdk.queueResult("SdkLogin", SDK_RC_BAD_CREDENTIALS);
    typeAnswers("105\nright\n");
    start();
    EXPECT_EQ(sdk.calls, concat({{"SdkInitialise(93)"},
                                 HANDLERS,
                                 {"SdkCreateInstance(127.0.0.1, 6670, 0)"},
                                 loginCalls("104", "secret"),
                                 loginCalls("105", "right"),
                                 {"SdkEnterWorld(Atlantis)"},
                                 placeCalls(-71000, 142000, 0)}));
    EXPECT_EQ(outputLines(),
              (std::vector<std::string>{"Невозможно зайти (причина 14)", "Попробуйте еще раз",
                                        "Номер гражданства?", "Пароль привилегий?", "Успешно."}));
    EXPECT_EQ(readFile("account.txt"), withLineEnds("105\nright\nyes\n0.5\n"));
}

TEST_F(WorldSessionTest, LoginsThatFailOnTheWayAreRetriedWithoutAskingAnything) {
    // Nobody at the console: a question would end the bot.
    for (int rc : {SDK_RC_TIMEOUT, SDK_RC_CONNECTION_LOST, SDK_RC_TIMEOUT, SDK_RC_TIMEOUT,
                   SDK_RC_TIMEOUT, SDK_RC_TIMEOUT, SDK_RC_TIMEOUT}) {
        sdk.queueResult("SdkLogin", rc);
    }
    start();
    EXPECT_EQ(sdk.callsStartingWith("SdkLogin"), std::vector<std::string>(8, "SdkLogin()"));
    EXPECT_EQ(sdk.callsStartingWith("SdkSetInt(2,"),
              std::vector<std::string>(8, "SdkSetInt(2, 104)"));
    EXPECT_EQ(retryWaits, (std::vector<int>{100, 200, 400, 800, 1600, 2000, 2000}));
    // The failure line once for each new reason, not once per attempt.
    EXPECT_EQ(outputLines(), (std::vector<std::string>{
                                 "Невозможно зайти (причина 6)", "Невозможно зайти (причина 7)",
                                 "Невозможно зайти (причина 6)", "Успешно."}));
    EXPECT_EQ(readFile("account.txt"), "104\nsecret\nyes\n0.5\n");
}

TEST_F(WorldSessionTest, RefusedCredentialsWithNobodyToAskLeaveTheAccountFileWhole) {
    sdk.queueResult("SdkLogin", SDK_RC_BAD_CREDENTIALS);
    try {
        start();
        ADD_FAILURE() << "the login went on without an answer";
    } catch (const ProgramExit& exit) {
        EXPECT_EQ(exit.status, INPUT_ENDED_STATUS);
    }
    EXPECT_EQ(readFile("account.txt"), "104\nsecret\nyes\n0.5\n");
    EXPECT_EQ(splitLines(errors()).back(),
              "Стандартный ввод закрыт, а ответ не получен: номер гражданства для account.txt "
              "(прежние номер и пароль не подошли). Бот остановлен; ответьте на вопросы, "
              "запустив его один раз вручную в его рабочем каталоге.");
}

TEST_F(WorldSessionTest, AnAccountFileWrittenFromAnswersIsTheOwnersAlone) {
    std::remove("account.txt");
    typeAnswers("104 pw yes 0.2\n");
    start();
    if (FILES_HAVE_POSIX_MODES) {
        struct stat info {};
        ASSERT_EQ(::stat("account.txt", &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(readFile("account.txt"), withLineEnds("104\npw\nyes\n0.2\n"));
}

TEST_F(WorldSessionTest, EachReasonLineIsExplainedInWordsOnStandardError) {
    const struct {
        const char* operation;
        int rc;
        const char* answers;
        const char* explanation;
    } cases[] = {
        {"SdkCreateInstance", SDK_RC_CONNECT_FAILED, "",
         "Причина 5: не удалось подключиться: по этому адресу и порту никто не слушает или он "
         "недоступен. Адрес «127.0.0.1», порт «6670» (из address.txt)."},
        {"SdkLogin", SDK_RC_BAD_CREDENTIALS, "104 secret",
         "Причина 14: неверные данные входа: неизвестный номер гражданства или неверный пароль. "
         "Номер гражданства «104» и пароль привилегий (account.txt)."},
        {"SdkLogin", SDK_RC_TIMEOUT, "",
         "Причина 6: сервер не ответил вовремя. Адрес «127.0.0.1», порт «6670» (из address.txt); "
         "вход будет повторяться, пока мир не ответит."},
        {"SdkEnterWorld", SDK_RC_NO_SUCH_WORLD, "",
         "Причина 15: такого мира нет: сервер не держит мир с таким названием. Мир «Atlantis» "
         "(из home.txt)."},
        {"SdkCommitState", SDK_RC_NOT_IN_WORLD, "",
         "Причина 16: сеанс не в мире: операции нужно, чтобы сеанс был в мире. Координаты "
         "«142N 71E» (из home.txt)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        SetUp();
        sdk.queueResult(c.operation, c.rc);
        typeAnswers(c.answers);
        try {
            start();
        } catch (const ProgramExit&) {
        }
        EXPECT_EQ(splitLines(errors()), std::vector<std::string>{c.explanation});
        // Standard output keeps the reason line as it was, with no words added.
        const std::string reasonLine = "(причина " + std::to_string(c.rc) + ")";
        bool found = false;
        for (const std::string& line : outputLines()) {
            found = found || line.find(reasonLine) != std::string::npos;
        }
        EXPECT_TRUE(found);
    }
}

TEST_F(WorldSessionTest, CoordinatesThatDoNotReadAreShownWithTheirForm) {
    writeFile("home.txt", "Atlantis\nnowhere\n");
    start();
    EXPECT_EQ(errors(), "Координаты «nowhere» (из home.txt) не читаются; нужна запись вида 142N "
                        "71E или 50S 10W 1a.\n");
}

TEST_F(WorldSessionTest, CitizenNumberIsReadLikeAtoi) {
    writeFile("account.txt", "  42abc\nsecret\nno\n");
    start();
    EXPECT_EQ(sdk.callsStartingWith("SdkSetInt(2,"), std::vector<std::string>{"SdkSetInt(2, 42)"});
}

TEST_F(WorldSessionTest, FailedWorldEntryFallsBackToWelcomeAtTheCentre) {
    std::remove("home.txt");
    typeAnswers("Atlantis\n142N 71E\n");
    sdk.queueResult("SdkEnterWorld", SDK_RC_NO_SUCH_WORLD);
    sdk.queueResult("SdkEnterWorld", 3);  // the fallback's result is not looked at
    start();
    EXPECT_EQ(sdk.callsStartingWith("SdkEnterWorld"),
              (std::vector<std::string>{"SdkEnterWorld(Atlantis)", "SdkEnterWorld(welcome)"}));
    const std::vector<std::string> tail(sdk.calls.end() - 6, sdk.calls.end());
    EXPECT_EQ(tail, placeCalls(0, 0, 0));
    EXPECT_EQ(outputLines().back(), "Успешно.");
    EXPECT_EQ(outputLines().at(outputLines().size() - 2),
              "Невозможно зайти в мир. (причина 15). Захожу в welcome.");
    EXPECT_EQ(readFile("home.txt"), withLineEnds("Atlantis\n0S 0W\n"));
}

TEST_F(WorldSessionTest, AServerWithNeitherWorldIsToldSoAndTheCoordinatesAreNotBlamed) {
    sdk.queueResult("SdkEnterWorld", SDK_RC_NO_SUCH_WORLD);
    sdk.queueResult("SdkEnterWorld", SDK_RC_NO_SUCH_WORLD);
    sdk.queueResult("SdkCommitState", SDK_RC_NOT_IN_WORLD);
    sdk.queueResult("SdkCommitState", SDK_RC_NOT_IN_WORLD);
    start();
    // Standard output keeps its lines as they were.
    EXPECT_EQ(outputLines(), (std::vector<std::string>{
                                 "Невозможно зайти в мир. (причина 15). Захожу в welcome.",
                                 "Неверные координаты (причина 16)", "Захожу в центр мира"}));
    EXPECT_EQ(splitLines(errors()),
              (std::vector<std::string>{
                  "Причина 15: такого мира нет: сервер не держит мир с таким названием. Мир "
                  "«Atlantis» (из home.txt).",
                  "Причина 15: такого мира нет: сервер не держит мир с таким названием. Запасной "
                  "мир «welcome» тоже недоступен: сервер не держит ни «Atlantis», ни «welcome». "
                  "Бот остаётся вне мира и ничего не услышит; впишите в home.txt мир, который "
                  "есть на этом сервере, и перезапустите бота.",
                  "Причина 16: сеанс не в мире: операции нужно, чтобы сеанс был в мире. Бот не "
                  "вошёл ни в один мир, поэтому встать ему негде; координаты тут ни при чём."}));
}

TEST_F(WorldSessionTest, MalformedCoordinatesGoToTheCentre) {
    std::remove("home.txt");
    typeAnswers("Atlantis\n\n");
    start();
    const std::vector<std::string> tail(sdk.calls.end() - 6, sdk.calls.end());
    EXPECT_EQ(tail, placeCalls(0, 0, 0));
    const auto lines = outputLines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Неверные координаты. Захожу в центр мира", "Успешно."}));
    EXPECT_EQ(readFile("home.txt"), withLineEnds("Atlantis\n0S 0W\n"));
}

TEST_F(WorldSessionTest, FailedPlacementTriesTheCentreOnceAndASecondFailureIsSilent) {
    for (bool secondFails : {false, true}) {
        SCOPED_TRACE(secondFails);
        SetUp();
        sdk.queueResult("SdkCommitState", 4);
        if (secondFails) {
            sdk.queueResult("SdkCommitState", 4);
        }
        start();
        const std::vector<std::string> tail(sdk.calls.end() - 12, sdk.calls.end());
        EXPECT_EQ(tail, concat({placeCalls(-71000, 142000, 0), placeCalls(0, 0, 0)}));
        std::vector<std::string> expected = {"Неверные координаты (причина 4)",
                                             "Захожу в центр мира"};
        if (!secondFails) {
            expected.push_back("Успешно.");
        }
        EXPECT_EQ(outputLines(), expected);
        // home.txt came from the file, so it is not rewritten.
        EXPECT_EQ(readFile("home.txt"), "Atlantis\n142N 71E\n");
        EXPECT_EQ(StartupConfig.coordinates, "0S 0W");
    }
}

}  // namespace

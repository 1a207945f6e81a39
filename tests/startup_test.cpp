// The start-up sequence run for real: files in a temporary directory, answers
// from a scripted standard input, SDK calls recorded by the scripted backend.

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "app/startup.h"
#include "app/coordinates.h"
#include "app/number_text.h"
#include "app/startup_config.h"
#include "console/operator_console.h"
#include "support/bot_fixture.h"
#include "support/line_ends.h"
#include "text/cp1251.h"
#include "world/chat_log.h"
#include "server/server_log.h"

namespace {

const std::vector<std::string> ENTRY_QUESTIONS = {
    "Задайте точку входа",
    "Название мира? Пример: welcome",
    "Координаты? Пример: 142N 71E. Еще пример: 50S 10W 1a. По умолчанию: центр мира.",
};
const std::string CITIZEN_QUESTION = "Номер гражданства?";
const std::string PASSWORD_QUESTION = "Пароль привилегий?";
const std::string COLORS_QUESTION = "Разрешить пользователям выбирать цвет текста (yes,no)?";
const std::vector<std::string> BRIGHTNESS_QUESTION = {
    "Задайте допустимый коэффициент максимальной яркости RGB цветов:",
    "число от 0.0 до 0.9. При значении 0.0 цвета никак не ограничиваются",
};
const std::string COLORS_NOT_RECOGNISED =
    "Ответ не распознан. Цвета для пользователей будут отключены.";
const std::string BRIGHTNESS_NOT_RECOGNISED =
    "Ответ не распознан. Значение коэффициента выбрано по умолчанию.";

class StartupTest : public BotTest {
protected:
    void runStartupWithLog() {
        openChatLog(CHAT_LOG_FILE);
        runStartup();
    }
    void writeCompleteFiles() {
        writeFile("home.txt", "welcome\n142N 71E\n");
        writeFile("account.txt", "104\nsecret\nyes\n0.4\n");
    }
};

TEST_F(StartupTest, FirstStartAsksEverythingAndWritesEachFileAtItsTime) {
    typeAnswers("Мир Грёз\n50S 10W 1a\n104\nпароль\ny\n0.3\n");
    runStartupWithLog();

    EXPECT_EQ(outputLines(), concat({ENTRY_QUESTIONS,
                                     {CITIZEN_QUESTION, PASSWORD_QUESTION, COLORS_QUESTION},
                                     BRIGHTNESS_QUESTION,
                                     {"Успешно."}}));
    EXPECT_EQ(readFile("address.txt"), withLineEnds("127.0.0.1\n6670\n"));
    EXPECT_EQ(readFile("home.txt"), withLineEnds(ru("Мир Грёз") + "\n50S 10W 1a\n"));
    EXPECT_EQ(readFile("account.txt"), withLineEnds("104\n" + ru("пароль") + "\nyes\n0.3\n"));
    EXPECT_TRUE(StartupConfig.colorsAllowed);
    EXPECT_DOUBLE_EQ(StartupConfig.brightnessLimit, 0.3);

    EXPECT_EQ(sdk.calls, (std::vector<std::string>{
                             "SdkInitialise(93)",
                             "SdkSetEventHandler(0, onAvatarArrived)",
                             "SdkSetEventHandler(1, onAvatarMoved)",
                             "SdkSetEventHandler(2, onAvatarLeft)",
                             "SdkSetEventHandler(6, onChatLine)",
                             "SdkSetEventHandler(29, onConsoleMessage)",
                             "SdkCreateInstance(127.0.0.1, 6670, 0)",
                             "SdkSetInt(2, 104)",
                             "SdkSetString(3, " + ru("пароль") + ")",
                             "SdkSetString(6, SDK Sample Application #1)",
                             "SdkSetString(0, Tintbeacon)",
                             "SdkSetBool(328, 1)",
                             "SdkSetEventHandler(2, onAvatarLeft)",
                             "SdkLogin()",
                             "SdkEnterWorld(" + ru("Мир Грёз") + ")",
                             "SdkSetInt(198, 10000)",
                             "SdkSetInt(200, -50000)",
                             "SdkSetInt(199, 1000)",
                             "SdkSetInt(201, 500)",
                             "SdkSetInt(203, 0)",
                             "SdkCommitState()",
                         }));
    const auto log = splitLines(readFile("chat.txt"));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind(ru("***Сеанс чата "), 0), 0u);
}

TEST_F(StartupTest, CompleteFilesAskNothingAndAreKept) {
    writeCompleteFiles();
    runStartupWithLog();
    EXPECT_EQ(outputLines(), std::vector<std::string>{"Успешно."});
    EXPECT_EQ(readFile("home.txt"), "welcome\n142N 71E\n");
    EXPECT_EQ(readFile("account.txt"), "104\nsecret\nyes\n0.4\n");
    EXPECT_EQ(sdk.callsStartingWith("SdkEnterWorld"), std::vector<std::string>{"SdkEnterWorld(welcome)"});
}

TEST_F(StartupTest, HomeFileIsAskedAgainWhenIncomplete) {
    for (const std::string& home : {std::string("welcome\n142N 71E"), std::string("\n142N 71E\n"),
                                    std::string("welcome\n")}) {
        SCOPED_TRACE(home);
        startFresh();
        writeFile("home.txt", home);
        writeFile("account.txt", "104\nsecret\nno\n");
        typeAnswers("welcome\n142N 71E\n");
        runStartupWithLog();
        EXPECT_EQ(outputLines(), concat({ENTRY_QUESTIONS, {"Успешно."}}));
        EXPECT_EQ(readFile("home.txt"), withLineEnds("welcome\n142N 71E\n"));
    }
}

TEST_F(StartupTest, AccountFileRulesDecideWhatIsAsked) {
    const struct {
        const char* account;
        bool asked;
        bool colorsAllowed;
        double brightness;
    } cases[] = {
        {"104\nsecret\nyes\n0.4\n", false, true, 0.4},
        {"104\nsecret\nYes\n0.4\n", false, false, 0.4},     // only "yes" allows colors
        {"104\n\nyes\n0.2\n", false, true, 0.2},            // empty password is accepted
        {"104\nsecret\nyes\nabc\n", false, true, -1.0},     // not a number, taken as it comes
        {"104\nsecret\nno\n", false, false, 0.4},           // "no" needs no fourth line
        {"104\nsecret\nyes\n", true, true, 0.25},           // "yes" does
        {"104\nsecret\nyes\n0.4", true, true, 0.25},        // line 4 must be ended
        {"\nsecret\nyes\n0.4\n", true, true, 0.25},         // citizen missing
        {"104\nsecret\nno", true, true, 0.25},              // unended "no"
        {"104\r\nsecret\r\nyes\r\n0.5\r\n", false, true, 0.5},  // CR LF line ends
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        startFresh();
        writeFile("home.txt", "welcome\n0N 0W\n");
        writeFile("account.txt", c.account);
        typeAnswers("7\npw\nyes\n0.25\n");
        runStartupWithLog();
        EXPECT_EQ(StartupConfig.colorsAllowed, c.colorsAllowed);
        EXPECT_DOUBLE_EQ(StartupConfig.brightnessLimit, c.brightness);
        EXPECT_EQ(output().find("Номер гражданства?") != std::string::npos, c.asked);
        if (c.asked) {
            EXPECT_EQ(readFile("account.txt"), withLineEnds("7\npw\nyes\n0.25\n"));
        } else {
            EXPECT_EQ(readFile("account.txt"), c.account);
        }
    }
}

TEST_F(StartupTest, ColorsAndBrightnessAnswers) {
    const struct {
        const char* answers;
        const char* accountFile;
        bool colorsAllowed;
        double brightness;
        bool colorsRejected;
        bool brightnessRejected;
    } cases[] = {
        {"1 p Y 0.9", "1\np\nyes\n0.9\n", true, 0.9, false, false},
        {"1 p yes 0", "1\np\nyes\n0\n", true, 0.0, false, false},
        {"1 p N", "1\np\nno\n", false, 0.4, false, false},
        {"1 p No", "1\np\nno\n", false, 0.4, false, false},
        {"1 p maybe", "1\np\n", false, 0.4, true, false},
        {"1 p YES", "1\np\n", false, 0.4, true, false},
        {"1 p y 0.95", "1\np\nyes\n", true, 0.4, false, true},
        {"1 p y 0,5", "1\np\nyes\n", true, 0.4, false, true},
        {"1 p y -0.1", "1\np\nyes\n", true, 0.4, false, true},
        {"1 p y bright", "1\np\nyes\n", true, 0.4, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answers);
        startFresh();
        writeFile("home.txt", "welcome\n0N 0W\n");
        typeAnswers(c.answers);
        runStartupWithLog();
        EXPECT_EQ(readFile("account.txt"), withLineEnds(c.accountFile));
        EXPECT_EQ(StartupConfig.colorsAllowed, c.colorsAllowed);
        EXPECT_DOUBLE_EQ(StartupConfig.brightnessLimit, c.brightness);
        EXPECT_EQ(output().find(COLORS_NOT_RECOGNISED) != std::string::npos, c.colorsRejected);
        EXPECT_EQ(output().find(BRIGHTNESS_NOT_RECOGNISED) != std::string::npos,
                  c.brightnessRejected);
        EXPECT_EQ(output().find(BRIGHTNESS_QUESTION[0]) != std::string::npos, c.colorsAllowed);
    }
}

// What start-up takes from its three files, and what it asks and writes.
std::string startupOutcome() {
    return StartupConfig.serverAddress + "|" + StartupConfig.port + "|" + StartupConfig.worldName +
           "|" + StartupConfig.coordinates + "|" + StartupConfig.citizenNumber + "|" +
           StartupConfig.privilegePassword + "|" + (StartupConfig.colorsAllowed ? "yes" : "no") +
           "|" + std::to_string(StartupConfig.brightnessLimit);
}

std::string withCrLf(const std::string& text) {
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return crlf;
}

TEST_F(StartupTest, CrLfFilesReadAsLfFilesDo) {
    const struct {
        const char* address;
        const char* home;
        const char* account;
    } cases[] = {
        {"10.1.2.3\n7001\n", "welcome\n142N 71E\n", "104\nsecret\nyes\n0.4\n"},
        {"\n7001\n", "Atlantis\n\n", "104\n\nno\n"},                   // empty lines stay empty
        {"10.1.2.3\n", "welcome\n142N 71E", "104\nsecret\nyes\n0.4"},  // unended: asked
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.home);
        std::string outcomes[2];
        std::string outputs[2];
        std::string written[2];
        for (int crlf = 0; crlf < 2; ++crlf) {
            auto file = [crlf](const char* text) {
                return crlf ? withCrLf(text) : std::string(text);
            };
            startFresh();
            writeFile("address.txt", file(c.address));
            writeFile("home.txt", file(c.home));
            writeFile("account.txt", file(c.account));
            typeAnswers("welcome\n1N 1W\n7 pw no\n");
            runStartupWithLog();
            outcomes[crlf] = startupOutcome();
            outputs[crlf] = output();
            written[crlf] = readFile("address.txt");
        }
        EXPECT_EQ(outcomes[1], outcomes[0]);
        EXPECT_EQ(outputs[1], outputs[0]);
        EXPECT_EQ(written[1], written[0]);
        EXPECT_EQ(outcomes[0].find('\r'), std::string::npos) << outcomes[0];
    }
}

TEST_F(StartupTest, NumbersReadAndWrittenIgnoreTheRussianLocale) {
    setRussianLocale();
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    if (locale == "C") {
        GTEST_SKIP() << "no Russian locale installed";
    }
    // Where the locale's decimal point is a comma, the C library reads "0.4" as 0.
    EXPECT_DOUBLE_EQ(textToReal("0.4"), 0.4) << locale;
    EXPECT_DOUBLE_EQ(textToReal("0,4"), -1.0) << locale;
    EXPECT_EQ(textToInt("6670"), 6670) << locale;
    // A Russian code page takes 0xA0 for a space; the bot's numbers do not.
    const std::string space = "\xA0";
    EXPECT_EQ(leadingInt(space + "7"), 0) << locale;
    EXPECT_EQ(parseCoordinates(space + "5N 5W"), std::nullopt) << locale;
    EXPECT_EQ(parseCoordinates("1.5N 2.25W 0.5a"), (Position{2250, 500, 1500})) << locale;
    EXPECT_EQ(coordinatesText(1500, -2250, 500), "1.5N 2.25E 0.5a") << locale;
    const std::string stamp = currentTimestamp();
    EXPECT_EQ(stamp.size(), 19u) << stamp;
    EXPECT_EQ(logTimestamp(std::chrono::system_clock::time_point{}).size(), 29u) << locale;
    // A UTF-8 letter whose second byte a Russian code page calls a space (0xA0
    // in "Р") stays within one answer word.
    typeAnswers("Раз Два");
    EXPECT_EQ(readAnswerWord("word"), ru("Раз")) << locale;
    EXPECT_EQ(readAnswerWord("word"), ru("Два")) << locale;
    std::setlocale(LC_ALL, "C");
}

TEST_F(StartupTest, AddressFileLinesTakePrecedenceAndAreWrittenBack) {
    writeCompleteFiles();
    writeFile("address.txt", "10.1.2.3\n\n");
    runStartupWithLog();
    EXPECT_EQ(readFile("address.txt"), withLineEnds("10.1.2.3\n6670\n"));
    EXPECT_EQ(sdk.callsStartingWith("SdkCreateInstance"),
              std::vector<std::string>{"SdkCreateInstance(10.1.2.3, 6670, 0)"});

    startFresh();
    writeCompleteFiles();
    writeFile("address.txt", "\n7001");
    runStartupWithLog();
    EXPECT_EQ(readFile("address.txt"), withLineEnds("127.0.0.1\n7001\n"));
    EXPECT_EQ(sdk.callsStartingWith("SdkCreateInstance"),
              std::vector<std::string>{"SdkCreateInstance(127.0.0.1, 7001, 0)"});
}

TEST_F(StartupTest, AConfigurationFileThatCannotBeReplacedKeepsItsOldContent) {
    writeCompleteFiles();
    writeFile("address.txt", "10.1.2.3\n");
    std::filesystem::create_directories("address.txt.tmp/in-the-way");
    runStartupWithLog();
    EXPECT_EQ(readFile("address.txt"), "10.1.2.3\n");
    EXPECT_EQ(outputLines(), std::vector<std::string>{"Успешно."});
    EXPECT_EQ(errors(), "Не удаётся записать файл address.txt (мешает каталог); бот продолжает "
                        "работу без него\n");
}

TEST_F(StartupTest, EndOfInputWhileAskingEndsTheProgramNamingTheMissingAnswer) {
    // Input ending at each question in turn: none may be taken as an empty
    // answer, and the message says which answer, for which file, and why.
    const struct {
        const char* home;     // nullptr: no file
        const char* account;  // nullptr: no file
        const char* answers;
        const char* awaited;
    } cases[] = {
        {nullptr, nullptr, "", "название мира для home.txt (файла home.txt нет)"},
        {nullptr, nullptr, "welcome\n", "координаты для home.txt (файла home.txt нет)"},
        {"welcome\n", nullptr, "", "название мира для home.txt (home.txt неполон)"},
        {nullptr, nullptr, "welcome\n0N 0W\n",
         "номер гражданства для account.txt (файла account.txt нет)"},
        {"welcome\n0N 0W\n", "5\npw\n", "", "номер гражданства для account.txt (account.txt неполон)"},
        {nullptr, nullptr, "welcome\n0N 0W\n5",
         "пароль привилегий для account.txt (файла account.txt нет)"},
        {nullptr, nullptr, "welcome\n0N 0W\n5 pw",
         "ответ yes или no о цветах для account.txt (файла account.txt нет)"},
        {nullptr, nullptr, "welcome\n0N 0W\n5 pw y",
         "коэффициент яркости для account.txt (файла account.txt нет)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.awaited);
        startFresh();
        if (c.home != nullptr) {
            writeFile("home.txt", c.home);
        }
        if (c.account != nullptr) {
            writeFile("account.txt", c.account);
        }
        typeAnswers(c.answers);
        try {
            runStartupWithLog();
            ADD_FAILURE() << "start-up went on without answers";
        } catch (const ProgramExit& exit) {
            EXPECT_EQ(exit.status, INPUT_ENDED_STATUS);
        }
        EXPECT_EQ(errors(), "Стандартный ввод закрыт, а ответ не получен: " +
                                std::string(c.awaited) +
                                ". Бот остановлен; ответьте на вопросы, запустив его один раз "
                                "вручную в его рабочем каталоге.\n");
        EXPECT_TRUE(sdk.calls.empty());
    }
}

TEST_F(StartupTest, FailedInstanceEndsWithStatusOneBeforeLoginWithoutHomeOrBanner) {
    typeAnswers("welcome\n142N 71E\n104 pw no\n");
    sdk.queueResult("SdkCreateInstance", SDK_RC_CONNECT_FAILED);
    try {
        runStartupWithLog();
        ADD_FAILURE() << "start-up went on after the instance failed";
    } catch (const ProgramExit& exit) {
        EXPECT_EQ(exit.status, 1);
    }
    EXPECT_EQ(outputLines().back(), "Невозможно запустить бота (причина 5)");
    EXPECT_EQ(sdk.calls.back(), "SdkCreateInstance(127.0.0.1, 6670, 0)");
    EXPECT_FALSE(fileExists("home.txt"));
    EXPECT_EQ(readFile("chat.txt"), "");
    EXPECT_EQ(readFile("account.txt"), withLineEnds("104\npw\nno\n"));
}

}  // namespace

#include "world/chat_capture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/bot_fixture.h"
#include "support/line_ends.h"
#include "text/cp1251.h"
#include "world/chat_log.h"

namespace {

class ChatCaptureTest : public BotTest {
protected:
    void SetUp() override {
        BotTest::SetUp();
        openChatLog(CHAT_LOG_FILE);
        SdkSetEventHandler(SDK_EVENT_CHAT, onChatLine);
        SdkSetEventHandler(SDK_EVENT_CONSOLE_MESSAGE, onConsoleMessage);
    }
    void deliver(std::vector<SdkEvent> events) {
        sdk.queueEvents(std::move(events));
        SdkProcessEvents(0);
    }
};

TEST_F(ChatCaptureTest, SaidAndBroadcastLinesArePrintedLoggedAndHandedOver) {
    for (int type : {SDK_CHAT_SAID, SDK_CHAT_BROADCAST}) {
        SCOPED_TRACE(type);
        SetUp();
        deliver({chatLine(42, ru("Вася"), ru("привет\tвсем"), type)});
        EXPECT_EQ(output(), "Вася: привет\tвсем\n");
        EXPECT_EQ(readFile("chat.txt"), withLineEnds(ru("Вася: привет\tвсем") + "\n"));
        EXPECT_EQ(PendingChat.text, ru("привет\tвсем"));
        EXPECT_EQ(PendingChat.speakerSession, 42);
        EXPECT_EQ(PendingChat.relayLine, ru("Вася:\tпривет\tвсем"));
    }
}

TEST_F(ChatCaptureTest, WhispersAreShownAndLoggedButNeverHandedOver) {
    deliver({chatLine(42, "Ann", "first")});
    deliver({chatLine(43, "Bob", "psst", SDK_CHAT_WHISPER)});
    EXPECT_EQ(outputLines(), (std::vector<std::string>{"Ann: first", "whisper from Bob: psst"}));
    EXPECT_EQ(readFile("chat.txt"), withLineEnds("Ann: first\nwhisper from Bob: psst\n"));
    EXPECT_EQ(PendingChat.text, "first");
    EXPECT_EQ(PendingChat.speakerSession, 42);
    EXPECT_EQ(PendingChat.relayLine, "Ann:\tfirst");

    resetPendingChat();
    deliver({chatLine(43, "Bob", "psst", SDK_CHAT_WHISPER)});
    EXPECT_TRUE(pendingChatIsEmpty());
}

TEST_F(ChatCaptureTest, OfTwoLinesInOneDeliveryOnlyTheSecondWaitsBothAreLogged) {
    deliver({chatLine(1, "Ann", "one"), chatLine(2, "Bob", "two")});
    deliver({});  // the waiting text is the slot's own copy
    EXPECT_EQ(readFile("chat.txt"), withLineEnds("Ann: one\nBob: two\n"));
    EXPECT_EQ(PendingChat.text, "two");
    EXPECT_EQ(PendingChat.speakerSession, 2);
    EXPECT_EQ(PendingChat.relayLine, "Bob:\ttwo");
}

TEST_F(ChatCaptureTest, ConsoleMessagesArePrefixedOnScreenAndLabelledInTheLog) {
    deliver({consoleMessage(ru("Сервер: перезапуск"))});
    EXPECT_EQ(output(), "{TB}Сервер: перезапуск\n");
    EXPECT_EQ(readFile("chat.txt"), withLineEnds(ru("global chat: Сервер: перезапуск") + "\n"));
    EXPECT_TRUE(pendingChatIsEmpty());
}

TEST_F(ChatCaptureTest, BannerHasDateTimeFormAndLogAppendsAcrossRuns) {
    writeSessionBanner();
    deliver({chatLine(1, "Ann", "hi")});
    closeChatLog();
    openChatLog(CHAT_LOG_FILE);  // a second run
    writeSessionBanner();
    const auto lines = splitLines(cp1251ToUtf8(readFile("chat.txt")));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Ann: hi");
    for (const std::string& banner : {lines[0], lines[2]}) {
        // "***Сеанс чата dd.mm.yyyy hh:mm:ss ***"
        const std::string prefix = "***Сеанс чата ";
        ASSERT_EQ(banner.rfind(prefix, 0), 0u) << banner;
        const std::string stamp = banner.substr(prefix.size(), banner.size() - prefix.size() - 4);
        EXPECT_EQ(banner.substr(banner.size() - 4), " ***");
        ASSERT_EQ(stamp.size(), 19u) << stamp;
        const std::string shape = "dd.dd.dddd dd:dd:dd";
        for (std::size_t i = 0; i < shape.size(); ++i) {
            if (shape[i] == 'd') {
                EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << stamp;
            } else {
                EXPECT_EQ(stamp[i], shape[i]) << stamp;
            }
        }
    }
    EXPECT_EQ(currentTimestamp().size(), 19u);
}

TEST_F(ChatCaptureTest, AReopenAfterARenameStartsANewLogWithTheNextLine) {
    deliver({chatLine(1, "Ann", "before")});
    std::error_code renamed;
    std::filesystem::rename("chat.txt", "chat.txt.1", renamed);
    if (renamed) {
        GTEST_SKIP() << "this system does not rename a file held open";
    }
    deliver({chatLine(1, "Ann", "still the old file")});  // no reopen asked for yet
    requestChatLogReopen();
    requestChatLogReopen();  // two requests before a line are one reopen
    deliver({chatLine(1, ru("Вася"), "after")});
    requestChatLogReopen();  // nothing renamed: the same file goes on
    deliver({chatLine(1, "Ann", "again")});
    EXPECT_EQ(readFile("chat.txt.1"), withLineEnds("Ann: before\nAnn: still the old file\n"));
    EXPECT_EQ(readFile("chat.txt"), withLineEnds(ru("Вася: after\nAnn: again\n")));
    EXPECT_EQ(errors(), "");
}

TEST_F(ChatCaptureTest, AnUnopenableLogLeavesTheConsoleUnaffected) {
    closeChatLog();
    std::remove("chat.txt");
    ASSERT_TRUE(std::filesystem::create_directory("chat.txt"));  // a directory is no log
    openChatLog(CHAT_LOG_FILE);
    writeSessionBanner();
    deliver({chatLine(1, "Ann", "hi"), consoleMessage("note")});
    EXPECT_EQ(outputLines(), (std::vector<std::string>{"Ann: hi", "{TB}note"}));
    EXPECT_EQ(PendingChat.text, "hi");
}

TEST_F(ChatCaptureTest, LogTroubleIsToldOnceOnStandardErrorAndSoIsTheRecovery) {
    closeChatLog();
    std::remove("chat.txt");
    ASSERT_TRUE(std::filesystem::create_directory("chat.txt"));
    openChatLog(CHAT_LOG_FILE);
    deliver({chatLine(1, "Ann", "lost")});
    deliver({chatLine(1, "Ann", "lost too")});
    EXPECT_EQ(errors(),
              "Не удаётся записать файл chat.txt (мешает каталог); бот продолжает работу без него\n");
    // Once the log can be opened, logging resumes by itself.
    std::filesystem::remove("chat.txt");
    deliver({chatLine(1, "Ann", "kept")});
    EXPECT_EQ(readFile("chat.txt"), withLineEnds("Ann: kept\n"));
    EXPECT_EQ(errors(),
              "Не удаётся записать файл chat.txt (мешает каталог); бот продолжает работу без него\n"
              "Запись в файл chat.txt снова работает\n");
    EXPECT_EQ(outputLines(), (std::vector<std::string>{"Ann: lost", "Ann: lost too", "Ann: kept"}));
}

TEST_F(ChatCaptureTest, AFullDiskIsToldOnce) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    closeChatLog();
    openChatLog("/dev/full");
    deliver({chatLine(1, "Ann", "one")});
    deliver({chatLine(1, "Ann", "two")});
    EXPECT_EQ(errors(), "Не удаётся записать файл /dev/full (нет места на диске); бот продолжает "
                        "работу без него\n");
}

TEST_F(ChatCaptureTest, TheSentinelIsTwentySevenLettersAndDigits) {
    const std::string sentinel = NO_MESSAGE_SENTINEL;
    EXPECT_EQ(sentinel.size(), 27u);
    bool upper = false, lower = false;
    for (char c : sentinel) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)));
        upper = upper || std::isupper(static_cast<unsigned char>(c));
        lower = lower || std::islower(static_cast<unsigned char>(c));
    }
    EXPECT_TRUE(upper && lower);
}

}  // namespace

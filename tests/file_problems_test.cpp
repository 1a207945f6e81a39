// The words for a file the bot cannot write, and a file that another program
// holds open told apart from a refused permission.

#include "console/file_problems.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "app/startup.h"
#include "support/bot_fixture.h"
#include "support/test_system.h"
#include "world/chat_log.h"

namespace {

class FileProblemsTest : public BotTest {};

std::string failure(const std::string& file, const std::string& cause) {
    return "Не удаётся записать файл " + file + " (" + cause + "); бот продолжает работу без него\n";
}

TEST_F(FileProblemsTest, EachCauseHasItsOwnWords) {
    const struct {
        int error;
        std::string words;
    } cases[] = {
        {EACCES, "нет прав на запись"},         {EPERM, "нет прав на запись"},
        {EBUSY, "файл занят другой программой"}, {EROFS, "диск только для чтения"},
        {ENOSPC, "нет места на диске"},         {EIO, "ошибка ввода-вывода"},
        {EISDIR, "мешает каталог"},             {ENAMETOOLONG, "ошибка " + std::to_string(ENAMETOOLONG)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        startFresh();
        noteFileWriteFailed("f.txt", c.error);
        EXPECT_EQ(errors(), failure("f.txt", c.words));
    }
}

TEST_F(FileProblemsTest, AFileHeldOpenByAnotherProgramIsNotCalledAPermissionProblem) {
    // Held, a configuration file cannot be replaced and the chat log cannot
    // be opened; both are told as held.
    writeFile("home.txt", "welcome\n0N 0W\n");
    writeFile("account.txt", "104\nsecret\nno\n");
    const std::intptr_t address = holdFileAgainstWriters("address.txt");
    const std::intptr_t log = holdFileAgainstWriters(CHAT_LOG_FILE);
    if (address == 0 || log == 0) {
        releaseHeldFile(address);
        GTEST_SKIP() << "this system has no hold of a file against writers";
    }
    openChatLog(CHAT_LOG_FILE);
    runStartup();
    releaseHeldFile(address);
    releaseHeldFile(log);
    EXPECT_EQ(errors(), failure("chat.txt", "файл занят другой программой") +
                            failure("address.txt", "файл занят другой программой"));
}

}  // namespace

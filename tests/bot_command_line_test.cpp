// The bot's command line: what each asks for, and a bad argument echoed
// readably from either encoding the arguments may come in.

#include "app/bot_command_line.h"

#include <gtest/gtest.h>

#include "support/bot_fixture.h"
#include "text/cp1251.h"

namespace {

class BotCommandLineTest : public BotTest {};

TEST_F(BotCommandLineTest, RequestsAndTheEchoOfABadArgumentInEitherEncoding) {
    const std::string usage =
        "Настройки бота — в файлах его рабочего каталога (tintbeacon --help).\n";
    const struct {
        std::vector<std::string> args;
        TerminalEncoding encoding;
        BotRequest request;
        std::string errors;
    } cases[] = {
        {{}, TerminalEncoding::Utf8, BotRequest::Run, ""},
        {{"-h"}, TerminalEncoding::Utf8, BotRequest::Help, ""},
        {{"--version"}, TerminalEncoding::Cp1251, BotRequest::Version, ""},
        {{"--version", "--help"},
         TerminalEncoding::Utf8,
         BotRequest::BadUsage,
         "Бот не принимает аргументов, кроме --help и --version; непонятно: --version\n" + usage},
        {{"--мир"},
         TerminalEncoding::Utf8,
         BotRequest::BadUsage,
         "Бот не принимает аргументов, кроме --help и --version; непонятно: --мир\n" + usage},
        {{ru("--мир")},
         TerminalEncoding::Cp1251,
         BotRequest::BadUsage,
         "Бот не принимает аргументов, кроме --help и --version; непонятно: --мир\n" + usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args[0]);
        startFresh();
        EXPECT_EQ(readBotCommandLine(c.args, c.encoding), c.request);
        EXPECT_EQ(errors(), c.errors);
        EXPECT_EQ(output(), "");
    }
}

}  // namespace

// Tintbeacon: stands at one spot of a world and relays its public chat, in
// each speaker's chosen color, to the avatars beyond hearing range.

#include <string>
#include <vector>

#include "app/bot_command_line.h"
#include "app/startup.h"
#include "console/operator_console.h"
#include "platform/directory_lock.h"
#include "platform/process.h"
#include "platform/program_arguments.h"
#include "relay/main_loop.h"
#include "text/cp1251.h"
#include "world/chat_log.h"

int main(int argc, char** argv) {
    // A reader of standard output that goes away (a pager that quits, a log
    // pipe that restarts) costs its lines, never the bot.
    ignoreBrokenPipe();
    startStandardOutputWriter();
    // On Windows the arguments are read from the UTF-16 command line, so that
    // Cyrillic survives whatever the ANSI code page; elsewhere they come in
    // the terminal's encoding.
    const TerminalEncoding argumentEncoding =
        PROGRAM_ARGUMENTS_ARE_UTF8 ? TerminalEncoding::Utf8 : terminalEncodingFromEnvironment();
    switch (readBotCommandLine(programArguments(argc, argv), argumentEncoding)) {
        case BotRequest::Run:
            break;
        case BotRequest::Help:
            printBotHelp();
            return 0;
        case BotRequest::Version:
            printBotVersion();
            return 0;
        case BotRequest::BadUsage:
            return BOT_BAD_USAGE_STATUS;
    }
    if (lockWorkingDirectory() == DirectoryLock::HeldByOther) {
        printErrorLine(ru("В этом каталоге уже работает другой бот (") + DIRECTORY_LOCK_FILE +
                       ru(" занят); второй не запущен."));
        return BOT_ALREADY_RUNNING_STATUS;
    }
    // SIGHUP after a rotation of chat.txt: the next line goes to a new file.
    onReopenRequest(requestChatLogReopen);
    openChatLog(CHAT_LOG_FILE);
    runStartup();
    runMainLoop();
}

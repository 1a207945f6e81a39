#include "app/bot_command_line.h"

#include "console/operator_console.h"
#include "text/cp1251.h"
#include "tintbeacon_version.h"

BotRequest readBotCommandLine(const std::vector<std::string>& args,
                              TerminalEncoding argumentEncoding) {
    if (args.empty()) {
        return BotRequest::Run;
    }
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        return BotRequest::Help;
    }
    if (args.size() == 1 && args[0] == "--version") {
        return BotRequest::Version;
    }
    const std::string unknown =
        argumentEncoding == TerminalEncoding::Utf8 ? utf8ToCp1251(args[0]) : args[0];
    printErrorLine(ru("Бот не принимает аргументов, кроме --help и --version; непонятно: ") +
                   unknown);
    printErrorLine(ru("Настройки бота — в файлах его рабочего каталога (tintbeacon --help)."));
    return BotRequest::BadUsage;
}

void printBotHelp() {
    for (const char* line : {
             "Использование: tintbeacon [--help | --version]",
             "",
             "Бот входит в мир, стоит в одной точке и пересылает каждую услышанную строку чата",
             "цветным консольным сообщением аватарам дальше 20000 единиц по любой оси.",
             "",
             "Запускайте его в отдельном каталоге: там он держит свои файлы.",
             "  address.txt   адрес и порт сервера мира (по умолчанию 127.0.0.1 и 6670)",
             "  home.txt      мир и координаты входа, например welcome и 142N 71E",
             "  account.txt   номер гражданства, пароль привилегий, yes/no (цвета), яркость",
             "Чего в файлах нет, бот спросит при первом запуске и запишет.",
             "  chat.txt                     всё услышанное, в кодировке Windows-1251",
             "  personal_chat_settings.txt   цвет и глобальный чат каждого пользователя",
             "",
             "Команды в мире (граждане и боты): !help, !color ЦВЕТ или R G B, !global on|off.",
             "Стандартный вывод — журнал бота; пояснения к ошибкам идут в стандартный поток ошибок.",
             "Коды выхода: 1 — нет связи с сервером при запуске, 2 — ввод закрыт, а ответ нужен,",
             "3 — в этом каталоге уже работает бот, 64 — неверные аргументы.",
         }) {
        printLine(ru(line));
    }
}

void printBotVersion() { printLine(std::string("tintbeacon ") + TINTBEACON_VERSION); }

#include "app/explanations.h"

#include <string>

#include "app/config_files.h"
#include "app/startup_config.h"
#include "app/world_session.h"
#include "console/operator_console.h"
#include "sdk/reason_text.h"
#include "text/cp1251.h"

namespace {

std::string quoted(const std::string& cp1251) { return ru("«") + cp1251 + ru("»"); }

// "Причина N: <words>. <what it concerns>."
void explain(int reason, const std::string& concerns) {
    printErrorLine(ru("Причина ") + std::to_string(reason) + ": " + reasonWordsRussian(reason) +
                   ". " + concerns + ".");
}

std::string serverConcerned() {
    return ru("Адрес ") + quoted(StartupConfig.serverAddress) + ru(", порт ") +
           quoted(StartupConfig.port) + ru(" (из ") + ADDRESS_FILE + ")";
}

std::string accountConcerned() {
    return ru("Номер гражданства ") + quoted(StartupConfig.citizenNumber) +
           ru(" и пароль привилегий (") + ACCOUNT_FILE + ")";
}

std::string entrySource() {
    return StartupConfig.entryPointFromFile ? ru("из ") + HOME_FILE : ru("введены при запуске");
}

}  // namespace

void explainInitialisationFailure(int reason) {
    explain(reason, ru("Слой SDK не готов; будут снова запрошены номер гражданства и пароль"));
}

void explainInstanceFailure(int reason) { explain(reason, serverConcerned()); }

void explainRefusedLogin(int reason) { explain(reason, accountConcerned()); }

void explainLoginRetry(int reason) {
    explain(reason, serverConcerned() + ru("; вход будет повторяться, пока мир не ответит"));
}

void explainWorldEntryFailure(int reason) {
    explain(reason, ru("Мир ") + quoted(StartupConfig.worldName) + " (" + entrySource() + ")");
}

void explainFallbackWorldFailure(int reason) {
    explain(reason, ru("Запасной мир ") + quoted(FALLBACK_WORLD) +
                        ru(" тоже недоступен: сервер не держит ни ") +
                        quoted(StartupConfig.worldName) + ru(", ни ") + quoted(FALLBACK_WORLD) +
                        ru(". Бот остаётся вне мира и ничего не услышит; впишите в ") + HOME_FILE +
                        ru(" мир, который есть на этом сервере, и перезапустите бота"));
}

void explainPlacementOutsideEveryWorld(int reason) {
    explain(reason, ru("Бот не вошёл ни в один мир, поэтому встать ему негде; координаты тут ни "
                       "при чём"));
}

void explainPlacementFailure(int reason) {
    explain(reason,
            ru("Координаты ") + quoted(StartupConfig.coordinates) + " (" + entrySource() + ")");
}

void explainMalformedCoordinates() {
    printErrorLine(ru("Координаты ") + quoted(StartupConfig.coordinates) + " (" + entrySource() +
                   ru(") не читаются; нужна запись вида 142N 71E или 50S 10W 1a."));
}

void explainRefusedReconnection(int reason, bool first, int attempts) {
    if (!first) {
        printErrorLine(ru("Мир всё ещё отклоняет вход бота (причина ") + std::to_string(reason) +
                       ru("), попыток: ") + std::to_string(attempts) +
                       ru(". Проверьте номер гражданства и пароль привилегий в ") + ACCOUNT_FILE +
                       ru(" и перезапустите бота."));
        return;
    }
    printErrorLine(ru("Переподключение не удалось (причина ") + std::to_string(reason) + ": " +
                   reasonWordsRussian(reason) + ru("): мир больше не принимает номер гражданства ") +
                   quoted(StartupConfig.citizenNumber) + ru(" и пароль привилегий из ") +
                   ACCOUNT_FILE +
                   ru(" — пароль сменили или гражданство удалили. Впишите верные номер и пароль в ") +
                   ACCOUNT_FILE +
                   ru(" и перезапустите бота; до тех пор вход повторяется раз в несколько минут, "
                      "и бот вернётся сам, если прежние данные снова станут верны."));
}

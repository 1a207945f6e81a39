#include "sdk/reason_text.h"

#include <iterator>

#include "sdk/reason_codes.h"
#include "text/cp1251.h"

namespace {

struct ReasonText {
    int code;
    const char* english;
    const char* russian;  // UTF-8 in the source, Windows-1251 once returned
};

// In the order of the codes; the words say what failed, so that a reader who
// has never seen the numbers knows where to look.
constexpr ReasonText REASONS[] = {
    {SDK_OK, "success", "успешно"},
    {SDK_RC_WRONG_BUILD, "wrong build: the SDK layer does not speak this build",
     "неверная сборка: слой SDK не поддерживает эту сборку"},
    {SDK_RC_NOT_INITIALISED, "not initialised: the SDK layer was not set up",
     "слой SDK не инициализирован"},
    {SDK_RC_NO_INSTANCE, "no instance: there is no connection to the world yet",
     "нет экземпляра: соединения с миром еще нет"},
    {SDK_RC_BAD_ADDRESS, "bad address: not a dotted IPv4 address, or a port not from 1 to 65535",
     "неверный адрес: нужен IPv4-адрес из четырех чисел через точку и порт от 1 до 65535"},
    {SDK_RC_CONNECT_FAILED,
     "cannot connect: nothing listens at that address and port, or it is "
     "unreachable",
     "не удалось подключиться: по этому адресу и порту никто не слушает или он недоступен"},
    {SDK_RC_TIMEOUT, "timeout: the server did not answer in time", "сервер не ответил вовремя"},
    {SDK_RC_CONNECTION_LOST, "connection lost: the connection closed or failed",
     "соединение с сервером потеряно"},
    {SDK_RC_PROTOCOL_ERROR, "protocol error: a message broke the world's wire protocol",
     "ошибка протокола: сообщение нарушает протокол мира"},
    {SDK_RC_VERSION_MISMATCH,
     "version mismatch: client and server speak different protocol "
     "versions",
     "клиент и сервер говорят на разных версиях протокола"},
    {SDK_RC_TEXT_TOO_LONG, "text too long: a name or text exceeds the protocol's limit",
     "слишком длинный текст: имя или текст превышает предел протокола"},
    {SDK_RC_INVALID_TEXT, "invalid text: empty, or holds control characters",
     "недопустимый текст: пустой или содержит управляющие символы"},
    {SDK_RC_NOT_LOGGED_IN, "not logged in: the operation needs a logged-in session",
     "вход не выполнен: операции нужен сеанс после входа"},
    {SDK_RC_ALREADY_LOGGED_IN, "already logged in", "вход уже выполнен"},
    {SDK_RC_BAD_CREDENTIALS, "bad credentials: unknown citizen number or wrong password",
     "неверные данные входа: неизвестный номер гражданства или неверный пароль"},
    {SDK_RC_NO_SUCH_WORLD, "no such world: the server does not host a world of that name",
     "такого мира нет: сервер не держит мир с таким названием"},
    {SDK_RC_NOT_IN_WORLD, "not in a world: the operation needs the session to be in a world",
     "сеанс не в мире: операции нужно, чтобы сеанс был в мире"},
    {SDK_RC_NO_SUCH_SESSION, "no such session: nobody with that session number is in the world",
     "нет такого сеанса: в мире нет аватара с этим номером сеанса"},
    {SDK_RC_NOT_ALLOWED, "not allowed: the session lacks the right",
     "не разрешено: у сеанса нет такого права"},
    {SDK_RC_SERVER_FULL, "server full: it refuses more connections",
     "сервер переполнен: он не принимает новых соединений"},
    {SDK_RC_OUTPUT_FULL, "output full: too much unsent output is waiting",
     "переполнена очередь исходящих сообщений"},
    {SDK_RC_RATE_LIMITED,
     "over the allowance: too many lines, moves, entries, logins or connections for the "
     "world's limits",
     "сработало ограничение мира: слишком много строк, перемещений, входов или соединений"},
    {SDK_RC_NAME_IN_USE, "name in use: another avatar in that world has this name",
     "имя занято: в этом мире уже есть аватар с таким именем"},
};

constexpr ReasonText UNKNOWN = {-1, "unknown reason", "неизвестная причина"};

const ReasonText& find(int code) {
    for (const ReasonText& reason : REASONS) {
        if (reason.code == code) {
            return reason;
        }
    }
    return UNKNOWN;
}

}  // namespace

const char* reasonWords(int code) {
    return find(code).english;
}

std::string reasonWithWords(int code) {
    return std::to_string(code) + " (" + reasonWords(code) + ")";
}

std::string reasonWordsRussian(int code) {
    return ru(find(code).russian);
}

#include "app/config_files.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <istream>
#include <utility>
#include <vector>

#include "app/number_text.h"
#include "app/startup_config.h"
#include "console/file_problems.h"
#include "console/operator_console.h"
#include "platform/durable_file.h"
#include "platform/line_end.h"
#include "text/cp1251.h"

namespace {

// Replaces the file whole with the given lines, each followed by a line end.
// A failed write leaves the old file and is reported on standard error only.
void saveLines(const char* file, const std::vector<std::string>& lines,
               FileAccess access = FileAccess::Shared) {
    std::string content;
    for (const std::string& line : lines) {
        content += line;
        content += LINE_END;
    }
    if (replaceFileDurably(file, content, access)) {
        noteFileWritten(file);
    } else {
        noteFileWriteFailed(file, errno);
    }
}

// account.txt as the answers come: each answer is saved as soon as it is
// given, and the file is left as it was until the first one arrives, so an
// operator (or a closed standard input) who gives no answer loses nothing.
class AccountFile {
  public:
    // `why`: why the account is asked for (Windows-1251), for the message
    // that ends the bot when no answer can come.
    explicit AccountFile(std::string why) : why_(std::move(why)) {}

    void addLine(const std::string& line) {
        lines_.push_back(line);
        saveLines(ACCOUNT_FILE, lines_, FileAccess::OwnerOnly);
    }

    // "<what> для account.txt (<why>)".
    std::string awaited(const char* what) const {
        return ru(what) + ru(" для ") + ACCOUNT_FILE + " (" + why_ + ")";
    }

  private:
    std::string why_;
    std::vector<std::string> lines_;
};

// Why a file's values are asked for: it is missing, cannot be read, or
// lacks a line.
std::string whyAsked(const char* file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return ru("файла ") + file + ru(" нет");
    }
    if (!std::ifstream(file, std::ios::binary)) {
        return std::string(file) + ru(" не читается");
    }
    return std::string(file) + ru(" неполон");
}

std::string askCitizenNumber(AccountFile& account) {
    printLine(ru("Номер гражданства?"));
    std::string answer = readAnswerWord(account.awaited("номер гражданства"));
    account.addLine(answer);
    return answer;
}

std::string askPrivilegePassword(AccountFile& account) {
    printLine(ru("Пароль привилегий?"));
    std::string answer = readSecretWord(account.awaited("пароль привилегий"));
    account.addLine(answer);
    return answer;
}

// Asks whether users may choose colors; writes "yes" or "no" for a recognised
// answer, nothing otherwise.
void askColorsAllowed(AccountFile& account) {
    printLine(ru("Разрешить пользователям выбирать цвет текста (yes,no)?"));
    std::string answer = readAnswerWord(account.awaited("ответ yes или no о цветах"));
    if (answer == "Yes" || answer == "yes" || answer == "y" || answer == "Y") {
        account.addLine("yes");
        StartupConfig.colorsAllowed = true;
    } else if (answer == "No" || answer == "no" || answer == "n" || answer == "N") {
        account.addLine("no");
        StartupConfig.colorsAllowed = false;
    } else {
        printLine(ru("Ответ не распознан. Цвета для пользователей будут отключены."));
        StartupConfig.colorsAllowed = false;
    }
}

void askBrightnessLimit(AccountFile& account) {
    printLine(ru("Задайте допустимый коэффициент максимальной яркости RGB цветов:"));
    printLine(ru("число от 0.0 до 0.9. При значении 0.0 цвета никак не ограничиваются"));
    std::string answer = readAnswerWord(account.awaited("коэффициент яркости"));
    double value = textToReal(answer);
    if (value >= 0.0 && value <= 0.9) {
        StartupConfig.brightnessLimit = value;
        StartupConfig.brightnessText = answer;
        account.addLine(answer);
    } else {
        printLine(ru("Ответ не распознан. Значение коэффициента выбрано по умолчанию."));
        StartupConfig.brightnessLimit = DEFAULT_BRIGHTNESS_LIMIT;
        StartupConfig.brightnessText = DEFAULT_BRIGHTNESS_TEXT;
    }
}

// Reads account.txt; returns true when it is complete and has been taken.
// A file whose line 3 is "no" is complete without a line 4.
bool readAccount() {
    std::ifstream in(ACCOUNT_FILE, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string citizen, password, colors, brightness;
    readFileLine(in, citizen);
    readFileLine(in, password);
    bool colorsEnded = readFileLine(in, colors);
    bool brightnessEnded = readFileLine(in, brightness);
    bool complete = !citizen.empty() && !colors.empty() &&
                    ((!brightness.empty() && brightnessEnded) || (colors == "no" && colorsEnded));
    if (!complete) {
        return false;
    }
    StartupConfig.citizenNumber = citizen;
    StartupConfig.privilegePassword = password;
    StartupConfig.colorsAllowed = colors == "yes";
    if (!brightness.empty()) {
        StartupConfig.brightnessLimit = textToReal(brightness);
        StartupConfig.brightnessText = brightness;
    }
    return true;
}

}  // namespace

// The files are opened in binary mode: this drops the CR of a CR LF line end
// itself, on every platform, and a text-mode read would stop at a Ctrl-Z.
bool readFileLine(std::istream& in, std::string& line) {
    line.clear();
    if (!std::getline(in, line)) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return !in.eof();
}

void settleServerAddress() {
    std::ifstream in(ADDRESS_FILE, std::ios::binary);
    if (in) {
        std::string address, port;
        readFileLine(in, address);
        readFileLine(in, port);
        if (!address.empty()) {
            StartupConfig.serverAddress = address;
        }
        if (!port.empty()) {
            StartupConfig.port = port;
        }
    }
    in.close();
    saveLines(ADDRESS_FILE, {StartupConfig.serverAddress, StartupConfig.port});
}

void obtainEntryPoint() {
    std::ifstream in(HOME_FILE, std::ios::binary);
    if (in) {
        readFileLine(in, StartupConfig.worldName);
        bool ended = readFileLine(in, StartupConfig.coordinates);
        if (!StartupConfig.worldName.empty() && ended) {
            StartupConfig.entryPointFromFile = true;
            return;
        }
    }
    in.close();
    const std::string why = ru(" для ") + HOME_FILE + " (" + whyAsked(HOME_FILE) + ")";
    printLine(ru("Задайте точку входа"));
    printLine(ru("Название мира? Пример: welcome"));
    StartupConfig.worldName = readAnswerLine(ru("название мира") + why);
    printLine(ru("Координаты? Пример: 142N 71E. Еще пример: 50S 10W 1a. По умолчанию: центр мира."));
    StartupConfig.coordinates = readAnswerLine(ru("координаты") + why);
}

void obtainAccount() {
    if (readAccount()) {
        return;
    }
    AccountFile account(whyAsked(ACCOUNT_FILE));
    StartupConfig.citizenNumber = askCitizenNumber(account);
    StartupConfig.privilegePassword = askPrivilegePassword(account);
    askColorsAllowed(account);
    StartupConfig.brightnessLimit = DEFAULT_BRIGHTNESS_LIMIT;
    StartupConfig.brightnessText = DEFAULT_BRIGHTNESS_TEXT;
    if (StartupConfig.colorsAllowed) {
        askBrightnessLimit(account);
    }
}

void reaskCredentials() {
    AccountFile account(ru("прежние номер и пароль не подошли"));
    StartupConfig.citizenNumber = askCitizenNumber(account);
    StartupConfig.privilegePassword = askPrivilegePassword(account);
    std::vector<std::string> lines = {StartupConfig.citizenNumber, StartupConfig.privilegePassword,
                                      StartupConfig.colorsAllowed ? "yes" : "no"};
    if (StartupConfig.colorsAllowed) {
        lines.push_back(StartupConfig.brightnessText);
    }
    saveLines(ACCOUNT_FILE, lines, FileAccess::OwnerOnly);
}

void saveEntryPoint() {
    saveLines(HOME_FILE, {StartupConfig.worldName, StartupConfig.coordinates});
}

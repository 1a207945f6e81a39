#include "console/file_problems.h"

#include <cerrno>
#include <filesystem>
#include <set>

#include "console/operator_console.h"
#include "platform/file_errors.h"
#include "text/cp1251.h"

namespace {

std::set<std::string> failingFiles;

// The cause in the operator's words. The C library's own texts are not used:
// they follow the locale and may not be in the console's encoding.
std::string causeOf(const std::string& file, int error) {
    if (meansDiskFull(error)) {
        return ru("нет места на диске");
    }
    // Some systems refuse to open a directory as a file with EACCES, not
    // EISDIR; the operator is told what stands in the way all the same.
    if (error == EACCES) {
        std::error_code ignored;
        if (std::filesystem::is_directory(file, ignored)) {
            error = EISDIR;
        }
    }
    switch (error) {
        case EACCES:
        case EPERM:
            return ru("нет прав на запись");
        case EROFS:
            return ru("диск только для чтения");
        case EBUSY:
            return ru("файл занят другой программой");
        case EISDIR:
            return ru("мешает каталог");
        case EIO:
            return ru("ошибка ввода-вывода");
        default:
            return ru("ошибка ") + std::to_string(error);
    }
}

}  // namespace

void noteFileWritten(const std::string& file) {
    if (failingFiles.erase(file) > 0) {
        printErrorLine(ru("Запись в файл ") + file + ru(" снова работает"));
    }
}

void noteFileWriteFailed(const std::string& file, int error) {
    if (failingFiles.insert(file).second) {
        printErrorLine(ru("Не удаётся записать файл ") + file + " (" + causeOf(file, error) +
                       ru("); бот продолжает работу без него"));
    }
}

void resetFileProblems() { failingFiles.clear(); }

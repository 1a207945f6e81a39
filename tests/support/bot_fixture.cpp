#include "support/bot_fixture.h"

#include <fstream>
#include <iterator>

#include "app/service_status.h"
#include "app/startup_config.h"
#include "console/file_problems.h"
#include "console/operator_console.h"
#include "relay/console_line.h"
#include "relay/personal_settings.h"
#include "sdk/connection_notes.h"
#include "support/temporary_directory.h"
#include "world/avatar_roster.h"
#include "world/chat_capture.h"
#include "world/chat_log.h"

namespace {

void throwProgramExit(int status) { throw ProgramExit{status}; }

}  // namespace

void BotTest::SetUp() {
    if (previousDirectory_.empty()) {
        previousDirectory_ = std::filesystem::current_path();
    }
    startFresh();
}

void BotTest::startFresh() {
    if (!directory_.empty()) {
        std::filesystem::current_path(previousDirectory_);
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    directory_ = makeTemporaryDirectory("tintbeacon-test");
    ASSERT_FALSE(directory_.empty());
    std::filesystem::current_path(directory_);

    resetStartupConfig();
    resetAvatarRoster();
    resetPendingChat();
    resetPersonalSettings();
    closeChatLog();
    resetFileProblems();
    resetConsoleFailures();
    resetServiceStatus();
    resetConnectionNotes();
    sdk = ScriptedSdk{};
    sdkUseBackend(&sdk);
    input_.str("");
    input_.clear();
    output_.str("");
    errors_.str("");
    setConsoleStreams(input_, output_, errors_, TerminalEncoding::Utf8);
    setExitHandler(throwProgramExit);
}

void BotTest::TearDown() {
    closeChatLog();
    setExitHandler(nullptr);
    resetConsole();
    sdkUseBackend(nullptr);
    std::filesystem::current_path(previousDirectory_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::vector<std::string> BotTest::outputLines() const { return splitLines(output()); }

void BotTest::writeFile(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
}

std::string BotTest::readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool BotTest::fileExists(const std::string& name) { return std::filesystem::exists(name); }

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        const std::size_t cut = end > start && text[end - 1] == '\r' ? end - 1 : end;
        lines.push_back(text.substr(start, cut - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> concat(const std::vector<std::vector<std::string>>& parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all = std::move(all) + part;
    }
    return all;
}

void storeUserSettings(int citizen, int globalOff, int red, int green, int blue) {
    PersonalSettings.globalOff.getOrInsert(citizen) = globalOff;
    PersonalSettings.red.getOrInsert(citizen) = red;
    PersonalSettings.green.getOrInsert(citizen) = green;
    PersonalSettings.blue.getOrInsert(citizen) = blue;
}

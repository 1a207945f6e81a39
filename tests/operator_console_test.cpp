// The encoding of the operator's console when it is not a console window.

#include "console/operator_console.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/console_window.h"
#include "support/test_system.h"

namespace {

const char* const LOCALE_VARIABLES[] = {"LC_ALL", "LC_CTYPE", "LANG"};

// Puts the locale variables back as they were.
class LocaleVariables {
  public:
    LocaleVariables() {
        for (int i = 0; i < 3; ++i) {
            const char* value = std::getenv(LOCALE_VARIABLES[i]);
            if (value != nullptr) {
                saved_[i] = value;
            }
        }
    }
    ~LocaleVariables() {
        for (int i = 0; i < 3; ++i) {
            set(i, saved_[i]);
        }
    }
    static void set(int i, const std::optional<std::string>& value) {
        if (value && !value->empty()) {
            setEnvironmentVariable(LOCALE_VARIABLES[i], *value);
        } else {
            unsetEnvironmentVariable(LOCALE_VARIABLES[i]);
        }
    }

  private:
    std::optional<std::string> saved_[3];
};

TEST(OperatorConsole, EncodingFollowsTheFirstLocaleVariableSetElseThePlatform) {
    const TerminalEncoding native =
        BYTES_DEFAULT_TO_CP1251 ? TerminalEncoding::Cp1251 : TerminalEncoding::Utf8;
    const struct {
        const char* values[3];  // LC_ALL, LC_CTYPE, LANG; "" is unset
        TerminalEncoding expected;
    } cases[] = {
        {{"", "", ""}, native},
        {{"", "", "ru_RU.CP1251"}, TerminalEncoding::Cp1251},
        {{"", "", "ru_RU.UTF-8"}, TerminalEncoding::Utf8},
        {{"", "", "C"}, TerminalEncoding::Utf8},
        {{"C.UTF-8", "", "ru_RU.cp1251"}, TerminalEncoding::Utf8},
        {{"", "ru_RU.1251", "C.UTF-8"}, TerminalEncoding::Cp1251},
        {{"Russian_Russia.1251", "C.UTF-8", ""}, TerminalEncoding::Cp1251},
    };
    LocaleVariables restore;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.values[0]) + "|" + c.values[1] + "|" + c.values[2]);
        for (int i = 0; i < 3; ++i) {
            LocaleVariables::set(i, std::string(c.values[i]));
        }
        EXPECT_EQ(terminalEncodingFromEnvironment(), c.expected);
    }
}

}  // namespace

#pragma once

// A fixture that runs the bot's real code in a fresh temporary working
// directory, with the global state reset, the scripted SDK installed, the
// console on string streams (UTF-8 terminal) and program exits observable.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/scripted_sdk.h"

// Thrown by the test exit handler in place of ending the process.
struct ProgramExit {
    int status;
};

class BotTest : public ::testing::Test {
protected:
    // SetUp may be called again inside a test: it starts over like startFresh
    // and then repeats a derived fixture's own preparation.
    void SetUp() override;
    void TearDown() override;
    // Starts over as if a new test began: new directory, state, streams and
    // scripted SDK. Lets a table-driven test run each case from scratch.
    void startFresh();

    // Scripts the operator's answers (UTF-8, as typed on the terminal).
    void typeAnswers(const std::string& text) { input_.str(text); }
    // What the bot printed on standard output / error, as the terminal shows it.
    std::string output() const { return output_.str(); }
    std::vector<std::string> outputLines() const;
    std::string errors() const { return errors_.str(); }
    void clearOutput() { output_.str(""); }

    static void writeFile(const std::string& name, const std::string& content);
    static std::string readFile(const std::string& name);
    static bool fileExists(const std::string& name);

    ScriptedSdk sdk;

private:
    std::filesystem::path previousDirectory_;
    std::filesystem::path directory_;
    std::istringstream input_;
    std::ostringstream output_;
    std::ostringstream errors_;
};

// Gives a user a global-chat flag and a color, as a record of the settings
// file would.
void storeUserSettings(int citizen, int globalOff, int red, int green, int blue);

// Joins lists of lines or calls.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);
std::vector<std::string> concat(const std::vector<std::vector<std::string>>& parts);

// Splits text into lines at '\n', without a CR before it (a final line end
// adds no empty line).
std::vector<std::string> splitLines(const std::string& text);

#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Two options that record what they were given, in order.
struct Recorder {
    std::vector<std::string> applied;
    std::vector<OptionEntry> entries() {
        return {
            {"port", true, "a port",
             [this](const std::string& value) {
                 applied.push_back("port=" + value);
                 return value != "bad";
             }},
            {"port-base", true, "a port",
             [this](const std::string& value) {
                 applied.push_back("port-base=" + value);
                 return true;
             }},
            {"quiet", false, "no value",
             [this](const std::string&) {
                 applied.push_back("quiet");
                 return true;
             }},
        };
    }
};

}  // namespace

TEST(CommandLine, ReadsBothValueFormsInAnyOrder) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> applied;
    };
    const Case cases[] = {
        {{}, {}},
        {{"--port", "7"}, {"port=7"}},
        {{"--port=7"}, {"port=7"}},
        {{"--port="}, {"port="}},
        {{"--port=a=b"}, {"port=a=b"}},
        {{"--quiet", "--port", "7", "--port-base=9"}, {"quiet", "port=7", "port-base=9"}},
        {{"--port-base", "9", "--quiet", "--port=7"}, {"port-base=9", "quiet", "port=7"}},
        {{"--port", "-7"}, {"port=-7"}},  // a value may look like an option
        {{"--port", "1", "--port", "2"}, {"port=1", "port=2"}},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        std::string error;
        auto request = parseCommandLine(c.args, recorder.entries(), error);
        EXPECT_EQ(recorder.applied, c.applied) << (c.args.empty() ? "" : c.args[0]);
        ASSERT_TRUE(request) << error;
        EXPECT_EQ(*request, CommandLineRequest::Run);
    }
}

TEST(CommandLine, FaultsAreNamedClearly) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{"--port"}, "option --port needs a value"},
        {{"--quiet", "--port"}, "option --port needs a value"},
        {{"--port", "bad"}, "bad value for --port: \"bad\" (expected a port)"},
        {{"--port=bad", "--port=alsobad"}, "bad value for --port: \"bad\" (expected a port)"},
        {{"--quiet=yes"}, "option --quiet takes no value"},
        {{"--version=2"}, "option --version takes no value"},
        {{"--colour", "red"}, "unknown option --colour"},
        {{"--colour=red"}, "unknown option --colour"},
        {{"--po", "1"}, "unknown option --po"},  // a prefix of two options
        {{"-x"}, "unknown option -x"},
        {{"stray"}, "unexpected argument stray"},
        {{"--port", "1", "stray", "--quiet"}, "unexpected argument stray"},
        {{"--quiet", "--", "--port=1"}, "unexpected argument --port=1"},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        std::string error;
        EXPECT_FALSE(parseCommandLine(c.args, recorder.entries(), error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(CommandLine, HelpAndVersionWinAnywhereOnTheLine) {
    struct Case {
        std::vector<std::string> args;
        CommandLineRequest request;
    };
    const Case cases[] = {
        {{"--help"}, CommandLineRequest::Help},
        {{"-h"}, CommandLineRequest::Help},
        {{"--port", "1", "--help"}, CommandLineRequest::Help},
        {{"--port", "bad", "--help"}, CommandLineRequest::Help},
        {{"--unknown", "--help"}, CommandLineRequest::Help},
        {{"--version"}, CommandLineRequest::Version},
        {{"stray", "--version"}, CommandLineRequest::Version},
        {{"--version", "--help"}, CommandLineRequest::Help},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        std::string error;
        auto request = parseCommandLine(c.args, recorder.entries(), error);
        ASSERT_TRUE(request) << c.args[0] << ": " << error;
        EXPECT_EQ(*request, c.request) << c.args[0];
    }
}

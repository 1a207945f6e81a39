// The world server's and the avatar client's command lines, as the real
// programs answer them: what they print where, and their exit status.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/child_process.h"
#include "support/line_ends.h"
#include "support/temporary_directory.h"
#include "tintbeacon_version.h"

namespace {

const std::string BIN_DIR = TINTBEACON_BIN_DIR;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(CommandLineE2e, HelpVersionAndBadUsage) {
    struct Case {
        std::string program;
        std::vector<std::string> args;
        int status;
        std::string out;  // the whole standard output, or its beginning when ending in "..."
        std::string err;
    };
    const std::string version = TINTBEACON_VERSION;
    const std::vector<Case> cases = {
        {"tintbeacon-world", {"--version"}, 0, "tintbeacon-world " + version + "\n", ""},
        {"tintbeacon-world", {"--max-clients=1", "--help"}, 0, "usage: tintbeacon-world ...", ""},
        {"tintbeacon-world",
         {"--world", "x", "--listen"},
         2,
         "",
         "tintbeacon-world: option --listen needs a value\nTry 'tintbeacon-world --help'.\n"},
        {"tintbeacon-world",
         {"--max-output=1"},
         2,
         "",
         "tintbeacon-world: bad value for --max-output: \"1\" (expected a number of bytes from "
         "65536 to 4294967296)\nTry 'tintbeacon-world --help'.\n"},
        {"tintbeacon-avatar", {"--version"}, 0, "tintbeacon-avatar " + version + "\n", ""},
        {"tintbeacon-avatar", {"--name", "x", "-h"}, 0, "usage: tintbeacon-avatar ...", ""},
        {"tintbeacon-avatar",
         {"--colour=red"},
         2,
         "",
         "tintbeacon-avatar: unknown option --colour\nTry 'tintbeacon-avatar --help'.\n"},
    };
    const std::filesystem::path dir = makeTemporaryDirectory("tintbeacon-cli");
    ASSERT_FALSE(dir.empty());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string label = c.program + " " + c.args[0];
        const std::filesystem::path outFile = dir / ("out" + std::to_string(i));
        const std::filesystem::path errFile = dir / ("err" + std::to_string(i));
        ChildProcess child;
        ASSERT_TRUE(child.start(BIN_DIR + "/" + c.program, c.args, dir.string(), outFile.string(),
                                errFile.string()));
        EXPECT_EQ(child.stop(CHILD_WAIT), c.status) << label;
        const std::string out = readFile(outFile);
        if (c.out.size() > 3 && c.out.compare(c.out.size() - 3, 3, "...") == 0) {
            EXPECT_EQ(out.rfind(c.out.substr(0, c.out.size() - 3), 0), 0u) << label << ": " << out;
        } else {
            EXPECT_EQ(out, withLineEnds(c.out)) << label;
        }
        EXPECT_EQ(readFile(errFile), withLineEnds(c.err)) << label;
    }
    std::filesystem::remove_all(dir);
}

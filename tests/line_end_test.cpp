// The line end the bot writes is the one the platform's text mode writes.

#include "platform/line_end.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/temporary_directory.h"

TEST(LineEnd, IsThePlatformsTextModeLineEnd) {
    const std::filesystem::path directory = makeTemporaryDirectory("tintbeacon-line-end");
    ASSERT_FALSE(directory.empty());
    const std::filesystem::path file = directory / "text.txt";
    std::ofstream(file) << "a\nb\n";  // text mode
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    const std::string end(LINE_END);
    EXPECT_EQ(bytes, "a" + end + "b" + end);
    std::filesystem::remove_all(directory);
}

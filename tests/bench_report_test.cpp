#include "bench_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(BenchReport, SpreadsAndRatiosOfRuns) {
    struct Case {
        std::vector<double> values;
        std::string text;
    };
    const Case cases[] = {
        {{}, "-"},
        {{5}, "5.0 / 5.0 / 5.0"},
        {{3, 1, 2}, "1.0 / 2.0 / 3.0"},
        // An even count: the mean of the middle two, neither of them alone.
        {{4, 1, 3, 2}, "1.0 / 2.5 / 4.0"},
        {{9, 9, 1}, "1.0 / 9.0 / 9.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bench::formatSpread(c.values, 1), c.text);
    }
    // A failed measurement (-1) or a zero floor gives no ratio, rather than a
    // negative or an infinite one; runs are paired by index.
    EXPECT_EQ(bench::ratios({10, 20, -1, 30}, {5, 0, 4, 10, 99}), (std::vector<double>{2, 3}));
}

TEST(BenchReport, LoadIsReadAndFlaggedAboveOne) {
    EXPECT_DOUBLE_EQ(bench::parseLoad("0.52 0.61 0.70 1/123 4567\n"), 0.52);
    EXPECT_EQ(bench::parseLoad(""), -1);
    EXPECT_EQ(bench::parseLoad("unknown"), -1);
    EXPECT_FALSE(bench::busy(1.0));
    EXPECT_TRUE(bench::busy(1.01));
    EXPECT_FALSE(bench::busy(-1));  // unknown is not taken for busy

    const bench::Report report("tool", bench::Options{});
    EXPECT_EQ(report.loadCell({0.5, 0.7, 0.6}), "0.50 / 0.60 / 0.70");
    EXPECT_EQ(report.loadCell({0.5, 1.2, 0.6}), "0.50 / 0.60 / 1.20 **above 1.0**");
}

TEST(BenchReport, TakesItsOptionsAndLeavesTheBenchmarks) {
    std::vector<std::string> words = {"tool", "1000",     "--runs",   "5", "--rounds",
                                      "1",    "--strict", "--settle", "0", "10000"};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int argc = static_cast<int>(words.size());
    bench::Options options;
    std::string error;
    ASSERT_TRUE(bench::takeOptions(argc, argv.data(), options, error));
    ASSERT_EQ(argc, 5);
    EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + argc),
              (std::vector<std::string>{"tool", "1000", "--rounds", "1", "10000"}));
    EXPECT_EQ(argv[argc], nullptr);
    EXPECT_EQ(options.runs, 5);
    EXPECT_TRUE(options.strict);
    EXPECT_EQ(options.settleSeconds, 0);
    EXPECT_EQ(bench::optionsText(options), " --runs 5 --settle 0 --strict");
    EXPECT_EQ(bench::optionsText(bench::Options{}), " --runs 3");

    for (std::vector<std::string> bad : {std::vector<std::string>{"tool", "--runs", "0"},
                                         {"tool", "--runs", "3x"},
                                         {"tool", "--runs"},
                                         {"tool", "--settle", "-1"}}) {
        std::vector<char*> badArgv;
        for (std::string& word : bad) {
            badArgv.push_back(word.data());
        }
        badArgv.push_back(nullptr);
        int badArgc = static_cast<int>(bad.size());
        EXPECT_FALSE(bench::takeOptions(badArgc, badArgv.data(), options, error)) << bad[1];
        EXPECT_NE(error, "");
    }
}

TEST(BenchReport, CommandRepeatsInAShell) {
    EXPECT_EQ(bench::commandText({"build/tintbeacon_scale_bench", "1000", "--rounds", "5"}),
              "build/tintbeacon_scale_bench 1000 --rounds 5");
    EXPECT_EQ(bench::commandText({"tool", "--console", "Speaker:\tit's", ""}),
              "tool --console 'Speaker:\tit'\\''s' ''");
}

}  // namespace

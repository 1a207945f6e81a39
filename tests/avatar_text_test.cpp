// The avatar client's output forms: JSON lines, terminal text, latency figures.

#include <gtest/gtest.h>

#include "avatar/json_line.h"
#include "avatar/latency_stats.h"
#include "avatar/terminal_text.h"
#include "text/cp1251.h"

TEST(JsonLine, EscapesAndConvertsWorldTexts) {
    const std::string line = JsonLine()
                                 .field("event", "chat")
                                 .field("session", 42)
                                 .field("text", ru("Вася:\tпривет \"всем\"\\") + "\x01")
                                 .flag("relayed", true)
                                 .str();
    EXPECT_EQ(line,
              "{\"event\":\"chat\",\"session\":42,"
              "\"text\":\"Вася:\\tпривет \\\"всем\\\"\\\\\\u0001\",\"relayed\":true}");
    EXPECT_EQ(JsonLine().str(), "{}");
}

TEST(TerminalText, ColorsAndNeutralisesControlBytes) {
    const std::string text = ru("Ёж\tх") + "\x1b[2J\n";
    EXPECT_EQ(terminalText(text, TerminalEncoding::Utf8, false), "Ёж\tх?[2J?");
    EXPECT_EQ(terminalText(text, TerminalEncoding::Cp1251, false), ru("Ёж\tх") + "?[2J?");
    EXPECT_EQ(terminalText("hi", TerminalEncoding::Utf8, true, 255, 20, 147),
              "\x1b[48;2;255;255;255m\x1b[38;2;255;20;147mhi\x1b[0m");
}

TEST(LatencyStats, NearestRankPercentiles) {
    LatencyStats stats;
    EXPECT_EQ(stats.median(), 0.0);
    for (int i = 100; i >= 1; --i) {
        stats.add(i);
    }
    EXPECT_EQ(stats.count(), 100u);
    EXPECT_EQ(stats.median(), 50.0);
    EXPECT_EQ(stats.p99(), 99.0);
    stats.add(1000.0);
    EXPECT_EQ(stats.p99(), 100.0);
    EXPECT_EQ(stats.percentile(100.0), 1000.0);
}

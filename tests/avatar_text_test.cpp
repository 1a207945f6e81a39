// The avatar client's output forms: JSON lines, terminal text, latency figures.

#include <gtest/gtest.h>

#include "avatar/event_view.h"
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

TEST(TerminalText, ConsoleLineBreaksAreShownAsLineBreaks) {
    struct Case {
        std::string text;
        bool colored;
        std::string shown;
    };
    const std::string on = "\x1b[48;2;255;255;255m\x1b[38;2;1;2;3m", off = "\x1b[0m";
    const Case cases[] = {
        {"one\ntwo", false, "one\ntwo"},
        {"one\r\ntwo\rthree\n", false, "one\ntwo\nthree\n"},
        {"\n\nx\x1b", false, "\n\nx?"},  // other control bytes stay neutralised
        {ru("цвет\nDeepPink"), false, "цвет\nDeepPink"},
        {"a\nb", true, on + "a" + off + "\n" + on + "b" + off},  // each line colored on its own
    };
    for (const Case& c : cases) {
        EXPECT_EQ(consoleTerminalText(c.text, TerminalEncoding::Utf8, c.colored, 1, 2, 3), c.shown);
    }
}

TEST(EventView, RefusalsCarryTheirReasonInWords) {
    wire::Message error;
    error.type = wire::MessageType::Error;
    error.code = 18;
    EXPECT_EQ(humanEventLine(error, ViewStyle{}),
              "! server error 18 (not allowed: the session lacks the right)");
    EXPECT_EQ(jsonEventLine(error), "{\"event\":\"error\",\"reason\":18}");
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

TEST(LatencyStats, PastItsBoundASampleStandsForAll) {
    LatencyStats stats(1000);
    for (int i = 1; i <= 100000; ++i) {
        stats.add(i);  // rising: the first thousand alone would say 500
    }
    EXPECT_EQ(stats.count(), 100000u);
    EXPECT_NEAR(stats.median(), 50000.0, 5000.0);
    EXPECT_NEAR(stats.p99(), 99000.0, 1500.0);
}

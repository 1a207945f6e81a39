#include "server/map/map_events.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(MapEvents, TextsBecomeEscapedUtf8JsonStrings) {
    struct Case {
        std::string cp1251;
        std::string json;
    };
    const std::vector<Case> cases = {
        {"", "\"\""},
        {"plain text", "\"plain text\""},
        {"say \"hi\" \\ back", "\"say \\\"hi\\\" \\\\ back\""},
        {"<b>&amp;</b>", "\"\\u003cb\\u003e\\u0026amp;\\u003c/b\\u003e\""},
        {"Bob:\tline\r\nnext", "\"Bob:\\tline\\r\\nnext\""},
        {std::string("a\x01z\x1f\x7f", 5), "\"a\\u0001z\\u001f\\u007f\""},
        {std::string("nul\0end", 7), "\"nul\\u0000end\""},
        // Windows-1251 "Привет" and the one undefined byte.
        {"\xCF\xF0\xE8\xE2\xE5\xF2", "\"Привет\""},
        {"\x98", "\"\xEF\xBF\xBD\""},
        {"\xB9 \xA8", "\"№ Ё\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(jsonText(c.cp1251), c.json) << c.cp1251;
    }
}

TEST(MapEvents, EventsAreWholeJsonObjects) {
    ObservedAvatar bot{3, 1, true, "[Tint \"b\"]", "welcome", -5, 0, 20001};
    ObservedAvatar tourist{12,
                           0,
                           false,
                           "\xC0\xED\xFF",
                           "lobby \xB9"
                           "1",
                           1,
                           2,
                           3};
    const std::vector<std::pair<std::string, std::string>> cases = {
        {helloEvent({"lobby", "welcome"}, 20000),
         R"({"type":"hello","worlds":["lobby","welcome"],"range":20000})"},
        {helloEvent({}, 5), R"({"type":"hello","worlds":[],"range":5})"},
        {readyEvent(), R"({"type":"ready"})"},
        {arrivedEvent(bot),
         R"({"type":"arrived","session":3,"citizen":1,"bot":true,"name":"[Tint \"b\"]",)"
         R"("world":"welcome","x":-5,"y":0,"z":20001})"},
        {arrivedEvent(tourist),
         R"({"type":"arrived","session":12,"citizen":0,"bot":false,"name":"Аня",)"
         R"("world":"lobby №1","x":1,"y":2,"z":3})"},
        {movedEvent(7, -2147483647 - 1, 2147483647, 0),
         R"({"type":"moved","session":7,"x":-2147483648,"y":2147483647,"z":0})"},
        {leftEvent(9), R"({"type":"left","session":9})"},
        {saidEvent(4, "</script>"), R"({"type":"said","session":4,"text":"\u003c/script\u003e"})"},
        {consoleEvent(1, 4, 255, 0, 128, "Ann:\thi", {5, 6, 70}),
         R"({"type":"console","sender":1,"speaker":4,"rgb":[255,0,128],"text":"Ann:\thi",)"
         R"("to":[5,6,70]})"},
        {consoleEvent(1, 0, 0, 0, 0, "x", {2}),
         R"({"type":"console","sender":1,"speaker":0,"rgb":[0,0,0],"text":"x","to":[2]})"},
    };
    for (const auto& [encoded, expected] : cases) {
        EXPECT_EQ(encoded, expected);
        EXPECT_EQ(encoded.find('\n'), std::string::npos);
    }
}

TEST(MapEvents, AnSseFrameIsOneDataLineAndABlankLine) {
    EXPECT_EQ(sseFrame(R"({"type":"ready"})"), "data: {\"type\":\"ready\"}\n\n");
}

#pragma once

// Drives whole turns of the main loop through the scripted SDK.

#include <string>
#include <vector>

#include "support/bot_fixture.h"

class RelayTest : public BotTest {
public:
    // The calls that send one console line: the text, then the send.
    static std::vector<std::string> consoleLine(int session, const std::string& text);
    // The calls that set the console message color.
    static std::vector<std::string> colored(int r, int g, int b);

protected:
    void SetUp() override;

    // Runs one turn with these events delivered; returns the SDK calls the
    // turn made after SdkProcessEvents.
    std::vector<std::string> turn(std::vector<SdkEvent> events);
    // Has the avatars arrive (one turn) and forgets the output so far.
    void populate(std::vector<SdkEvent> arrivals);
};

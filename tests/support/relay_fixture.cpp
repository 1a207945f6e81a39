#include "support/relay_fixture.h"

#include "app/startup_config.h"
#include "relay/main_loop.h"
#include "world/avatar_roster.h"
#include "world/chat_capture.h"
#include "world/chat_log.h"

void RelayTest::SetUp() {
    BotTest::SetUp();
    openChatLog(CHAT_LOG_FILE);
    StartupConfig.colorsAllowed = true;
    StartupConfig.brightnessLimit = 0.4;
    SdkSetEventHandler(SDK_EVENT_AVATAR_ARRIVED, onAvatarArrived);
    SdkSetEventHandler(SDK_EVENT_AVATAR_MOVED, onAvatarMoved);
    SdkSetEventHandler(SDK_EVENT_AVATAR_LEFT, onAvatarLeft);
    SdkSetEventHandler(SDK_EVENT_CHAT, onChatLine);
    SdkSetEventHandler(SDK_EVENT_CONSOLE_MESSAGE, onConsoleMessage);
}

std::vector<std::string> RelayTest::turn(std::vector<SdkEvent> events) {
    sdk.queueEvents(std::move(events));
    sdk.calls.clear();
    runMainLoopTurn();
    EXPECT_TRUE(pendingChatIsEmpty());
    EXPECT_EQ(sdk.calls.at(0), "SdkProcessEvents(0)");
    return std::vector<std::string>(sdk.calls.begin() + 1, sdk.calls.end());
}

void RelayTest::populate(std::vector<SdkEvent> arrivals) {
    turn(std::move(arrivals));
    clearOutput();
}

std::vector<std::string> RelayTest::consoleLine(int session, const std::string& text) {
    return {"SdkSetString(334, " + text + ")", "SdkSendConsoleMessage(" + std::to_string(session) + ")"};
}

std::vector<std::string> RelayTest::colored(int r, int g, int b) {
    return {"SdkSetInt(329, " + std::to_string(r) + ")", "SdkSetInt(330, " + std::to_string(g) + ")",
            "SdkSetInt(331, " + std::to_string(b) + ")"};
}

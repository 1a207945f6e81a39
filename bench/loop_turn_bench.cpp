// CPU cost of the bot's main-loop turn alone, without any network: one turn
// that dispatches a chat line and relays it to N distant avatars, against an
// SDK backend that accepts every call and delivers one scripted chat event per
// turn. The real bot's cost per line, network backend included, is measured by
// tintbeacon_bot_line_cost.

#include <benchmark/benchmark.h>

#include <sstream>

#include "console/operator_console.h"
#include "relay/main_loop.h"
#include "relay/personal_settings.h"
#include "sdk/sdk_backend.h"
#include "world/avatar_roster.h"
#include "world/chat_capture.h"

namespace {

class ChatEveryTurn : public SdkBackend {
public:
    int initialise(int) override { return SDK_OK; }
    int createInstance(const std::string&, int, int) override { return SDK_OK; }
    int login() override { return SDK_OK; }
    int enterWorld(const std::string&) override { return SDK_OK; }
    int commitState() override { return SDK_OK; }
    int processEvents(int) override {
        forgetDeliveredEvents();
        SdkEvent chat;
        chat.type = SDK_EVENT_CHAT;
        chat.ints = {{SDK_ATTR_CHAT_SESSION, 1}, {SDK_ATTR_CHAT_TYPE, SDK_CHAT_SAID}};
        chat.strings = {{SDK_ATTR_AVATAR_NAME, "Speaker"},
                        {SDK_ATTR_CHAT_MESSAGE, "a line of ordinary length for the relay"}};
        deliver(std::move(chat));
        return SDK_OK;
    }
    int sendConsoleMessage(int) override {
        ++sent;
        return SDK_OK;
    }
    long long sent = 0;
};

// The speaker (session 1) at the centre and `receivers` avatars far away.
void populateRoster(int receivers) {
    resetAvatarRoster();
    for (int i = 0; i <= receivers; ++i) {
        AvatarRoster.sessions.push_back(i + 1);
        AvatarRoster.names.push_back("Avatar" + std::to_string(i));
        AvatarRoster.x.push_back(i == 0 ? 0 : 50000 + i);
        AvatarRoster.y.push_back(0);
        AvatarRoster.z.push_back(i * 10);
        AvatarRoster.citizens.push_back(i);
        PersonalSettings.globalOff.getOrInsert(i) = 0;
        PersonalSettings.red.getOrInsert(i) = i % 256;
        PersonalSettings.green.getOrInsert(i) = 0;
        PersonalSettings.blue.getOrInsert(i) = 0;
    }
}

void BM_LoopTurnRelayingToReceivers(benchmark::State& state) {
    ChatEveryTurn backend;
    sdkUseBackend(&backend);
    // The console line of each heard line is part of the turn, but not the
    // terminal's drawing of it.
    std::istringstream noInput;
    std::ostringstream discarded;
    setConsoleStreams(noInput, discarded, discarded, TerminalEncoding::Utf8);
    SdkSetEventHandler(SDK_EVENT_CHAT, onChatLine);
    resetPendingChat();
    resetPersonalSettings();
    populateRoster(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        runMainLoopTurn();
        discarded.str("");
    }
    state.counters["sent_per_line"] =
        static_cast<double>(backend.sent) / static_cast<double>(state.iterations());
    sdkUseBackend(nullptr);
    resetConsole();
}
BENCHMARK(BM_LoopTurnRelayingToReceivers)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

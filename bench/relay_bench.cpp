// CPU cost of the bot's own work for one chat line: one main-loop turn that
// dispatches the line and relays it to N avatars, against an SDK backend that
// accepts every call and delivers one scripted chat event per turn.

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

void populateRoster(int avatars) {
    resetAvatarRoster();
    for (int i = 0; i < avatars; ++i) {
        // Every other avatar stands far away; the speaker is session 1.
        AvatarRoster.sessions.push_back(i + 1);
        AvatarRoster.names.push_back("Avatar" + std::to_string(i));
        AvatarRoster.x.push_back(i % 2 == 0 ? 0 : 50000 + i);
        AvatarRoster.y.push_back(0);
        AvatarRoster.z.push_back(i * 10);
        AvatarRoster.citizens.push_back(i);
        PersonalSettings.globalOff.getOrInsert(i) = 0;
        PersonalSettings.red.getOrInsert(i) = i % 256;
        PersonalSettings.green.getOrInsert(i) = 0;
        PersonalSettings.blue.getOrInsert(i) = 0;
    }
}

void BM_RelayOneLine(benchmark::State& state) {
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
BENCHMARK(BM_RelayOneLine)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Fuzz target: the bot's client side. The input is what a world sends once
// the bot has logged in, entered and taken its spot: it goes through the
// network backend's real socket code into the bot's own event handlers and
// main-loop turns (presence, chat capture and log, commands, relay, settings
// saves).
//
// The harness plays the world on one end of a socket pair: it answers the
// handshake, login, entry and placement, then writes the input. The bot runs
// turns until it has read and handled all of it (its console messages reach
// the world), then the world closes its sending side and the bot runs turns
// until it has handled the loss. Checked beyond the sanitizers:
// - the bot settles (no endless turns);
// - after the loss every avatar has left the roster;
// - no descriptor is left open.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/startup_config.h"
#include "console/operator_console.h"
#include "fuzz_check.h"
#include "fuzz_workdir.h"
#include "platform/net.h"
#include "platform/process.h"
#include "protocol/wire_message.h"
#include "relay/main_loop.h"
#include "relay/personal_settings.h"
#include "sdk/network_backend.h"
#include "sdk/world_sdk.h"
#include "world/avatar_roster.h"
#include "world/chat_capture.h"
#include "world/chat_log.h"

namespace {

// Inputs beyond this fit no socket buffer in one write; libFuzzer's own
// inputs are far shorter.
constexpr std::size_t MAX_INPUT_BYTES = 64 * 1024;
// Far more turns than events an input can hold.
constexpr int MAX_TURNS = 100000;
constexpr int BOT_SESSION = 1;

void writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const long n = net::send(fd, bytes.data() + written, bytes.size() - written);
        FUZZ_CHECK(n > 0);
        written += static_cast<std::size_t>(n);
    }
}

// Writes the world's answer to the request the bot is about to send.
void answer(int world, wire::MessageType request, int value) {
    wire::Message reply;
    reply.type = wire::MessageType::Reply;
    reply.request = request;
    reply.code = SDK_OK;
    reply.value = value;
    std::string frame;
    wire::encodeFrame(reply, frame);
    writeAll(world, frame);
}

// Reads and drops what the bot has sent, so that its output never stalls.
void drain(int world) {
    char buffer[64 * 1024];
    while (net::bytesWaiting(world) > 0 && net::receive(world, buffer, sizeof buffer) > 0) {
    }
}

// Bytes the world has sent that the bot has not read yet; the bot's end
// stays open as long as the backend is connected.
std::size_t unreadBytes(int bot) {
    return net::bytesWaiting(bot);
}

void installHandlers() {
    SdkSetEventHandler(SDK_EVENT_AVATAR_ARRIVED, onAvatarArrived);
    SdkSetEventHandler(SDK_EVENT_AVATAR_MOVED, onAvatarMoved);
    SdkSetEventHandler(SDK_EVENT_AVATAR_LEFT, onAvatarLeft);
    SdkSetEventHandler(SDK_EVENT_CHAT, onChatLine);
    SdkSetEventHandler(SDK_EVENT_CONSOLE_MESSAGE, onConsoleMessage);
}

// Brings the bot into the world over the socket, as its start-up does.
void openSession(NetworkBackend& backend, int bot, int world) {
    FUZZ_CHECK(SdkInitialise(SDK_BUILD) == SDK_OK);
    installHandlers();
    answer(world, wire::MessageType::Hello, wire::PROTOCOL_VERSION);
    FUZZ_CHECK(backend.createInstanceOn(bot) == SDK_OK);
    SdkSetInt(SDK_ATTR_LOGIN_OWNER, 1);
    SdkSetString(SDK_ATTR_LOGIN_PASSWORD, "pw");
    SdkSetString(SDK_ATTR_LOGIN_NAME, "Tintbeacon");
    SdkSetBool(SDK_ATTR_LOGIN_HEAR_ALL, 1);
    answer(world, wire::MessageType::Login, BOT_SESSION);
    FUZZ_CHECK(SdkLogin() == SDK_OK);
    answer(world, wire::MessageType::Enter, 0);
    FUZZ_CHECK(SdkEnterWorld("welcome") == SDK_OK);
    answer(world, wire::MessageType::State, 0);
    FUZZ_CHECK(SdkCommitState() == SDK_OK);
    drain(world);
}

// The bot's global state as a fresh start leaves it, with colors allowed so
// that the color command runs too.
void resetBotState() {
    resetStartupConfig();
    StartupConfig.colorsAllowed = true;
    resetAvatarRoster();
    resetPendingChat();
    resetPersonalSettings();
    openChatLog(CHAT_LOG_FILE);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > MAX_INPUT_BYTES) {
        return 0;
    }
    static std::istringstream input;
    static std::ostringstream output;
    static std::ostringstream errors;
    [[maybe_unused]] static const bool consoleSet =
        (setConsoleStreams(input, output, errors, TerminalEncoding::Utf8), true);
    // Counted with the listing's own descriptor open, as at the end.
    const std::size_t descriptorsBefore = openHandleCount();
    CleanWorkDirectory directory;
    output.str("");
    errors.str("");
    resetBotState();

    int ends[2];
    FUZZ_CHECK(net::socketPair(ends));
    const int world = ends[0];
    const int bot = ends[1];
    {
        NetworkBackend backend;
        sdkUseBackend(&backend);
        openSession(backend, bot, world);
        writeAll(world, std::string(reinterpret_cast<const char*>(data), size));
        // While the world stays, so that the bot's answers and relayed lines
        // reach it; then the world goes, and the bot handles the loss.
        int turns = 0;
        while (backend.isConnected() && (backend.queuedEvents() > 0 || unreadBytes(bot) > 0)) {
            FUZZ_CHECK(++turns <= MAX_TURNS);
            runMainLoopTurn();
            drain(world);
        }
        net::shutdownSending(world);
        while (backend.isConnected() || backend.queuedEvents() > 0) {
            FUZZ_CHECK(++turns <= MAX_TURNS);
            runMainLoopTurn();
            drain(world);
        }
        sdkUseBackend(nullptr);
    }
    net::close(world);
    FUZZ_CHECK(AvatarRoster.size() == 0);
    closeChatLog();
    resetPersonalSettings();
    resetAvatarRoster();
    FUZZ_CHECK(openHandleCount() == descriptorsBefore);
    return 0;
}

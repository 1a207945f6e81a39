// Tintbeacon: stands at one spot of a world and relays its public chat, in
// each speaker's chosen color, to the avatars beyond hearing range.

#include "app/startup.h"
#include "relay/main_loop.h"
#include "world/chat_log.h"

int main() {
    openChatLog(CHAT_LOG_FILE);
    runStartup();
    runMainLoop();
}

#include "world/chat_capture.h"

#include "console/operator_console.h"
#include "sdk/world_sdk.h"
#include "world/chat_log.h"

PendingChatSlot PendingChat;

void resetPendingChat() { PendingChat = PendingChatSlot{}; }

bool pendingChatIsEmpty() { return PendingChat.text == NO_MESSAGE_SENTINEL; }

void onChatLine() {
    int type = SdkGetInt(SDK_ATTR_CHAT_TYPE);
    std::string name = SdkGetString(SDK_ATTR_AVATAR_NAME);
    std::string text = SdkGetString(SDK_ATTR_CHAT_MESSAGE);
    if (type != SDK_CHAT_WHISPER) {
        PendingChat.text = text;
        PendingChat.relayLine = name + ":\t" + text;
        PendingChat.speakerSession = SdkGetInt(SDK_ATTR_CHAT_SESSION);
    }
    std::string line = type == SDK_CHAT_WHISPER
                           ? std::string(chatTypeLabels[SDK_CHAT_WHISPER]) + " " + name + ": " + text
                           : name + ": " + text;
    printLine(line);
    writeChatLogLine(line);
}

void onConsoleMessage() {
    std::string text = SdkGetString(SDK_ATTR_CONSOLE_MESSAGE);
    printLine("{TB}" + text);
    writeChatLogLine("global chat: " + text);
}

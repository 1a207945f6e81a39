#pragma once

// Chat lines and console messages that reach the bot: printed, logged, and
// (chat lines other than whispers) handed to the main loop in PendingChat.

#include <array>
#include <string>

// Marks an empty PendingChat. Users are not expected to type it; a chat text
// equal to it counts as no line.
inline constexpr const char* NO_MESSAGE_SENTINEL = "Tb7qNoMsg4zR2xWk9Lp3VhJ8sYd";

// The words of the chat types said (0), broadcasted (1) and whisper from (2).
inline constexpr std::array<const char*, 3> chatTypeLabels = {"said", "broadcasted",
                                                              "whisper from"};

// The one-slot hand-over of the last chat line to the main loop.
struct PendingChatSlot {
    std::string text = NO_MESSAGE_SENTINEL;  // the waiting text, or the sentinel
    int speakerSession = -1;
    std::string relayLine;  // speaker's name, ":\t", the text
};

extern PendingChatSlot PendingChat;

void resetPendingChat();
bool pendingChatIsEmpty();

// Event handlers: chat line (6) and console message to the bot (29).
void onChatLine();
void onConsoleMessage();

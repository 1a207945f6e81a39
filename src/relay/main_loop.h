#pragma once

// The main loop: each turn lets the SDK deliver its events, runs the command a
// waiting chat line may carry, and relays the line to every avatar beyond
// RELAY_DISTANCE on any axis.

inline constexpr long long RELAY_DISTANCE = 20000;

// Runs turns for ever.
[[noreturn]] void runMainLoop();

// One turn: SdkProcessEvents, then the waiting line (if any) is dispatched and
// relayed, and PendingChat is emptied.
void runMainLoopTurn();

// A speaker may use commands when their citizen number is not 0 or their name
// begins with "[".
bool hasCommandRights(int rosterIndex);

// Sends the waiting relay line, in the speaker's color, to every avatar more
// than RELAY_DISTANCE away on some axis, unless the speaker or the receiver
// has switched global chat off.
void relayPendingLine(int speaker);

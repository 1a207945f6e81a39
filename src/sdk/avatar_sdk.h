#pragma once

// Operations of ordinary avatars, beyond what the bot uses: logging in as an
// avatar (a tourist with citizen 0 and no password, or a citizen with a
// privilege password), and speaking. They act on the current instance like
// the operations of sdk/world_sdk.h; an avatar moves with SdkCommitState.
// Results are reason codes; chat leaves with the next SdkProcessEvents.

#include <string>

// Logs in with attributes 0 (name), 2 (citizen, 0 for a tourist), 3 (password)
// and 328 (hear every said line).
int SdkLoginAvatar();
// Says a line to the avatars within hearing range.
int SdkSay(const std::string& text);
// Whispers a line to one session of the same world.
int SdkWhisper(int session, const std::string& text);
// Broadcasts a line to the whole world (citizens and bots only).
int SdkBroadcast(const std::string& text);

#include "world/avatar_roster.h"

#include <cassert>

#include "console/operator_console.h"
#include "sdk/world_sdk.h"
#include "text/cp1251.h"
#include "world/chat_log.h"

AvatarRosterLists AvatarRoster;

namespace {

void announce(const std::string& line) {
    printLine(line);
    writeChatLogLine(line);
}

[[maybe_unused]] bool listsAligned() {
    const auto n = AvatarRoster.sessions.size();
    return AvatarRoster.names.size() == n && AvatarRoster.x.size() == n &&
           AvatarRoster.y.size() == n && AvatarRoster.z.size() == n &&
           AvatarRoster.citizens.size() == n;
}

}  // namespace

void resetAvatarRoster() { AvatarRoster = AvatarRosterLists{}; }

int indexOfSession(int session) {
    int found = -1;
    for (int i = 0; i < AvatarRoster.size(); ++i) {
        if (AvatarRoster.sessions[i] == session) {
            found = i;
        }
    }
    return found;
}

void onAvatarArrived() {
    announce(SdkGetString(SDK_ATTR_AVATAR_NAME) + ru(" зашел(а) в мир"));
    int session = SdkGetInt(SDK_ATTR_AVATAR_SESSION);
    if (indexOfSession(session) != -1) {
        return;
    }
    AvatarRoster.sessions.push_back(session);
    AvatarRoster.names.emplace_back(SdkGetString(SDK_ATTR_AVATAR_NAME));
    AvatarRoster.x.push_back(SdkGetInt(SDK_ATTR_AVATAR_X));
    AvatarRoster.y.push_back(SdkGetInt(SDK_ATTR_AVATAR_Y));
    AvatarRoster.z.push_back(SdkGetInt(SDK_ATTR_AVATAR_Z));
    AvatarRoster.citizens.push_back(SdkGetInt(SDK_ATTR_AVATAR_CITIZEN));
    assert(listsAligned());
}

void onAvatarMoved() {
    int x = SdkGetInt(SDK_ATTR_AVATAR_X);
    int y = SdkGetInt(SDK_ATTR_AVATAR_Y);
    int z = SdkGetInt(SDK_ATTR_AVATAR_Z);
    int i = indexOfSession(SdkGetInt(SDK_ATTR_AVATAR_SESSION));
    if (i == -1) {
        return;
    }
    AvatarRoster.x[i] = x;
    AvatarRoster.y[i] = y;
    AvatarRoster.z[i] = z;
}

void onAvatarLeft() {
    announce(SdkGetString(SDK_ATTR_AVATAR_NAME) + ru(" вышел(а) из мира"));
    int i = indexOfSession(SdkGetInt(SDK_ATTR_AVATAR_SESSION));
    if (i == -1) {
        return;
    }
    AvatarRoster.sessions.erase(AvatarRoster.sessions.begin() + i);
    AvatarRoster.names.erase(AvatarRoster.names.begin() + i);
    AvatarRoster.x.erase(AvatarRoster.x.begin() + i);
    AvatarRoster.y.erase(AvatarRoster.y.begin() + i);
    AvatarRoster.z.erase(AvatarRoster.z.begin() + i);
    AvatarRoster.citizens.erase(AvatarRoster.citizens.begin() + i);
    assert(listsAligned());
}

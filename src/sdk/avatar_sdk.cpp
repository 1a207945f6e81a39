#include "sdk/avatar_sdk.h"

#include "sdk/sdk_backend.h"

int SdkLoginAvatar() {
    return sdkCurrentBackend().loginAvatar();
}
int SdkSay(const std::string& text) {
    return sdkCurrentBackend().say(text);
}
int SdkWhisper(int session, const std::string& text) {
    return sdkCurrentBackend().whisper(session, text);
}
int SdkBroadcast(const std::string& text) {
    return sdkCurrentBackend().broadcast(text);
}

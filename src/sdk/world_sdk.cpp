#include "sdk/world_sdk.h"

#include "sdk/network_backend.h"
#include "sdk/sdk_backend.h"

namespace {

SdkBackend& backend(SdkBackend* replacement = nullptr, bool replace = false) {
    static NetworkBackend network;
    static SdkBackend* current = &network;
    if (replace) {
        current = replacement != nullptr ? replacement : &network;
    }
    return *current;
}

}  // namespace

void sdkUseBackend(SdkBackend* replacement) { backend(replacement, true); }
SdkBackend& sdkCurrentBackend() { return backend(); }

int SdkInitialise(int build) { return backend().initialise(build); }
int SdkSetEventHandler(int event, SdkEventHandler handler) {
    return backend().setEventHandler(event, handler);
}
int SdkCreateInstance(const std::string& address, int port, int reserved) {
    return backend().createInstance(address, port, reserved);
}
int SdkSetInt(int attribute, int value) { return backend().setInt(attribute, value); }
int SdkSetString(int attribute, const std::string& value) {
    return backend().setString(attribute, value);
}
int SdkSetBool(int attribute, int value) { return backend().setBool(attribute, value); }
int SdkLogin() { return backend().login(); }
int SdkEnterWorld(const std::string& world) { return backend().enterWorld(world); }
int SdkCommitState() { return backend().commitState(); }
int SdkProcessEvents(int argument) { return backend().processEvents(argument); }
int SdkGetInt(int attribute) { return backend().getInt(attribute); }
const char* SdkGetString(int attribute) { return backend().getString(attribute); }
int SdkSendConsoleMessage(int session) { return backend().sendConsoleMessage(session); }

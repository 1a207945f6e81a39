#include "sdk/world_sdk.h"

#include "sdk/network_backend.h"
#include "sdk/sdk_backend.h"

namespace {

NetworkBackend& networkBackend() {
    static NetworkBackend network;
    return network;
}

// Read on every Sdk* call (several per relayed receiver): a plain pointer,
// set on first use, rather than a guarded local static.
SdkBackend* current = nullptr;

SdkBackend& backend() {
    if (current == nullptr) {
        current = &networkBackend();
    }
    return *current;
}

}  // namespace

void sdkUseBackend(SdkBackend* replacement) {
    current = replacement != nullptr ? replacement : &networkBackend();
}
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

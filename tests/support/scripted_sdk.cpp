#include "support/scripted_sdk.h"

#include "world/avatar_roster.h"
#include "world/chat_capture.h"

namespace {

std::string handlerName(SdkEventHandler handler) {
    if (handler == onAvatarArrived) return "onAvatarArrived";
    if (handler == onAvatarMoved) return "onAvatarMoved";
    if (handler == onAvatarLeft) return "onAvatarLeft";
    if (handler == onChatLine) return "onChatLine";
    if (handler == onConsoleMessage) return "onConsoleMessage";
    return handler == nullptr ? "null" : "other";
}

}  // namespace

void ScriptedSdk::queueResult(const std::string& operation, int rc) {
    results_[operation].push_back(rc);
}

void ScriptedSdk::queueEvents(std::vector<SdkEvent> batch) { batches_.push_back(std::move(batch)); }

std::vector<std::string> ScriptedSdk::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& call : calls) {
        if (call.rfind(prefix, 0) == 0) {
            matching.push_back(call);
        }
    }
    return matching;
}

int ScriptedSdk::nextResult(const std::string& operation) {
    auto& queued = results_[operation];
    if (queued.empty()) {
        return 0;
    }
    int rc = queued.front();
    queued.pop_front();
    return rc;
}

int ScriptedSdk::initialise(int build) {
    calls.push_back("SdkInitialise(" + std::to_string(build) + ")");
    return nextResult("SdkInitialise");
}

int ScriptedSdk::createInstance(const std::string& address, int port, int reserved) {
    calls.push_back("SdkCreateInstance(" + address + ", " + std::to_string(port) + ", " +
                    std::to_string(reserved) + ")");
    return nextResult("SdkCreateInstance");
}

int ScriptedSdk::login() {
    calls.push_back("SdkLogin()");
    return nextResult("SdkLogin");
}

int ScriptedSdk::enterWorld(const std::string& world) {
    calls.push_back("SdkEnterWorld(" + world + ")");
    return nextResult("SdkEnterWorld");
}

int ScriptedSdk::commitState() {
    calls.push_back("SdkCommitState()");
    return nextResult("SdkCommitState");
}

int ScriptedSdk::processEvents(int argument) {
    calls.push_back("SdkProcessEvents(" + std::to_string(argument) + ")");
    forgetDeliveredEvents();
    if (!batches_.empty()) {
        std::vector<SdkEvent> batch = std::move(batches_.front());
        batches_.pop_front();
        for (SdkEvent& event : batch) {
            deliver(std::move(event));
        }
    }
    return nextResult("SdkProcessEvents");
}

int ScriptedSdk::sendConsoleMessage(int session) {
    calls.push_back("SdkSendConsoleMessage(" + std::to_string(session) + ")");
    return nextResult("SdkSendConsoleMessage");
}

int ScriptedSdk::setEventHandler(int event, SdkEventHandler handler) {
    calls.push_back("SdkSetEventHandler(" + std::to_string(event) + ", " + handlerName(handler) +
                    ")");
    return SdkBackend::setEventHandler(event, handler);
}

int ScriptedSdk::setInt(int attribute, int value) {
    calls.push_back("SdkSetInt(" + std::to_string(attribute) + ", " + std::to_string(value) + ")");
    return SdkBackend::setInt(attribute, value);
}

int ScriptedSdk::setString(int attribute, const std::string& value) {
    calls.push_back("SdkSetString(" + std::to_string(attribute) + ", " + value + ")");
    return SdkBackend::setString(attribute, value);
}

int ScriptedSdk::setBool(int attribute, int value) {
    calls.push_back("SdkSetBool(" + std::to_string(attribute) + ", " + std::to_string(value) + ")");
    return SdkBackend::setBool(attribute, value);
}

SdkEvent avatarArrived(int session, const std::string& name, int x, int y, int z, int citizen) {
    SdkEvent event;
    event.type = SDK_EVENT_AVATAR_ARRIVED;
    event.ints = {{SDK_ATTR_AVATAR_SESSION, session}, {SDK_ATTR_AVATAR_X, x},
                  {SDK_ATTR_AVATAR_Y, y},             {SDK_ATTR_AVATAR_Z, z},
                  {SDK_ATTR_AVATAR_CITIZEN, citizen}};
    event.strings = {{SDK_ATTR_AVATAR_NAME, name}};
    return event;
}

SdkEvent avatarMoved(int session, int x, int y, int z) {
    SdkEvent event;
    event.type = SDK_EVENT_AVATAR_MOVED;
    event.ints = {{SDK_ATTR_AVATAR_SESSION, session},
                  {SDK_ATTR_AVATAR_X, x},
                  {SDK_ATTR_AVATAR_Y, y},
                  {SDK_ATTR_AVATAR_Z, z}};
    return event;
}

SdkEvent avatarLeft(int session, const std::string& name) {
    SdkEvent event;
    event.type = SDK_EVENT_AVATAR_LEFT;
    event.ints = {{SDK_ATTR_AVATAR_SESSION, session}};
    event.strings = {{SDK_ATTR_AVATAR_NAME, name}};
    return event;
}

SdkEvent chatLine(int session, const std::string& name, const std::string& text, int type) {
    SdkEvent event;
    event.type = SDK_EVENT_CHAT;
    event.ints = {{SDK_ATTR_CHAT_SESSION, session}, {SDK_ATTR_CHAT_TYPE, type}};
    event.strings = {{SDK_ATTR_AVATAR_NAME, name}, {SDK_ATTR_CHAT_MESSAGE, text}};
    return event;
}

SdkEvent consoleMessage(const std::string& text) {
    SdkEvent event;
    event.type = SDK_EVENT_CONSOLE_MESSAGE;
    event.strings = {{SDK_ATTR_CONSOLE_MESSAGE, text}};
    return event;
}

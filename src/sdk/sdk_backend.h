#pragma once

// What lies behind the Sdk* operations. The base class keeps what every
// backend shares: the attributes the bot has set, the event handlers, and the
// events being delivered. Backends override the operations that reach a world.

#include <array>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sdk/world_sdk.h"

// One event as delivered to a handler: its number and its attributes.
struct SdkEvent {
    int type = 0;
    std::map<int, int> ints;
    std::map<int, std::string> strings;
};

class SdkBackend;
// The backend the Sdk* operations forward to now.
SdkBackend& sdkCurrentBackend();

class SdkBackend {
  public:
    virtual ~SdkBackend() = default;

    virtual int initialise(int build) = 0;
    virtual int createInstance(const std::string& address, int port, int reserved) = 0;
    virtual int login() = 0;
    virtual int enterWorld(const std::string& world) = 0;
    virtual int commitState() = 0;
    virtual int processEvents(int argument) = 0;
    virtual int sendConsoleMessage(int session) = 0;

    // Operations of ordinary avatars (sdk/avatar_sdk.h); a backend without
    // them refuses.
    virtual int loginAvatar() { return SDK_RC_NOT_ALLOWED; }
    virtual int say(const std::string& /*text*/) { return SDK_RC_NOT_ALLOWED; }
    virtual int whisper(int /*session*/, const std::string& /*text*/) { return SDK_RC_NOT_ALLOWED; }
    virtual int broadcast(const std::string& /*text*/) { return SDK_RC_NOT_ALLOWED; }

    virtual int setEventHandler(int event, SdkEventHandler handler);
    virtual int setInt(int attribute, int value);
    virtual int setString(int attribute, const std::string& value);
    virtual int setBool(int attribute, int value);
    // The attribute of the event being delivered; outside a handler, or for an
    // attribute the event lacks, the value the bot set last (0 or empty).
    virtual int getInt(int attribute);
    virtual const char* getString(int attribute);

  protected:
    // Runs the handler of the event's type, if one is installed, with the event
    // as the current one. Its texts stay valid until forgetDeliveredEvents.
    void deliver(SdkEvent event);
    // Drops the events delivered so far; called at the start of each
    // processEvents, which ends the life of their texts.
    void forgetDeliveredEvents();

    int attributeInt(int attribute) const {
        return isDirect(attribute) ? directInts_[static_cast<std::size_t>(attribute)]
                                   : otherInt(attribute);
    }
    const std::string& attributeString(int attribute) const {
        return isDirect(attribute) ? directStrings_[static_cast<std::size_t>(attribute)]
                                   : otherString(attribute);
    }

  private:
    static bool isDirect(int attribute) { return attribute >= 0 && attribute < DIRECT_ATTRIBUTES; }
    int otherInt(int attribute) const;
    const std::string& otherString(int attribute) const;
    void storeInt(int attribute, int value);

    static constexpr int EVENT_SLOTS = 64;
    // Every attribute the SDK names is below this, so it is kept in a flat
    // table: the relay sets and reads several per receiver. Others (nothing
    // the bot uses) go to the maps.
    static constexpr int DIRECT_ATTRIBUTES = 512;
    std::array<SdkEventHandler, EVENT_SLOTS> handlers_{};
    std::array<int, DIRECT_ATTRIBUTES> directInts_{};
    std::vector<std::string> directStrings_ = std::vector<std::string>(DIRECT_ATTRIBUTES);
    std::map<int, int> otherInts_;
    std::map<int, std::string> otherStrings_;
    std::deque<SdkEvent> delivered_;
    const SdkEvent* current_ = nullptr;
};

#pragma once

// A scripted SDK backend: records every operation with its arguments, returns
// results queued by the test, and delivers queued events only inside
// SdkProcessEvents, one batch per call.

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sdk/sdk_backend.h"

class ScriptedSdk : public SdkBackend {
public:
    // Every call in order, as "SdkName(arg, arg)"; texts appear as their bytes.
    // The reads of the current event (SdkGetInt, SdkGetString) are not listed.
    std::vector<std::string> calls;

    // The next call of the named operation ("SdkLogin", ...) returns rc; calls
    // beyond the queued results return 0.
    void queueResult(const std::string& operation, int rc);
    // The next SdkProcessEvents call delivers these events, in order.
    void queueEvents(std::vector<SdkEvent> batch);

    // Calls whose text starts with the prefix.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;

    int initialise(int build) override;
    int createInstance(const std::string& address, int port, int reserved) override;
    int login() override;
    int enterWorld(const std::string& world) override;
    int commitState() override;
    int processEvents(int argument) override;
    int sendConsoleMessage(int session) override;
    int setEventHandler(int event, SdkEventHandler handler) override;
    int setInt(int attribute, int value) override;
    int setString(int attribute, const std::string& value) override;
    int setBool(int attribute, int value) override;

private:
    int nextResult(const std::string& operation);

    std::map<std::string, std::deque<int>> results_;
    std::deque<std::vector<SdkEvent>> batches_;
};

// Events as the world reports them.
SdkEvent avatarArrived(int session, const std::string& name, int x, int y, int z, int citizen);
SdkEvent avatarMoved(int session, int x, int y, int z);
SdkEvent avatarLeft(int session, const std::string& name);
SdkEvent chatLine(int session, const std::string& name, const std::string& text,
                  int type = SDK_CHAT_SAID);
SdkEvent consoleMessage(const std::string& text);

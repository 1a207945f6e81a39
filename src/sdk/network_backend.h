#pragma once

// The SDK backend that talks to a world server over TCP.

#include <string>

#include "sdk/sdk_backend.h"

class NetworkBackend : public SdkBackend {
public:
    NetworkBackend() = default;
    ~NetworkBackend() override;
    NetworkBackend(const NetworkBackend&) = delete;
    NetworkBackend& operator=(const NetworkBackend&) = delete;

    int initialise(int build) override;
    int createInstance(const std::string& address, int port, int reserved) override;
    int login() override;
    int enterWorld(const std::string& world) override;
    int commitState() override;
    int processEvents(int argument) override;
    int sendConsoleMessage(int session) override;

private:
    void closeConnection();

    bool initialised_ = false;
    int socket_ = -1;
};

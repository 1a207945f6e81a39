#pragma once

// The SDK backend that talks to a world server over TCP (docs/world-protocol.md).
//
// Login, world entry and state changes wait for the server's answer; console
// messages, chat and the like are queued and written together by the next
// SdkProcessEvents. When the connection is lost after login, the backend
// reports it on standard error, sends departures for every avatar it had
// reported, and reconnects by itself with capped, jittered backoff: it logs in
// with the attributes last used, enters the same world, takes the same
// position, and the server's arrivals bring the roster back. When the world
// does not read as fast as the bot writes, SdkProcessEvents holds back (it
// takes in no new event until the output drains) rather than let the sends
// fail.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "protocol/wire_message.h"
#include "sdk/failure_streak.h"
#include "sdk/retry_delay.h"
#include "sdk/sdk_backend.h"
#include "sdk/world_connection.h"

class NetworkBackend : public SdkBackend {
  public:
    static constexpr int CONNECT_TIMEOUT_MS = 5000;
    static constexpr int REQUEST_TIMEOUT_MS = 5000;
    // Longest wait of one SdkProcessEvents call when nothing is queued.
    static constexpr int IDLE_WAIT_MS = 200;
    // Unsent output past which processEvents takes in nothing new and only
    // waits for the world to read: the back-pressure of a world that cannot
    // keep up reaches it through TCP, and the output bound (where sends start
    // to fail) stays out of reach. A relayed line to 10 000 receivers queues
    // about 40 KB.
    static constexpr std::size_t OUTPUT_HIGH_WATER_BYTES = 1024 * 1024;
    static constexpr int FIRST_RETRY_MS = 100;
    static constexpr int MAX_RETRY_MS = 2000;
    // A connection must stay up this long before a loss starts the retry
    // delay from the beginning again; a world that takes the login and drops
    // at once keeps the delay at its longest.
    static constexpr int STABLE_CONNECTION_MS = 10000;
    // After a reconnection refused for the account (a changed password, a
    // removed citizen) the world will not take the same login soon: the
    // attempts go on in minutes, not seconds (half of each delay random).
    static constexpr int FIRST_REFUSED_RETRY_MS = 120000;
    static constexpr int MAX_REFUSED_RETRY_MS = 600000;

    NetworkBackend();
    NetworkBackend(const NetworkBackend&) = delete;
    NetworkBackend& operator=(const NetworkBackend&) = delete;

    int initialise(int build) override;
    int createInstance(const std::string& address, int port, int reserved) override;
    // As createInstance, on a socket already connected to a world (a test's
    // end of a socket pair); the descriptor is the backend's from then on.
    // With no address to go back to, a lost connection is retried in vain.
    int createInstanceOn(int fd);
    bool isConnected() const { return connection_.isOpen(); }
    // Events received and not yet delivered to the handlers.
    std::size_t queuedEvents() const { return queued_.size(); }
    int login() override;
    int enterWorld(const std::string& world) override;
    int commitState() override;
    int processEvents(int argument) override;
    int sendConsoleMessage(int session) override;
    // Watch the console attributes, so that a text sent to many receivers is
    // checked and copied once, not once per receiver.
    int setInt(int attribute, int value) override;
    int setString(int attribute, const std::string& value) override;

    int loginAvatar() override;
    int say(const std::string& text) override;
    int whisper(int session, const std::string& text) override;
    int broadcast(const std::string& text) override;

  private:
    // The uncommon cases of sendConsoleMessage and setString.
    int startConsoleMessage(int session);
    int storeString(int attribute, const std::string& value);

    void beginInstance(const std::string& address, int port);
    int logInAs(wire::LoginKind kind);
    int sendChat(wire::MessageType type, int session, const std::string& text);
    // Moves what the connection has received into the delivery queue.
    void takeReceivedEvents();
    void queueEvent(const wire::Message& message);
    void noticeLoss(int code);
    void tryRecovery();
    void scheduleRetry(RetryDelay& delay);
    // A failed reconnection: in full once per reason, then now and then.
    void reportRecoveryFailure(int code);
    void deliverQueued();

    bool initialised_ = false;
    bool created_ = false;
    std::string address_;
    int port_ = 0;
    WorldConnection connection_;
    std::optional<wire::Message> login_;  // the last successful login
    std::string world_;                   // the world last entered
    std::optional<wire::Message> state_;  // the position last taken there
    bool recovering_ = false;
    long long nextAttemptMs_ = 0;
    RetryDelay retry_{FIRST_RETRY_MS, MAX_RETRY_MS, STABLE_CONNECTION_MS};
    RetryDelay refusedRetry_{FIRST_REFUSED_RETRY_MS, MAX_REFUSED_RETRY_MS, 0};
    FailureStreak recoveryFailures_;
    std::minstd_rand jitter_;
    std::map<int, std::string> present_;  // sessions reported arrived and not left
    std::deque<SdkEvent> queued_;
    // The console color and text have not changed since the last console
    // message was queued, so the next receiver may join it as it is.
    bool consolePrepared_ = false;
};

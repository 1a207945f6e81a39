#include "sdk/network_backend.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "console/operator_console.h"
#include "platform/net.h"
#include "platform/process.h"
#include "protocol/monotonic_clock.h"
#include "sdk/connection_notes.h"
#include "sdk/reason_text.h"
#include "text/cp1251.h"

using wire::Message;
using wire::MessageType;

namespace {

std::uint8_t colorComponent(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

SdkEvent toSdkEvent(const Message& m) {
    SdkEvent event;
    switch (m.type) {
        case MessageType::AvatarArrived:
            event.type = SDK_EVENT_AVATAR_ARRIVED;
            event.ints = {{SDK_ATTR_AVATAR_SESSION, m.session},
                          {SDK_ATTR_AVATAR_X, m.x},
                          {SDK_ATTR_AVATAR_Y, m.y},
                          {SDK_ATTR_AVATAR_Z, m.z},
                          {SDK_ATTR_AVATAR_CITIZEN, m.citizen}};
            event.strings = {{SDK_ATTR_AVATAR_NAME, m.name}};
            break;
        case MessageType::AvatarMoved:
            event.type = SDK_EVENT_AVATAR_MOVED;
            event.ints = {{SDK_ATTR_AVATAR_SESSION, m.session},
                          {SDK_ATTR_AVATAR_X, m.x},
                          {SDK_ATTR_AVATAR_Y, m.y},
                          {SDK_ATTR_AVATAR_Z, m.z}};
            break;
        case MessageType::AvatarLeft:
            event.type = SDK_EVENT_AVATAR_LEFT;
            event.ints = {{SDK_ATTR_AVATAR_SESSION, m.session}};
            event.strings = {{SDK_ATTR_AVATAR_NAME, m.name}};
            break;
        case MessageType::Chat:
            event.type = SDK_EVENT_CHAT;
            event.ints = {{SDK_ATTR_CHAT_SESSION, m.session}, {SDK_ATTR_CHAT_TYPE, m.chatType}};
            event.strings = {{SDK_ATTR_AVATAR_NAME, m.name}, {SDK_ATTR_CHAT_MESSAGE, m.text}};
            break;
        case MessageType::ConsoleMessage:
            event.type = SDK_EVENT_CONSOLE_MESSAGE;
            event.ints = {{SDK_ATTR_CONSOLE_RED, m.red},
                          {SDK_ATTR_CONSOLE_GREEN, m.green},
                          {SDK_ATTR_CONSOLE_BLUE, m.blue}};
            event.strings = {{SDK_ATTR_CONSOLE_MESSAGE, m.text}};
            break;
        default:
            event.type = -1;
            break;
    }
    return event;
}

// "<before>причина N: <words><after>" on standard error.
void reportOnStandardError(const char* before, int code, const char* after) {
    printErrorLine(ru(before) + ru("причина ") + std::to_string(code) + ": " +
                   reasonWordsRussian(code) + ru(after));
}

}  // namespace

NetworkBackend::NetworkBackend()
    : jitter_(static_cast<std::uint32_t>(nowMs() ^ (static_cast<long long>(::getpid()) << 16))) {}

int NetworkBackend::initialise(int build) {
    if (build != SDK_BUILD) {
        return SDK_RC_WRONG_BUILD;
    }
    initialised_ = true;
    return SDK_OK;
}

int NetworkBackend::createInstance(const std::string& address, int port, int /*reserved*/) {
    if (!initialised_) {
        return SDK_RC_NOT_INITIALISED;
    }
    int rc = connection_.open(address, port, CONNECT_TIMEOUT_MS);
    if (rc == SDK_OK) {
        beginInstance(address, port);
    }
    return rc;
}

int NetworkBackend::createInstanceOn(int fd) {
    if (!initialised_) {
        net::close(fd);
        return SDK_RC_NOT_INITIALISED;
    }
    int rc = connection_.adopt(fd, CONNECT_TIMEOUT_MS);
    if (rc == SDK_OK) {
        beginInstance("", 0);
    }
    return rc;
}

void NetworkBackend::beginInstance(const std::string& address, int port) {
    created_ = true;
    address_ = address;
    port_ = port;
    login_.reset();
    world_.clear();
    state_.reset();
}

int NetworkBackend::login() {
    return logInAs(wire::LoginKind::Bot);
}

int NetworkBackend::loginAvatar() {
    return logInAs(wire::LoginKind::Avatar);
}

int NetworkBackend::logInAs(wire::LoginKind kind) {
    if (!created_) {
        return SDK_RC_NO_INSTANCE;
    }
    if (login_) {
        return SDK_RC_ALREADY_LOGGED_IN;
    }
    // The operator may have taken long over an answer asked again after a
    // refusal, and the world closed the connection for want of a login
    // meanwhile: what it sent then (its refusal, the end of the stream) ends
    // the connection here, not as a false answer to this login.
    if (connection_.endedWhileIdle()) {
        // A refused attempt may have cost the connection (a timeout): retry on a new one.
        int rc = connection_.open(address_, port_, CONNECT_TIMEOUT_MS);
        if (rc != SDK_OK) {
            return rc;
        }
    }
    Message message;
    message.type = MessageType::Login;
    message.kind = kind;
    message.citizen = attributeInt(SDK_ATTR_LOGIN_OWNER);
    message.password = attributeString(SDK_ATTR_LOGIN_PASSWORD);
    message.name = attributeString(SDK_ATTR_LOGIN_NAME);
    message.application = attributeString(SDK_ATTR_LOGIN_APPLICATION);
    message.hearAll = attributeInt(SDK_ATTR_LOGIN_HEAR_ALL) != 0 ? 1 : 0;
    int rc = connection_.request(message, REQUEST_TIMEOUT_MS);
    if (rc == SDK_OK) {
        login_ = message;
        retry_.connected(nowMs());
    }
    return rc;
}

int NetworkBackend::enterWorld(const std::string& world) {
    if (!login_) {
        return SDK_RC_NOT_LOGGED_IN;
    }
    Message message;
    message.type = MessageType::Enter;
    message.name = world;
    int rc = connection_.request(message, REQUEST_TIMEOUT_MS);
    if (rc == SDK_OK) {
        world_ = world;
        state_.reset();
    }
    return rc;
}

int NetworkBackend::commitState() {
    if (world_.empty()) {
        return SDK_RC_NOT_IN_WORLD;
    }
    Message message;
    message.type = MessageType::State;
    message.x = attributeInt(SDK_ATTR_MY_EAST_WEST);
    message.y = attributeInt(SDK_ATTR_MY_ALTITUDE);
    message.z = attributeInt(SDK_ATTR_MY_NORTH_SOUTH);
    message.heading = attributeInt(SDK_ATTR_MY_HEADING);
    message.gesture = attributeInt(SDK_ATTR_MY_GESTURE);
    int rc = connection_.request(message, REQUEST_TIMEOUT_MS);
    if (rc == SDK_OK) {
        state_ = message;
    }
    return rc;
}

// The relay sends one text to many receivers, and each is a setString and a
// sendConsoleMessage: their common case (the same text, one more receiver of
// the message being gathered) stays short, the rest is out of line.
int NetworkBackend::sendConsoleMessage(int session) {
    if (consolePrepared_ && !world_.empty() && connection_.addConsoleTarget(session)) {
        return SDK_OK;
    }
    return startConsoleMessage(session);
}

int NetworkBackend::startConsoleMessage(int session) {
    if (world_.empty()) {
        return SDK_RC_NOT_IN_WORLD;
    }
    int rc = connection_.postConsole(colorComponent(attributeInt(SDK_ATTR_CONSOLE_RED)),
                                     colorComponent(attributeInt(SDK_ATTR_CONSOLE_GREEN)),
                                     colorComponent(attributeInt(SDK_ATTR_CONSOLE_BLUE)),
                                     attributeString(SDK_ATTR_CONSOLE_MESSAGE), session);
    consolePrepared_ = rc == SDK_OK;
    return rc;
}

int NetworkBackend::setInt(int attribute, int value) {
    if (attribute == SDK_ATTR_CONSOLE_RED || attribute == SDK_ATTR_CONSOLE_GREEN ||
        attribute == SDK_ATTR_CONSOLE_BLUE) {
        consolePrepared_ = consolePrepared_ && attributeInt(attribute) == value;
    }
    return SdkBackend::setInt(attribute, value);
}

int NetworkBackend::setString(int attribute, const std::string& value) {
    // The relay sets the same text before every receiver.
    if (attribute == SDK_ATTR_CONSOLE_MESSAGE && attributeString(attribute) == value) {
        return SDK_OK;
    }
    return storeString(attribute, value);
}

int NetworkBackend::storeString(int attribute, const std::string& value) {
    if (attribute == SDK_ATTR_CONSOLE_MESSAGE) {
        consolePrepared_ = false;
    }
    return SdkBackend::setString(attribute, value);
}

int NetworkBackend::say(const std::string& text) {
    return sendChat(MessageType::Say, 0, text);
}

int NetworkBackend::whisper(int session, const std::string& text) {
    return sendChat(MessageType::Whisper, session, text);
}

int NetworkBackend::broadcast(const std::string& text) {
    return sendChat(MessageType::Broadcast, 0, text);
}

int NetworkBackend::sendChat(MessageType type, int session, const std::string& text) {
    if (world_.empty()) {
        return SDK_RC_NOT_IN_WORLD;
    }
    if (text.empty() || !wire::isCleanText(text, false)) {
        return SDK_RC_INVALID_TEXT;
    }
    Message message;
    message.type = type;
    message.session = session;
    message.text = text;
    return connection_.post(message);
}

int NetworkBackend::processEvents(int /*argument*/) {
    forgetDeliveredEvents();
    if (connection_.isOpen()) {
        connection_.flush();
    }
    if (connection_.isOpen()) {
        // A world that has gone silent and does not answer its Ping is as
        // lost as one that closed the connection.
        const int rc = connection_.keepAlive(nowMs());
        if (!connection_.isOpen()) {
            noticeLoss(rc);
        }
    }
    if (connection_.isOpen() && connection_.unsentBytes() >= OUTPUT_HIGH_WATER_BYTES) {
        // Events wait in the socket, unread, until the output drains; none
        // is lost, and the bot makes no new output meanwhile.
        connection_.waitWritable(IDLE_WAIT_MS);
        connection_.flush();
        if (connection_.isOpen()) {
            return SDK_OK;
        }
    }
    if (connection_.isOpen() && queued_.size() < WorldConnection::MAX_QUEUED_EVENTS) {
        if (queued_.empty() && connection_.events().empty()) {
            connection_.wait(IDLE_WAIT_MS);
        }
        int rc = connection_.receive();
        if (rc == SDK_OK && connection_.wantsWrite()) {
            rc = connection_.flush();
        }
        takeReceivedEvents();
        if (!connection_.isOpen()) {
            noticeLoss(rc);
        }
    } else if (!connection_.isOpen()) {
        if (login_ && !recovering_) {
            noticeLoss(SDK_RC_CONNECTION_LOST);
        }
        if (recovering_ && nowMs() >= nextAttemptMs_) {
            tryRecovery();
        } else if (queued_.empty()) {
            long long wait = recovering_ ? std::max(0LL, nextAttemptMs_ - nowMs()) : IDLE_WAIT_MS;
            sleepMs(static_cast<int>(std::min<long long>(wait, IDLE_WAIT_MS)));
        }
    }
    deliverQueued();
    return SDK_OK;
}

void NetworkBackend::takeReceivedEvents() {
    std::deque<Message>& received = connection_.events();
    while (!received.empty()) {
        queueEvent(received.front());
        received.pop_front();
    }
}

void NetworkBackend::queueEvent(const Message& message) {
    if (message.type == MessageType::Error) {
        reportOnStandardError("Сервер мира отказал в операции (", message.code, ")");
        return;
    }
    SdkEvent event = toSdkEvent(message);
    if (event.type < 0) {
        return;
    }
    if (message.type == MessageType::AvatarArrived) {
        present_[message.session] = message.name;
    } else if (message.type == MessageType::AvatarLeft) {
        present_.erase(message.session);
    }
    queued_.push_back(std::move(event));
}

void NetworkBackend::noticeLoss(int code) {
    if (!login_ || recovering_) {
        return;
    }
    takeReceivedEvents();
    reportOnStandardError("Связь с миром потеряна (", code, "), переподключаюсь");
    for (const auto& [session, name] : present_) {
        Message left;
        left.type = MessageType::AvatarLeft;
        left.session = session;
        left.name = name;
        queued_.push_back(toSdkEvent(left));
    }
    present_.clear();
    recovering_ = true;
    ConnectionNotes.connected = false;
    retry_.lost(nowMs());
    scheduleRetry(retry_);
}

void NetworkBackend::scheduleRetry(RetryDelay& retry) {
    // Half the delay is fixed and half random, so that many clients cut off
    // together do not come back together.
    const int delay = retry.next();
    std::uniform_int_distribution<int> spread(0, delay / 2);
    nextAttemptMs_ = nowMs() + delay / 2 + spread(jitter_);
}

void NetworkBackend::tryRecovery() {
    int rc = connection_.open(address_, port_, CONNECT_TIMEOUT_MS);
    if (rc == SDK_OK) {
        rc = connection_.request(*login_, REQUEST_TIMEOUT_MS);
    }
    if (rc == SDK_OK && !world_.empty()) {
        Message enter;
        enter.type = MessageType::Enter;
        enter.name = world_;
        rc = connection_.request(enter, REQUEST_TIMEOUT_MS);
    }
    if (rc == SDK_OK && state_) {
        rc = connection_.request(*state_, REQUEST_TIMEOUT_MS);
    }
    if (rc != SDK_OK) {
        connection_.close();
        reportRecoveryFailure(rc);
        if (rc == SDK_RC_BAD_CREDENTIALS) {
            scheduleRetry(refusedRetry_);
        } else {
            refusedRetry_.reset();
            scheduleRetry(retry_);
        }
        return;
    }
    recoveryFailures_.succeed();
    refusedRetry_.reset();
    recovering_ = false;
    retry_.connected(nowMs());
    ConnectionNotes.connected = true;
    ++ConnectionNotes.reconnections;
    ConnectionNotes.lastReconnection = std::time(nullptr);
    printErrorLine(ru("Связь с миром восстановлена"));
    takeReceivedEvents();
}

void NetworkBackend::reportRecoveryFailure(int code) {
    const FailureStreak::Report report = recoveryFailures_.fail(code, nowMs());
    if (code == SDK_RC_BAD_CREDENTIALS && report != FailureStreak::Report::Quiet) {
        const bool first = report == FailureStreak::Report::Full;
        if (AccountRefusalNotice notice = accountRefusalNotice()) {
            notice(code, first, recoveryFailures_.count());
        } else if (first) {
            reportOnStandardError("Мир отклонил вход при переподключении (", code,
                                  "); попытки продолжаются раз в несколько минут");
        } else {
            printErrorLine(ru("Вход при переподключении всё ещё отклоняется (причина ") +
                           std::to_string(code) + ru("), попыток: ") +
                           std::to_string(recoveryFailures_.count()));
        }
        return;
    }
    switch (report) {
        case FailureStreak::Report::Full:
            reportOnStandardError("Переподключение не удалось (", code, "); попытки продолжаются");
            break;
        case FailureStreak::Report::Reminder:
            printErrorLine(ru("Переподключиться всё ещё не удаётся (причина ") +
                           std::to_string(code) + ru("), попыток: ") +
                           std::to_string(recoveryFailures_.count()));
            break;
        case FailureStreak::Report::Quiet:
            break;
    }
}

void NetworkBackend::deliverQueued() {
    // One chat event at most: the bot keeps one chat line between calls.
    while (!queued_.empty()) {
        SdkEvent event = std::move(queued_.front());
        queued_.pop_front();
        bool chat = event.type == SDK_EVENT_CHAT;
        deliver(std::move(event));
        if (chat) {
            return;
        }
    }
}

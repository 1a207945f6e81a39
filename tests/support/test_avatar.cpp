#include "support/test_avatar.h"

#include <algorithm>

#include "sdk/reason_codes.h"
#include "protocol/monotonic_clock.h"

using wire::Message;
using wire::MessageType;

int TestAvatar::join(int port, const std::string& name, int citizen, const std::string& password,
                     const std::string& world, bool bot, bool hearAll) {
    int rc = connection_.open("127.0.0.1", port, DEADLINE_MS);
    if (rc != SDK_OK) {
        return rc;
    }
    Message login;
    login.type = MessageType::Login;
    login.kind = bot ? wire::LoginKind::Bot : wire::LoginKind::Avatar;
    login.citizen = citizen;
    login.password = password;
    login.name = name;
    login.hearAll = hearAll ? 1 : 0;
    rc = connection_.request(login, DEADLINE_MS, &session_);
    if (rc != SDK_OK || world.empty()) {
        return rc;
    }
    return enter(world);
}

int TestAvatar::enter(const std::string& world) {
    Message enter;
    enter.type = MessageType::Enter;
    enter.name = world;
    return connection_.request(enter, DEADLINE_MS);
}

int TestAvatar::moveTo(int x, int y, int z) {
    Message state;
    state.type = MessageType::State;
    state.x = x;
    state.y = y;
    state.z = z;
    int rc = connection_.request(state, DEADLINE_MS);
    if (rc == SDK_OK) {
        x_ = x;
        y_ = y;
        z_ = z;
    }
    return rc;
}

void TestAvatar::say(const std::string& text) {
    Message m;
    m.type = MessageType::Say;
    m.text = text;
    connection_.post(m);
    connection_.flush();
}

void TestAvatar::whisper(int session, const std::string& text) {
    Message m;
    m.type = MessageType::Whisper;
    m.session = session;
    m.text = text;
    connection_.post(m);
    connection_.flush();
}

void TestAvatar::broadcast(const std::string& text) {
    Message m;
    m.type = MessageType::Broadcast;
    m.text = text;
    connection_.post(m);
    connection_.flush();
}

void TestAvatar::sync() {
    moveTo(x_, y_, z_);
}

void TestAvatar::pump(int waitMs) {
    if (connection_.isOpen()) {
        connection_.wait(waitMs);
        connection_.receive();
        connection_.keepAlive(nowMs());
    }
    auto& events = connection_.events();
    while (!events.empty()) {
        received_.push_back(events.front());
        events.pop_front();
    }
}

Message TestAvatar::waitFor(const std::function<bool(const Message&)>& matches, int deadlineMs) {
    const long long deadline = nowMs() + deadlineMs;
    std::size_t checked = 0;
    bool pumped = false;
    for (;;) {
        for (; checked < received_.size(); ++checked) {
            if (matches(received_[checked])) {
                return received_[checked];
            }
        }
        if (!connection_.isOpen() || (pumped && nowMs() >= deadline)) {
            return Message{};
        }
        pump(static_cast<int>(std::clamp<long long>(deadline - nowMs(), 0, 50)));
        pumped = true;
    }
}

const std::vector<Message>& TestAvatar::received() {
    pump(0);
    return received_;
}

std::vector<Message> messagesOfType(const std::vector<Message>& messages, MessageType type) {
    std::vector<Message> found;
    for (const Message& m : messages) {
        if (m.type == type) {
            found.push_back(m);
        }
    }
    return found;
}

std::vector<Message> TestAvatar::receivedOfType(MessageType type) {
    return messagesOfType(received(), type);
}

bool TestAvatar::waitClosed(int deadlineMs) {
    const long long deadline = nowMs() + deadlineMs;
    while (connection_.isOpen() && nowMs() < deadline) {
        pump(50);
    }
    return !connection_.isOpen();
}

#include "avatar/avatar_session.h"

#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"

using wire::Message;
using wire::MessageType;

int AvatarSession::join(const AvatarLogin& login) {
    int rc = connection_.open(login.address, login.port, REQUEST_TIMEOUT_MS);
    if (rc != SDK_OK) {
        return rc;
    }
    Message request;
    request.type = MessageType::Login;
    request.kind = wire::LoginKind::Avatar;
    request.citizen = login.citizen;
    request.password = login.password;
    request.name = login.name;
    rc = connection_.request(request, REQUEST_TIMEOUT_MS, &session_);
    if (rc != SDK_OK) {
        return rc;
    }
    Message enter;
    enter.type = MessageType::Enter;
    enter.name = login.world;
    rc = connection_.request(enter, REQUEST_TIMEOUT_MS);
    if (rc != SDK_OK) {
        return rc;
    }
    return moveTo(login.position);
}

int AvatarSession::moveTo(const Position& position) {
    Message state;
    state.type = MessageType::State;
    state.x = position.eastWest;
    state.y = position.altitude;
    state.z = position.northSouth;
    const int rc = connection_.request(state, REQUEST_TIMEOUT_MS);
    if (rc == SDK_OK) {
        position_ = position;
    }
    return rc;
}

int AvatarSession::say(const std::string& text) {
    Message message;
    message.type = MessageType::Say;
    message.text = text;
    return connection_.post(message);
}

int AvatarSession::whisper(int session, const std::string& text) {
    Message message;
    message.type = MessageType::Whisper;
    message.session = session;
    message.text = text;
    return connection_.post(message);
}

int AvatarSession::broadcast(const std::string& text) {
    Message message;
    message.type = MessageType::Broadcast;
    message.text = text;
    return connection_.post(message);
}

std::deque<Message>& AvatarSession::poll() {
    if (connection_.isOpen()) {
        connection_.flush();
    }
    if (connection_.isOpen()) {
        connection_.receive();
    }
    if (connection_.isOpen()) {
        connection_.keepAlive(nowMs());
    }
    for (const Message& event : connection_.events()) {
        notice(event);
    }
    return connection_.events();
}

void AvatarSession::notice(const Message& event) {
    switch (event.type) {
        case MessageType::AvatarArrived:
            present_[event.session] = SeenAvatar{event.name, event.citizen, event.x, event.y, event.z};
            break;
        case MessageType::AvatarMoved: {
            auto found = present_.find(event.session);
            if (found != present_.end()) {
                found->second.x = event.x;
                found->second.y = event.y;
                found->second.z = event.z;
            }
            break;
        }
        case MessageType::AvatarLeft:
            present_.erase(event.session);
            break;
        default:
            break;
    }
}

std::optional<int> AvatarSession::sessionNamed(const std::string& name) const {
    std::optional<int> found;
    for (const auto& [session, avatar] : present_) {
        if (avatar.name == name) {
            found = session;  // sessions grow, so the last match arrived last
        }
    }
    return found;
}

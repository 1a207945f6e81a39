#include "avatar/avatar_fleet.h"

#include <algorithm>

#include "platform/net.h"
#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr std::size_t READ_BUFFER_BYTES = 256 * 1024;
// Reads of one member per turn: a busy member cannot keep the others waiting.
constexpr int READS_PER_TURN = 4;

// The requests of a member, in the order they leave and are answered.
MessageType requestNumbered(std::uint32_t n) {
    constexpr MessageType JOIN[] = {MessageType::Hello, MessageType::Login, MessageType::Enter};
    return n < std::size(JOIN) ? JOIN[n] : MessageType::State;
}

bool isRequest(MessageType type) {
    return type == MessageType::Hello || type == MessageType::Login || type == MessageType::Enter ||
           type == MessageType::State;
}

Message stateAt(const Position& position) {
    Message state;
    state.type = MessageType::State;
    state.x = position.eastWest;
    state.y = position.altitude;
    state.z = position.northSouth;
    return state;
}

// The join's four requests, encoded once, to leave together.
std::string joinRequests(const AvatarLogin& login, std::uint16_t version) {
    std::string out;
    Message hello;
    hello.type = MessageType::Hello;
    hello.version = version;
    wire::encodeFrame(hello, out);
    Message request;
    request.type = MessageType::Login;
    request.kind = wire::LoginKind::Avatar;
    request.citizen = login.citizen;
    request.password = login.password;
    request.name = login.name;
    Message enter;
    enter.type = MessageType::Enter;
    enter.name = login.world;
    if (!wire::encodeFrame(request, out) || !wire::encodeFrame(enter, out)) {
        return {};
    }
    wire::encodeFrame(stateAt(login.position), out);
    return out;
}

const std::string& pingFrame() {
    static const std::string frame = [] {
        Message ping;
        ping.type = MessageType::Ping;
        std::string out;
        wire::encodeFrame(ping, out);
        return out;
    }();
    return frame;
}

}  // namespace

AvatarFleet::AvatarFleet(FleetObserver& observer, std::uint16_t version)
    : observer_(observer), version_(version), readBuffer_(READ_BUFFER_BYTES) {}

AvatarFleet::~AvatarFleet() {
    for (Member& member : members_) {
        closeSocket(member);
    }
}

void AvatarFleet::join(const std::vector<AvatarLogin>& logins, const std::atomic<bool>* stop) {
    std::size_t next = members_.size();
    members_.resize(members_.size() + logins.size());
    const std::size_t end = members_.size();
    const std::size_t first = next;
    auto stopAsked = [stop] { return stop != nullptr && stop->load(); };
    while ((next < end || joinsUnderWay_ > 0) && !stopAsked()) {
        while (next < end && joinsUnderWay_ < JOINS_IN_FLIGHT) {
            start(next, logins[next - first]);
            ++next;
        }
        if (!turn(100)) {
            break;
        }
        expireJoins();
    }
    failJoins(SDK_RC_CONNECTION_LOST);
}

void AvatarFleet::start(std::size_t index, const AvatarLogin& login) {
    Member& member = members_[index];
    std::uint32_t target = 0;
    if (login.port < 1 || login.port > 65535 || !net::parseIpv4(login.address, target)) {
        member.state = State::Failed;
        member.code = SDK_RC_BAD_ADDRESS;
        return;
    }
    member.output = joinRequests(login, version_);
    if (member.output.empty()) {
        member.state = State::Failed;
        member.code = SDK_RC_TEXT_TOO_LONG;
        return;
    }
    member.requestsSent = 4;
    member.fd = net::startConnect(target, login.port);
    if (member.fd >= 0 && !poller_.add(member.fd, Poller::READ | Poller::WRITE)) {
        net::close(member.fd);
        member.fd = -1;
    }
    if (member.fd < 0) {
        member.output.clear();
        member.state = State::Failed;
        member.code = SDK_RC_CONNECT_FAILED;
        return;
    }
    memberOf_[member.fd] = index;
    member.watchingWrite = true;
    member.state = State::Connecting;
    member.deadlineMs = nowMs() + JOIN_TIMEOUT_MS;
    ++joinsUnderWay_;
}

void AvatarFleet::connected(std::size_t index) {
    Member& member = members_[index];
    if (net::pendingError(member.fd) != 0) {
        finishJoin(index, SDK_RC_CONNECT_FAILED);
        return;
    }
    member.state = State::Joining;
    flush(index);
}

void AvatarFleet::expireJoins() {
    const long long now = nowMs();
    if (now < nextExpiryCheckMs_) {
        return;
    }
    nextExpiryCheckMs_ = now + 100;
    for (std::size_t i = 0; i < members_.size() && joinsUnderWay_ > 0; ++i) {
        const State state = members_[i].state;
        if ((state == State::Connecting || state == State::Joining) &&
            now >= members_[i].deadlineMs) {
            finishJoin(i, state == State::Connecting ? SDK_RC_CONNECT_FAILED : SDK_RC_TIMEOUT);
        }
    }
}

void AvatarFleet::failJoins(int code) {
    for (std::size_t i = 0; i < members_.size() && joinsUnderWay_ > 0; ++i) {
        const State state = members_[i].state;
        if (state == State::Connecting || state == State::Joining) {
            finishJoin(i, code);
        }
    }
}

void AvatarFleet::finishJoin(std::size_t index, int code) {
    Member& member = members_[index];
    --joinsUnderWay_;
    member.code = code;
    if (code == SDK_OK) {
        member.state = State::Joined;
        member.heartbeat.start(nowMs());
        return;
    }
    member.state = State::Failed;
    closeSocket(member);
    member.output.clear();
    member.output.shrink_to_fit();
}

void AvatarFleet::lose(std::size_t index, int code) {
    Member& member = members_[index];
    if (member.state == State::Connecting || member.state == State::Joining) {
        finishJoin(index, code);
        return;
    }
    if (member.state != State::Joined) {
        return;
    }
    member.state = State::Lost;
    closeSocket(member);
    member.output.clear();
    observer_.onLost(index);
}

bool AvatarFleet::turn(int timeoutMs) {
    const bool heartbeats = version_ >= 2 && !memberOf_.empty();
    if (heartbeats) {
        const long long untilSweep = std::max(0LL, nextSweepMs_ - nowMs());
        if (timeoutMs < 0 || untilSweep < timeoutMs) {
            timeoutMs = static_cast<int>(untilSweep);
        }
    }
    if (!poller_.wait(timeoutMs, ready_)) {
        return false;
    }
    now_ = nowMs();
    for (const Poller::Event& event : ready_) {
        const auto found = memberOf_.find(event.fd);
        if (found != memberOf_.end()) {  // else closed earlier in this turn
            serve(found->second, event);
        }
    }
    if (heartbeats && now_ >= nextSweepMs_) {
        nextSweepMs_ = now_ + HEARTBEAT_SWEEP_MS;
        keepHeartbeats();
    }
    return true;
}

void AvatarFleet::keepHeartbeats() {
    for (std::size_t i = 0; i < members_.size(); ++i) {
        Member& member = members_[i];
        if (member.state != State::Joined) {
            continue;
        }
        switch (member.heartbeat.check(now_)) {
            case wire::Heartbeat::Due::Nothing:
                break;
            case wire::Heartbeat::Due::Lost:
                lose(i, SDK_RC_TIMEOUT);
                break;
            case wire::Heartbeat::Due::Ping:
                member.heartbeat.pinged(now_);
                if (member.output.size() < MAX_OUTPUT_BYTES) {
                    member.output += pingFrame();
                    flush(i);
                }
                break;
        }
    }
}

void AvatarFleet::serve(std::size_t index, const Poller::Event& event) {
    Member& member = members_[index];
    if (member.state == State::Connecting) {
        // Settled either way: connected, or refused (an error to read).
        if (event.writable || event.readable) {
            connected(index);
        }
        return;
    }
    if (event.writable) {
        flush(index);
    }
    if (members_[index].fd >= 0 && event.readable) {
        read(index);
    }
}

void AvatarFleet::read(std::size_t index) {
    for (int i = 0; i < READS_PER_TURN && members_[index].fd >= 0; ++i) {
        const long n = net::receive(members_[index].fd, readBuffer_.data(), readBuffer_.size());
        if (n == net::AGAIN) {
            return;
        }
        if (n <= 0) {
            lose(index, SDK_RC_CONNECTION_LOST);
            return;
        }
        members_[index].heartbeat.heard(now_);
        bytesReceived_ += n;
        bool protocolError = false;
        const bool ok = members_[index].input.feed(
            readBuffer_.data(), static_cast<std::size_t>(n), [&](std::string_view body) {
                ++framesReceived_;
                protocolError = !take(index, body);
                // A member closed meanwhile (its join refused) reads no further.
                return !protocolError && members_[index].fd >= 0;
            });
        if (!ok && (protocolError || members_[index].fd >= 0)) {
            lose(index, SDK_RC_PROTOCOL_ERROR);
            return;
        }
        if (static_cast<std::size_t>(n) < readBuffer_.size()) {
            return;  // the socket is drained for now
        }
    }
}

bool AvatarFleet::take(std::size_t index, std::string_view body) {
    switch (bodyType(body)) {
        case MessageType::AvatarArrived:
        case MessageType::AvatarMoved:
        case MessageType::AvatarLeft:
            return true;  // presence is not followed: counted, skipped
        case MessageType::Pong:
            return version_ >= 2;  // it was heard, which is all it is for
        case MessageType::ConsoleMessage: {
            const std::optional<std::string_view> text = consoleText(body);
            if (text) {
                observer_.onConsole(index, *text);
            }
            return text.has_value();
        }
        case MessageType::Chat: {
            const std::optional<ChatView> chat = chatView(body);
            if (chat) {
                observer_.onChat(index, *chat);
            }
            return chat.has_value();
        }
        case MessageType::Reply:
        case MessageType::Error:
            return takeAnswer(members_[index], body);
        default:
            return false;  // a client's message, or no message at all
    }
}

// A reply, or an error that answers a request, must answer the oldest request
// unanswered, in order; an error refusing a said line is only checked.
bool AvatarFleet::takeAnswer(Member& member, std::string_view body) {
    const std::optional<Message> answer = wire::decodeBody(std::string(body));
    if (!answer) {
        return false;
    }
    if (answer->type == MessageType::Error && !isRequest(answer->request)) {
        return true;
    }
    if (member.repliesTaken >= member.requestsSent ||
        answer->request != requestNumbered(member.repliesTaken)) {
        return false;
    }
    const std::uint32_t taken = member.repliesTaken++;
    const auto index = static_cast<std::size_t>(&member - members_.data());
    if (member.state != State::Joining) {
        return true;  // a move's answer: nothing waits for it
    }
    member.deadlineMs = nowMs() + JOIN_TIMEOUT_MS;
    if (answer->code != SDK_OK) {
        finishJoin(index, answer->code);
    } else if (answer->request == MessageType::Login) {
        member.session = answer->value;
    } else if (taken == 3) {
        finishJoin(index, SDK_OK);
    }
    return true;
}

int AvatarFleet::say(std::size_t member, const std::string& text) {
    Message message;
    message.type = MessageType::Say;
    message.text = text;
    return post(member, message);
}

int AvatarFleet::broadcast(std::size_t member, const std::string& text) {
    Message message;
    message.type = MessageType::Broadcast;
    message.text = text;
    return post(member, message);
}

int AvatarFleet::moveTo(std::size_t member, const Position& position) {
    const int rc = post(member, stateAt(position));
    if (rc == SDK_OK) {
        ++members_[member].requestsSent;
    }
    return rc;
}

int AvatarFleet::post(std::size_t index, const Message& message) {
    if (index >= members_.size() || members_[index].state != State::Joined) {
        return SDK_RC_CONNECTION_LOST;
    }
    Member& member = members_[index];
    if (member.output.size() >= MAX_OUTPUT_BYTES) {
        return SDK_RC_OUTPUT_FULL;
    }
    if (!wire::encodeFrame(message, member.output)) {
        return SDK_RC_TEXT_TOO_LONG;
    }
    flush(index);
    return SDK_OK;
}

void AvatarFleet::flush(std::size_t index) {
    Member& member = members_[index];
    std::size_t written = 0;
    while (written < member.output.size()) {
        const long n =
            net::send(member.fd, member.output.data() + written, member.output.size() - written);
        if (n == net::AGAIN) {
            break;
        }
        if (n <= 0) {
            lose(index, SDK_RC_CONNECTION_LOST);
            return;
        }
        written += static_cast<std::size_t>(n);
    }
    if (written > 0) {
        bytesSent_ += static_cast<long long>(written);
        member.heartbeat.sent(now_);
        member.output.erase(0, written);
    }
    watchWrite(index, !member.output.empty());
}

void AvatarFleet::watchWrite(std::size_t index, bool watch) {
    Member& member = members_[index];
    if (member.watchingWrite == watch) {
        return;
    }
    poller_.modify(member.fd, Poller::READ | (watch ? Poller::WRITE : 0u));
    member.watchingWrite = watch;
}

void AvatarFleet::closeSocket(Member& member) {
    if (member.fd >= 0) {
        poller_.remove(member.fd);
        memberOf_.erase(member.fd);
        net::close(member.fd);
        member.fd = -1;
    }
    member.watchingWrite = false;
}

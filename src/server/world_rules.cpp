#include "server/world_rules.h"

#include <algorithm>
#include <cstdint>

#include "sdk/reason_codes.h"
#include "sdk/reason_text.h"
#include "server/login_rules.h"

using wire::Message;
using wire::MessageType;

namespace {

bool within(int a, int b, int range) {
    const std::int64_t difference = static_cast<std::int64_t>(a) - b;
    return difference <= range && difference >= -static_cast<std::int64_t>(range);
}

Message avatarArrived(int session, int citizen, const std::string& name, int x, int y, int z) {
    Message m;
    m.type = MessageType::AvatarArrived;
    m.session = session;
    m.citizen = citizen;
    m.name = name;
    m.x = x;
    m.y = y;
    m.z = z;
    return m;
}

}  // namespace

WorldRules::WorldRules(const ServerConfig& config, Connections& connections,
                       AddressAllowances& addresses)
    : config_(config), connections_(connections), addresses_(addresses) {
    for (const std::string& world : config_.worlds) {
        places_.emplace_back(world, config_.hearingRange);
    }
    if (places_.empty()) {
        places_.emplace_back("welcome", config_.hearingRange);
    }
}

WorldRules::Avatar* WorldRules::avatarOf(const Connection& connection) {
    const auto index = static_cast<std::size_t>(connection.fd);
    return index < avatars_.size() && avatars_[index].connection == &connection ? &avatars_[index]
                                                                                : nullptr;
}

void WorldRules::received(Connection& connection, const Message& message) {
    if (!connection.greeted && message.type != MessageType::Hello) {
        connections_.refuseAndClose(connection, message.type, SDK_RC_PROTOCOL_ERROR);
        return;
    }
    if (message.type == MessageType::Hello) {
        handleHello(connection, message);
        return;
    }
    if (message.type == MessageType::Login) {
        handleLogin(connection, message);
        return;
    }
    if (message.type == MessageType::Ping) {
        // Answered whatever the version and state: it asks only whether
        // the world is there.
        Message pong;
        pong.type = MessageType::Pong;
        send(connection, pong);
        return;
    }
    Avatar* avatar = avatarOf(connection);
    switch (message.type) {
        case MessageType::Enter:
        case MessageType::State:
            if (avatar == nullptr) {
                reply(connection, message.type,
                      message.type == MessageType::Enter ? SDK_RC_NOT_LOGGED_IN
                                                         : SDK_RC_NOT_IN_WORLD);
            } else if (message.type == MessageType::Enter) {
                handleEnter(*avatar, message);
            } else {
                handleState(*avatar, message);
            }
            return;
        case MessageType::Say:
        case MessageType::Whisper:
        case MessageType::Broadcast:
        case MessageType::Console:
            if (avatar == nullptr || avatar->place < 0) {
                refuse(connection, message.type, SDK_RC_NOT_IN_WORLD);
            } else if (message.type == MessageType::Console) {
                handleConsole(*avatar, message);
            } else {
                handleChat(*avatar, message);
            }
            return;
        default:
            // A server's message sent to the server.
            connections_.refuseAndClose(connection, message.type, SDK_RC_PROTOCOL_ERROR);
            return;
    }
}

void WorldRules::handleHello(Connection& connection, const Message& message) {
    if (connection.greeted || message.magic != wire::PROTOCOL_MAGIC) {
        connections_.refuseAndClose(connection, MessageType::Hello, SDK_RC_PROTOCOL_ERROR);
        return;
    }
    if (message.version < wire::FIRST_PROTOCOL_VERSION ||
        message.version > wire::PROTOCOL_VERSION) {
        reply(connection, MessageType::Hello, SDK_RC_VERSION_MISMATCH, wire::PROTOCOL_VERSION);
        connections_.close(connection);
        return;
    }
    connection.greeted = true;
    reply(connection, MessageType::Hello, SDK_OK, wire::PROTOCOL_VERSION);
    // A version 1 client knows no Ping, so it cannot keep a quiet session
    // open: it is exempt from the idle limit.
    if (message.version >= 2) {
        connections_.keepsHeartbeat(connection);
    }
}

int WorldRules::loginCode(const Connection& connection, const Message& message) const {
    if (connection.loggedIn) {
        return SDK_RC_ALREADY_LOGGED_IN;
    }
    // A client that keeps failing waits before its next try is looked at.
    if (addresses_.loginBarred(connection.address, connections_.now())) {
        return SDK_RC_RATE_LIMITED;
    }
    return loginRefusal(config_, message, tourists_);
}

void WorldRules::refuseLogin(Connection& connection, const Message& message, int code) {
    connections_.log("login", "connection " + std::to_string(connection.fd) +
                                  ": login as citizen " + std::to_string(message.citizen) +
                                  " refused: " + reasonWithWords(code));
    if (code == SDK_RC_BAD_CREDENTIALS) {
        addresses_.loginRefused(connection.address, connections_.now());
    }
    reply(connection, MessageType::Login, code);
    // A full server has no place to wait in; a connection refused a few
    // times is not trying to log in.
    if (code == SDK_RC_SERVER_FULL || ++connection.loginRefusals >= config_.loginAttempts) {
        connections_.close(connection);
    }
}

void WorldRules::handleLogin(Connection& connection, const Message& message) {
    const int code = loginCode(connection, message);
    if (code != SDK_OK) {
        refuseLogin(connection, message, code);
        return;
    }
    const auto index = static_cast<std::size_t>(connection.fd);
    if (index >= avatars_.size()) {
        avatars_.resize(index + 1);
    }
    Avatar& avatar = avatars_[index];
    avatar = Avatar{};
    avatar.connection = &connection;
    avatar.session = nextSession_++;
    avatar.citizen = message.citizen;
    avatar.bot = message.kind == wire::LoginKind::Bot;
    avatar.hearAll = message.hearAll != 0;
    avatar.name = avatar.bot ? "[" + message.name + "]" : message.name;
    avatar.foldedName = foldedName(avatar.name);
    const long long now = connections_.now();
    avatar.chatLines = TokenBucket(config_.chatRate, config_.chatBurst, now);
    avatar.moves = TokenBucket(config_.moves.rate, config_.moves.burst, now);
    avatar.entries = TokenBucket(config_.entries.rate, config_.entries.burst, now);
    tourists_ += avatar.citizen == 0 && !avatar.bot ? 1 : 0;
    socketOfSession_.add(avatar.session, connection.fd);
    connections_.loggedIn(connection, avatar.session, avatar.bot);
    connections_.log("login", "connection " + std::to_string(connection.fd) +
                                  " logged in: session " + std::to_string(avatar.session) +
                                  ", citizen " + std::to_string(avatar.citizen) +
                                  (avatar.bot ? ", bot" : ""));
    reply(connection, MessageType::Login, SDK_OK, avatar.session);
}

bool WorldRules::allowed(Avatar& avatar, TokenBucket& own, AddressAllowances::Action action) {
    // Both or neither: what one refuses the other does not lose.
    const long long now = connections_.now();
    const long long credit = connections_.holdCreditMs();
    return own.canTake(now, credit) &&
           addresses_.take(avatar.connection->address, action, now, credit) &&
           own.take(now, credit);
}

WorldRules::Avatar* WorldRules::nameHolder(const Avatar& avatar, const Place& place) {
    const auto found = place.byName.find(avatar.foldedName);
    if (found == place.byName.end() || found->second == avatar.connection->fd) {
        return nullptr;
    }
    return &avatars_[found->second];
}

void WorldRules::handleEnter(Avatar& avatar, const Message& message) {
    const auto place = std::find_if(places_.begin(), places_.end(),
                                    [&](const Place& p) { return p.name == message.name; });
    if (place == places_.end()) {
        reply(*avatar.connection, MessageType::Enter, SDK_RC_NO_SUCH_WORLD);
        return;
    }
    // No two avatars of a world have one name. A session of the same
    // citizen gives way, so that a client coming back after a lost
    // connection is not kept out by what is left of its old session.
    Avatar* holder = nameHolder(avatar, *place);
    if (holder != nullptr && (avatar.citizen == 0 || holder->citizen != avatar.citizen)) {
        reply(*avatar.connection, MessageType::Enter, SDK_RC_NAME_IN_USE);
        return;
    }
    if (!allowed(avatar, avatar.entries, AddressAllowances::Action::Entry)) {
        reply(*avatar.connection, MessageType::Enter, SDK_RC_RATE_LIMITED);
        return;
    }
    leavePlace(avatar);
    if (holder != nullptr) {
        connections_.log("login", "session " + std::to_string(holder->session) +
                                      " gives way to session " + std::to_string(avatar.session) +
                                      " of the same citizen and name");
        leavePlace(*holder);
        connections_.close(*holder->connection);
    }
    // Answered before it stands in the place, so that the answer does not
    // deliver the place's news.
    reply(*avatar.connection, MessageType::Enter, SDK_OK);
    avatar.place = static_cast<int>(place - places_.begin());
    avatar.x = avatar.y = avatar.z = 0;
    std::string arrival;  // the newcomer's, the same for everyone
    wire::encodeFrame(avatarArrived(avatar.session, avatar.citizen, avatar.name, 0, 0, 0), arrival);
    // In the order of login, so that a newcomer's roster reads the same way
    // every time. A member dropped this turn is in it too: its departure
    // follows this turn, and must not be of someone the newcomer never saw.
    for (int member : place->members) {
        Avatar& other = avatars_[member];
        if (other.arrivalStale) {
            other.arrival.clear();
            wire::encodeFrame(
                avatarArrived(other.session, other.citizen, other.name, other.x, other.y, other.z),
                other.arrival);
            other.arrivalStale = false;
        }
        connections_.send(*avatar.connection, other.arrival);
    }
    place->news.addArrival(arrival, avatar.news);
    deliverWhenLarge(*place);
    const int fd = avatar.connection->fd;
    place->byName[avatar.foldedName] = fd;
    place->members.insert(
        std::upper_bound(
            place->members.begin(), place->members.end(), avatar.session,
            [this](int session, int member) { return session < avatars_[member].session; }),
        fd);
    place->grid.place(fd, 0, 0, 0);
    if (avatar.hearAll) {
        place->hearAll.push_back(fd);
    }
    avatar.arrival = std::move(arrival);
    avatar.arrivalStale = false;
    if (observer_ != nullptr) {
        observer_->arrived({avatar.session, avatar.citizen, avatar.bot, avatar.name, place->name,
                            avatar.x, avatar.y, avatar.z});
    }
}

void WorldRules::handleState(Avatar& avatar, const Message& message) {
    if (avatar.place < 0) {
        reply(*avatar.connection, MessageType::State, SDK_RC_NOT_IN_WORLD);
        return;
    }
    if (!allowed(avatar, avatar.moves, AddressAllowances::Action::Move)) {
        reply(*avatar.connection, MessageType::State, SDK_RC_RATE_LIMITED);
        return;
    }
    avatar.x = message.x;
    avatar.y = message.y;
    avatar.z = message.z;
    avatar.arrivalStale = true;
    places_[avatar.place].grid.place(avatar.connection->fd, avatar.x, avatar.y, avatar.z);
    reply(*avatar.connection, MessageType::State, SDK_OK);
    Message moved;
    moved.type = MessageType::AvatarMoved;
    moved.session = avatar.session;
    moved.x = avatar.x;
    moved.y = avatar.y;
    moved.z = avatar.z;
    frame_.clear();
    wire::encodeFrame(moved, frame_);
    places_[avatar.place].news.add(frame_, &avatar.news);
    deliverWhenLarge(places_[avatar.place]);
    if (observer_ != nullptr) {
        observer_->moved(avatar.session, avatar.x, avatar.y, avatar.z);
    }
}

bool WorldRules::hears(const Avatar& listener, const Avatar& speaker) const {
    return listener.hearAll || (within(listener.x, speaker.x, config_.hearingRange) &&
                                within(listener.y, speaker.y, config_.hearingRange) &&
                                within(listener.z, speaker.z, config_.hearingRange));
}

void WorldRules::handleChat(Avatar& avatar, const Message& message) {
    Connection& connection = *avatar.connection;
    if (message.text.empty() || !wire::isCleanText(message.text, false)) {
        refuse(connection, message.type, SDK_RC_INVALID_TEXT);
        return;
    }
    Avatar* target = nullptr;
    if (message.type == MessageType::Whisper) {
        target = inPlace(message.session, avatar.place);
        if (target == nullptr || target == &avatar) {
            refuse(connection, message.type, SDK_RC_NO_SUCH_SESSION);
            return;
        }
    }
    if (message.type == MessageType::Broadcast && avatar.citizen == 0 && !avatar.bot) {
        refuse(connection, message.type, SDK_RC_NOT_ALLOWED);
        return;
    }
    // Only lines that would reach someone use up the allowance.
    if (!allowed(avatar, avatar.chatLines, AddressAllowances::Action::Line)) {
        refuse(connection, message.type, SDK_RC_RATE_LIMITED);
        return;
    }
    Message chat;
    chat.type = MessageType::Chat;
    chat.session = avatar.session;
    chat.name = avatar.name;
    chat.text = message.text;
    chat.chatType = message.type == MessageType::Whisper     ? 2
                    : message.type == MessageType::Broadcast ? 1
                                                             : 0;
    std::string frame;
    wire::encodeFrame(chat, frame);
    if (target != nullptr) {
        send(*target, frame);
        return;
    }
    Place& place = places_[avatar.place];
    if (chat.chatType == 1) {
        for (int member : place.members) {
            if (member != connection.fd) {
                send(avatars_[member], frame);
            }
        }
    } else {
        // Those who hear all, then those near enough (each once).
        for (int member : place.hearAll) {
            if (member != connection.fd) {
                send(avatars_[member], frame);
            }
        }
        place.grid.forEachNear(avatar.x, avatar.y, avatar.z, [&](int member) {
            Avatar& other = avatars_[member];
            if (member != connection.fd && !other.hearAll && hears(other, avatar)) {
                send(other, frame);
            }
        });
    }
    if (observer_ != nullptr && chat.chatType == 0) {
        observer_->said(avatar.session, chat.text);
    }
}

void WorldRules::handleConsole(Avatar& avatar, const Message& message) {
    Connection& connection = *avatar.connection;
    if (!avatar.bot) {
        refuse(connection, message.type, SDK_RC_NOT_ALLOWED);
        return;
    }
    if (!wire::isCleanConsoleText(message.text)) {
        refuse(connection, message.type, SDK_RC_INVALID_TEXT);
        return;
    }
    Message console;
    console.type = MessageType::ConsoleMessage;
    console.red = message.red;
    console.green = message.green;
    console.blue = message.blue;
    console.text = message.text;
    std::string frame;
    wire::encodeFrame(console, frame);
    // Sessions that have left meanwhile are passed over: the sender could not
    // have known, and nothing is lost that anyone could still receive.
    std::vector<int> reached;
    for (std::int32_t session : message.targets) {
        Avatar* target = inPlace(session, avatar.place);
        if (target != nullptr && target != &avatar) {
            send(*target, frame);
            if (observer_ != nullptr) {
                reached.push_back(session);
            }
        }
    }
    if (observer_ != nullptr && !reached.empty()) {
        observer_->consoleSent(avatar.session, message.red, message.green, message.blue,
                               message.text, reached);
    }
}

WorldRules::Avatar* WorldRules::inPlace(int session, int place) {
    const int socket = socketOfSession_.find(session);
    if (socket < 0) {
        return nullptr;
    }
    Avatar& avatar = avatars_[static_cast<std::size_t>(socket)];
    return avatar.place == place && !avatar.connection->dropped ? &avatar : nullptr;
}

void WorldRules::leavePlace(Avatar& avatar) {
    if (avatar.place < 0) {
        return;
    }
    Place& place = places_[avatar.place];
    if (!avatar.connection->dropped) {
        catchUp(avatar);  // what happened before it left, it is told
    }
    avatar.place = -1;
    const int fd = avatar.connection->fd;
    place.members.erase(std::find(place.members.begin(), place.members.end(), fd));
    place.grid.remove(fd);
    if (avatar.hearAll) {
        place.hearAll.erase(std::find(place.hearAll.begin(), place.hearAll.end(), fd));
    }
    if (auto named = place.byName.find(avatar.foldedName);
        named != place.byName.end() && named->second == fd) {
        place.byName.erase(named);
    }
    Message left;
    left.type = MessageType::AvatarLeft;
    left.session = avatar.session;
    left.name = avatar.name;
    frame_.clear();
    wire::encodeFrame(left, frame_);
    place.news.add(frame_, nullptr);
    deliverWhenLarge(place);
    if (observer_ != nullptr) {
        observer_->left(avatar.session);
    }
}

void WorldRules::leaving(Connection& connection) {
    if (Avatar* avatar = avatarOf(connection); avatar != nullptr) {
        leavePlace(*avatar);
    }
}

void WorldRules::closed(Connection& connection) {
    if (Avatar* avatar = avatarOf(connection); avatar != nullptr) {
        leavePlace(*avatar);
        socketOfSession_.remove(avatar->session);
        tourists_ -= avatar->citizen == 0 && !avatar->bot ? 1 : 0;
        *avatar = Avatar{};
    }
}

void WorldRules::beforeWriting() {
    for (Place& place : places_) {
        deliverNews(place);
    }
}

void WorldRules::deliverNews(Place& place) {
    if (place.news.empty()) {
        return;
    }
    for (int member : place.members) {
        catchUp(avatars_[member]);
    }
    place.news.endRound();
}

void WorldRules::deliverWhenLarge(Place& place) {
    if (place.news.size() * place.members.size() >= config_.maxTotalOutputBytes / 8) {
        deliverNews(place);
    }
}

void WorldRules::catchUp(Avatar& avatar) {
    if (avatar.place >= 0) {
        places_[avatar.place].news.catchUp(avatar.news, [&](std::string_view piece) {
            connections_.send(*avatar.connection, piece);
        });
    }
}

void WorldRules::send(Avatar& avatar, const std::string& frame) {
    catchUp(avatar);
    connections_.send(*avatar.connection, frame);
}

void WorldRules::send(Connection& connection, const Message& message) {
    if (Avatar* avatar = avatarOf(connection); avatar != nullptr) {
        catchUp(*avatar);
    }
    frame_.clear();
    wire::encodeFrame(message, frame_);
    connections_.send(connection, frame_);
}

void WorldRules::reply(Connection& connection, MessageType request, int code, int value) {
    if (code != SDK_OK) {
        connections_.refused(connection);
    }
    Message m;
    m.type = MessageType::Reply;
    m.request = request;
    m.code = code;
    m.value = value;
    send(connection, m);
}

void WorldRules::refuse(Connection& connection, MessageType request, int code) {
    connections_.refused(connection);
    Message m;
    m.type = MessageType::Error;
    m.request = request;
    m.code = code;
    send(connection, m);
}

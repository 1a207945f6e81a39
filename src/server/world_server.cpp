#include "server/world_server.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/net.h"
#include "platform/process.h"
#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"
#include "sdk/reason_text.h"
#include "server/server_log.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;
constexpr int ACCEPTS_PER_TURN = 64;
constexpr long long LINGER_MS = 2000;
// Frames handed to one gathered send: the most Linux takes (IOV_MAX), so one
// turn's output to a receiver usually leaves in one call.
constexpr int WRITE_PIECES = net::MAX_PIECES;
// Output that piled up to this much and then went is given back to the system.
constexpr std::size_t TRIM_AFTER_BYTES = 32 * 1024 * 1024;

bool within(int a, int b, int range) {
    std::int64_t difference = static_cast<std::int64_t>(a) - b;
    return difference <= range && difference >= -static_cast<std::int64_t>(range);
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Chat log lines begin "whisper from NAME:" for a whisper and "global chat:"
// for a console message; a name that began the same way (in any letter case)
// could forge them.
bool imitatesLogLine(const std::string& name) {
    constexpr std::string_view prefixes[] = {"whisper from", "global chat"};
    for (std::string_view prefix : prefixes) {
        if (name.size() >= prefix.size() &&
            std::equal(prefix.begin(), prefix.end(), name.begin(),
                       [](char a, char b) { return a == asciiLower(b); })) {
            return true;
        }
    }
    return false;
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

WorldServer::WorldServer(ServerConfig config, Clock clock)
    : config_(std::move(config)), clock_(clock) {
    if (config_.worlds.empty()) {
        config_.worlds.insert("welcome");
    }
}

WorldServer::~WorldServer() {
    for (auto& [fd, client] : clients_) {
        net::close(fd);
    }
    for (int fd : {listenFd_, wakeRead_, wakeWrite_}) {
        net::close(fd);
    }
    net::releaseDescriptor(spareFd_);
}

bool WorldServer::start(std::string& error) {
    std::uint32_t address = 0;
    if (!net::parseIpv4(config_.address, address)) {
        error = "not an IPv4 address: " + config_.address;
        return false;
    }
    // The wake-up: a byte on a socket pair, which every system can poll.
    int wakeEnds[2];
    if (!net::socketPair(wakeEnds)) {
        error = "socketpair: " + net::lastError();
        return false;
    }
    wakeRead_ = wakeEnds[0];
    wakeWrite_ = wakeEnds[1];
    if (!net::setNonBlocking(wakeRead_) || !net::setNonBlocking(wakeWrite_)) {
        error = "socketpair: " + net::lastError();
        return false;
    }
    if (!poller_.ok() || !poller_.add(wakeRead_, Poller::READ)) {
        error = poller_.error();
        return false;
    }
    listenFd_ = net::listenOn(address, config_.port, 512);
    if (listenFd_ < 0 || !net::setNonBlocking(listenFd_)) {
        error = "cannot listen on " + config_.address + ":" + std::to_string(config_.port) + ": " +
                net::lastError();
        return false;
    }
    port_ = net::localPort(listenFd_);
    if (!poller_.add(listenFd_, Poller::READ)) {
        error = poller_.error();
        return false;
    }
    spareFd_ = net::reserveDescriptor();
    return true;
}

void WorldServer::stop() {
    stopRequested_ = true;
    char byte = 0;
    net::send(wakeWrite_, &byte, 1);
}

void WorldServer::run() {
    while (!stopRequested_ && serveOnce(-1)) {
    }
}

bool WorldServer::serveOnce(int timeoutMs) {
    if (!poller_.ok()) {
        log(poller_.error());
        return false;
    }
    if (const long long deadline = nextDeadline(); deadline != 0) {
        const long long untilDeadline = std::max(0LL, deadline - clock_());
        if (timeoutMs < 0 || untilDeadline < timeoutMs) {
            timeoutMs = static_cast<int>(std::min<long long>(untilDeadline, 1 << 30));
        }
    }
    if (guest_ != nullptr) {
        const int guestTimeout = guest_->timeoutMs();
        if (guestTimeout >= 0 && (timeoutMs < 0 || guestTimeout < timeoutMs)) {
            timeoutMs = guestTimeout;
        }
    }
    if (!poller_.wait(timeoutMs, ready_)) {
        log(poller_.error());
        return false;
    }
    for (const Poller::Event& event : ready_) {
        serveEvent(event);
    }
    expireLogins(clock_());
    // Closing a client sends its departure to others, to be written this
    // turn too; that writing may drop a client being closed, and so on.
    do {
        writeDue();
        removeClosedClients();
    } while (!writeDue_.empty());
    releaseFreedMemory();
    if (guest_ != nullptr) {
        guest_->turn(guestReady_);
        guestReady_ = false;
    }
    return true;
}

void WorldServer::setGuest(LoopGuest* guest) {
    if (guest_ != nullptr) {
        poller_.remove(guest_->fd());
    }
    guest_ = guest;
    if (guest_ != nullptr && !poller_.add(guest_->fd(), Poller::READ)) {
        log("the map's descriptor cannot be watched: " + poller_.error());
    }
}

void WorldServer::serveEvent(const Poller::Event& event) {
    if (guest_ != nullptr && event.fd == guest_->fd()) {
        guestReady_ = true;
        return;
    }
    if (event.fd == wakeRead_) {
        char drain[64];
        while (net::receive(wakeRead_, drain, sizeof drain) > 0) {
        }
        return;
    }
    if (event.fd == listenFd_) {
        acceptClients();
        return;
    }
    auto found = clients_.find(event.fd);
    if (found == clients_.end()) {
        return;
    }
    Client& client = found->second;
    if (event.writable) {
        queueWrite(client);
    }
    if (!event.readable || client.dropped) {
        return;
    }
    if (client.lingerUntilMs != 0) {
        discardInput(client);
    } else if (!client.closing) {
        readFrom(client);
    }
}

void WorldServer::updateInterest(Client& client) {
    if (client.dropped) {
        return;  // removed from the poller when closed, this turn
    }
    unsigned wanted = !client.closing || client.lingerUntilMs != 0 ? Poller::READ : 0;
    if (!client.output.empty()) {
        wanted |= Poller::WRITE;
    }
    if (wanted == client.interest) {
        return;
    }
    if (!poller_.modify(client.fd, wanted)) {
        // Unwatched, its output could wait for ever.
        log("connection " + std::to_string(client.fd) + ": " + poller_.error() + ", dropped");
        drop(client);
        return;
    }
    client.interest = wanted;
}

void WorldServer::queueWrite(Client& client) {
    if (!client.writeQueued) {
        client.writeQueued = true;
        writeDue_.push_back(client.fd);
    }
}

void WorldServer::writeDue() {
    // Writing drops no one but the client written, and closes no socket, so
    // every listed socket still names its client.
    for (int fd : writeDue_) {
        auto found = clients_.find(fd);
        if (found == clients_.end()) {
            continue;
        }
        Client& client = found->second;
        client.writeQueued = false;
        if (!client.output.empty() && !client.dropped) {
            writeTo(client);
        }
        updateInterest(client);
    }
    writeDue_.clear();
}

std::size_t WorldServer::waitingToWrite() const {
    std::size_t waiting = 0;
    for (const auto& [fd, client] : clients_) {
        waiting += (client.interest & Poller::WRITE) != 0 ? 1 : 0;
    }
    return waiting;
}

void WorldServer::markClosing(Client& client) {
    client.closing = true;
    unsettled_.insert(client.fd);
    // A client being closed gets its one try at writing this turn.
    queueWrite(client);
}

void WorldServer::releaseFreedMemory() {
    // The allocator keeps what the frames of stuck clients took, as many
    // small blocks; once most of it is gone, let the system have it back.
    if (peakHeldOutput_ >= TRIM_AFTER_BYTES && heldOutput_ <= peakHeldOutput_ / 8) {
        returnFreedMemory();
        peakHeldOutput_ = heldOutput_;
    }
}

void WorldServer::acceptClients() {
    for (int i = 0; i < ACCEPTS_PER_TURN; ++i) {
        std::string peer;
        int fd = net::accept(listenFd_, true, &peer);
        if (fd == net::OUT_OF_DESCRIPTORS && spareFd_ >= 0) {
            // Out of descriptors: take the waiting connection with the spare
            // one and close it, so the listener does not stay readable forever.
            net::releaseDescriptor(spareFd_);
            net::close(net::accept(listenFd_));
            spareFd_ = net::reserveDescriptor();
            log("out of file descriptors: refused a connection");
            continue;
        }
        if (fd < 0) {
            return;
        }
        net::setNoDelay(fd);
        log("connection " + std::to_string(fd) + " from " + peer);
        addClient(fd);
    }
}

void WorldServer::adoptClient(int fd) {
    net::setNonBlocking(fd);
    log("connection " + std::to_string(fd) + " adopted");
    addClient(fd);
}

WorldServer::Client& WorldServer::addClient(int fd) {
    Client& client = clients_[fd];
    client.fd = fd;
    client.loginDeadlineMs = clock_() + config_.loginTimeoutMs;
    unsettled_.insert(fd);
    if (poller_.add(fd, Poller::READ)) {
        client.interest = Poller::READ;
    } else {
        log("connection " + std::to_string(fd) + ": " + poller_.error() + ", closed");
        drop(client);
        return client;
    }
    if (clients_.size() <= config_.maxClients || activeClients() <= config_.maxClients) {
        return client;
    }
    // Full. A connection that has not logged in holds its place only until a
    // newcomer needs it, so that silent connections cannot keep out clients
    // that log in at once; logged-in sessions keep theirs.
    if (Client* waiting = oldestNotLoggedIn(client); waiting != nullptr) {
        log("connection " + std::to_string(waiting->fd) +
            " not logged in: closed to make room (server full)");
        refuseAndClose(*waiting, waiting->greeted ? MessageType::Login : MessageType::Hello,
                       SDK_RC_SERVER_FULL);
        return client;
    }
    log("connection " + std::to_string(fd) + " refused: server full");
    refuseAndClose(client, MessageType::Hello, SDK_RC_SERVER_FULL);
    return client;
}

std::size_t WorldServer::activeClients() const {
    std::size_t leaving = 0;
    for (int fd : unsettled_) {
        const Client& client = clients_.at(fd);
        leaving += client.closing || client.dropped ? 1 : 0;
    }
    return clients_.size() - leaving;
}

WorldServer::Client* WorldServer::oldestNotLoggedIn(const Client& newcomer) {
    Client* oldest = nullptr;
    for (int fd : unsettled_) {
        Client& client = clients_.at(fd);
        if (&client != &newcomer && client.session == 0 && !client.closing && !client.dropped &&
            (oldest == nullptr || client.loginDeadlineMs < oldest->loginDeadlineMs)) {
            oldest = &client;
        }
    }
    return oldest;
}

long long WorldServer::nextDeadline() const {
    long long next = 0;
    for (int fd : unsettled_) {
        const Client& client = clients_.at(fd);
        long long due = client.lingerUntilMs;
        if (client.session == 0 && !client.closing && !client.dropped) {
            due = client.loginDeadlineMs;
        }
        if (due != 0 && (next == 0 || due < next)) {
            next = due;
        }
    }
    return next;
}

void WorldServer::expireLogins(long long now) {
    for (int fd : unsettled_) {
        Client& client = clients_.at(fd);
        if (client.session == 0 && !client.closing && !client.dropped &&
            now >= client.loginDeadlineMs) {
            log("connection " + std::to_string(fd) + " did not log in in time: closing");
            refuseAndClose(client, client.greeted ? MessageType::Login : MessageType::Hello,
                           SDK_RC_TIMEOUT);
        }
    }
}

void WorldServer::readFrom(Client& client) {
    char buffer[READ_CHUNK];
    // Enough by default for hundreds of a bot's console frames a turn, while
    // a flood from one connection still cannot keep the rest waiting long.
    std::size_t budget = std::max<std::size_t>(config_.readBudgetBytes, 1);
    std::string body;
    while (budget > 0 && !client.closing && !client.dropped) {
        const long n = net::receive(client.fd, buffer, std::min(sizeof buffer, budget));
        if (n == net::AGAIN) {
            return;
        }
        if (n <= 0) {
            drop(client);
            return;
        }
        budget -= static_cast<std::size_t>(n);
        // Each chunk is handled before the next is read, so that no more than
        // one partial frame waits in the reader.
        client.reader.append(buffer, static_cast<std::size_t>(n));
        while (!client.closing && !client.dropped) {
            wire::FrameReader::Status status = client.reader.next(body);
            if (status == wire::FrameReader::Status::NeedMore) {
                break;
            }
            std::optional<Message> message;
            if (status == wire::FrameReader::Status::Frame) {
                message = wire::decodeBody(body);
            }
            if (!message) {
                log("connection " + std::to_string(client.fd) + ": malformed message, closing");
                refuseAndClose(client, MessageType::Hello, SDK_RC_PROTOCOL_ERROR);
                return;
            }
            handle(client, *message);
        }
        if (static_cast<std::size_t>(n) < sizeof buffer) {
            return;  // the socket had no more; a further recv would only say so
        }
    }
}

void WorldServer::writeTo(Client& client) {
    net::Piece pieces[WRITE_PIECES];
    while (!client.output.empty()) {
        const int count = client.output.gather(pieces, WRITE_PIECES);
        std::size_t offered = 0;
        for (int i = 0; i < count; ++i) {
            offered += pieces[i].size;
        }
        const long n = net::sendPieces(client.fd, pieces, count);
        if (n == net::AGAIN) {
            // A client being closed gets one try: it must not hold its
            // socket by never reading its last message.
            if (client.closing) {
                drop(client);
            }
            return;
        }
        if (n <= 0) {
            drop(client);
            return;
        }
        const std::size_t before = client.output.heldBytes();
        client.output.consume(static_cast<std::size_t>(n));
        heldOutput_ -= before - client.output.heldBytes();
        if (static_cast<std::size_t>(n) < offered) {
            // The socket is full; the poller says when it has room again. A
            // client being closed has had its try.
            if (client.closing) {
                drop(client);
            }
            return;
        }
    }
}

void WorldServer::discardInput(Client& client) {
    char buffer[READ_CHUNK];
    const long n = net::receive(client.fd, buffer, sizeof buffer);
    if (n == 0 || n == net::FAILED) {
        drop(client);
    }
}

void WorldServer::removeClosedClients() {
    const long long now = clock_();
    for (int fd : unsettled_) {
        Client& client = clients_.at(fd);
        if (client.closing && client.output.empty() && client.lingerUntilMs == 0 &&
            !client.dropped) {
            leaveWorld(client);
            net::shutdownSending(fd);
            // A clock that stands still at 0 must still mark the linger.
            client.lingerUntilMs = std::max(1LL, now + LINGER_MS);
            updateInterest(client);
        } else if (client.lingerUntilMs != 0 && now >= client.lingerUntilMs) {
            drop(client);
        }
    }
    // Closing one client sends departures to others, which may drop them in
    // turn; repeat until no client is left to close.
    std::vector<int> closing;
    do {
        closing.clear();
        for (int fd : unsettled_) {
            if (clients_.at(fd).dropped) {
                closing.push_back(fd);
            }
        }
        for (int fd : closing) {
            closeClient(fd);
        }
    } while (!closing.empty());
}

void WorldServer::closeClient(int fd) {
    auto found = clients_.find(fd);
    if (found == clients_.end()) {
        return;
    }
    Client& client = found->second;
    log("connection " + std::to_string(fd) + " closed" +
        (client.session != 0 ? " (session " + std::to_string(client.session) + ")" : ""));
    drop(client);
    leaveWorld(client);
    sessions_.erase(client.session);
    poller_.remove(fd);
    net::close(fd);
    unsettled_.erase(fd);
    clients_.erase(found);
}

void WorldServer::drop(Client& client) {
    client.dropped = true;
    unsettled_.insert(client.fd);
    heldOutput_ -= client.output.heldBytes();
    client.output.clear();
}

void WorldServer::handle(Client& client, const Message& message) {
    if (!client.greeted && message.type != MessageType::Hello) {
        refuseAndClose(client, message.type, SDK_RC_PROTOCOL_ERROR);
        return;
    }
    switch (message.type) {
        case MessageType::Hello:
            handleHello(client, message);
            return;
        case MessageType::Login:
            handleLogin(client, message);
            return;
        case MessageType::Enter:
            handleEnter(client, message);
            return;
        case MessageType::State:
            handleState(client, message);
            return;
        case MessageType::Say:
        case MessageType::Whisper:
        case MessageType::Broadcast:
            handleChat(client, message);
            return;
        case MessageType::Console:
            handleConsole(client, message);
            return;
        default:
            // A server's message sent to the server.
            refuseAndClose(client, message.type, SDK_RC_PROTOCOL_ERROR);
            return;
    }
}

void WorldServer::handleHello(Client& client, const Message& message) {
    if (client.greeted || message.magic != wire::PROTOCOL_MAGIC) {
        refuseAndClose(client, MessageType::Hello, SDK_RC_PROTOCOL_ERROR);
        return;
    }
    if (message.version != wire::PROTOCOL_VERSION) {
        reply(client, MessageType::Hello, SDK_RC_VERSION_MISMATCH, wire::PROTOCOL_VERSION);
        markClosing(client);
        return;
    }
    client.greeted = true;
    reply(client, MessageType::Hello, SDK_OK, wire::PROTOCOL_VERSION);
}

// Hearing every said line of a world is for bots (a relay must hear all that
// it relays); an avatar hears what is said within its range.
int WorldServer::permittedHearing(const Message& login) {
    return login.hearAll != 0 && login.kind != wire::LoginKind::Bot ? SDK_RC_NOT_ALLOWED : SDK_OK;
}

int WorldServer::loginCode(const Message& message) const {
    const std::size_t nameLimit =
        wire::MAX_NAME_BYTES - (message.kind == wire::LoginKind::Bot ? 2 : 0);
    if (message.name.empty() || !wire::isCleanText(message.name, false) ||
        (message.kind == wire::LoginKind::Avatar && message.name[0] == '[') ||
        imitatesLogLine(message.name)) {
        return SDK_RC_INVALID_TEXT;
    }
    if (message.name.size() > nameLimit) {
        return SDK_RC_TEXT_TOO_LONG;
    }
    if (message.kind == wire::LoginKind::Avatar && message.citizen == 0) {
        return message.password.empty() ? permittedHearing(message) : SDK_RC_BAD_CREDENTIALS;
    }
    auto citizen = config_.citizens.find(message.citizen);
    if (citizen == config_.citizens.end() || citizen->second != message.password) {
        return SDK_RC_BAD_CREDENTIALS;
    }
    return permittedHearing(message);
}

void WorldServer::handleLogin(Client& client, const Message& message) {
    int code = client.session != 0 ? SDK_RC_ALREADY_LOGGED_IN : loginCode(message);
    if (code != SDK_OK) {
        log("connection " + std::to_string(client.fd) + ": login as citizen " +
                std::to_string(message.citizen) + " refused: " + reasonWithWords(code));
        reply(client, MessageType::Login, code);
        return;
    }
    client.session = nextSession_++;
    sessions_[client.session] = client.fd;
    if (!client.closing && !client.dropped) {
        unsettled_.erase(client.fd);  // a session has no deadline
    }
    client.citizen = message.citizen;
    client.bot = message.kind == wire::LoginKind::Bot;
    client.hearAll = message.hearAll != 0;
    client.name = client.bot ? "[" + message.name + "]" : message.name;
    client.chatLines = TokenBucket(config_.chatRate, config_.chatBurst, clock_());
    log("connection " + std::to_string(client.fd) + " logged in: session " +
        std::to_string(client.session) + ", citizen " + std::to_string(client.citizen) +
        (client.bot ? ", bot" : ""));
    reply(client, MessageType::Login, SDK_OK, client.session);
}

void WorldServer::handleEnter(Client& client, const Message& message) {
    if (client.session == 0) {
        reply(client, MessageType::Enter, SDK_RC_NOT_LOGGED_IN);
        return;
    }
    if (config_.worlds.count(message.name) == 0) {
        reply(client, MessageType::Enter, SDK_RC_NO_SUCH_WORLD);
        return;
    }
    leaveWorld(client);
    client.world = message.name;
    client.x = client.y = client.z = 0;
    reply(client, MessageType::Enter, SDK_OK);
    std::string arrival;  // the newcomer's, the same for everyone
    wire::encodeFrame(avatarArrived(client.session, client.citizen, client.name, 0, 0, 0), arrival);
    // In the order of login, so that a newcomer's roster reads the same way
    // every time.
    for (auto& [session, fd] : sessions_) {
        Client& other = clients_.at(fd);
        if (&other == &client || other.world != client.world || other.dropped) {
            continue;
        }
        send(client,
             avatarArrived(other.session, other.citizen, other.name, other.x, other.y, other.z));
        send(other, arrival);
    }
    if (observer_ != nullptr) {
        observer_->arrived({client.session, client.citizen, client.bot, client.name, client.world,
                            client.x, client.y, client.z});
    }
}

void WorldServer::handleState(Client& client, const Message& message) {
    if (client.world.empty()) {
        reply(client, MessageType::State, SDK_RC_NOT_IN_WORLD);
        return;
    }
    client.x = message.x;
    client.y = message.y;
    client.z = message.z;
    reply(client, MessageType::State, SDK_OK);
    Message moved;
    moved.type = MessageType::AvatarMoved;
    moved.session = client.session;
    moved.x = client.x;
    moved.y = client.y;
    moved.z = client.z;
    std::string frame;
    wire::encodeFrame(moved, frame);
    for (auto& [fd, other] : clients_) {
        if (&other != &client && other.world == client.world && !other.dropped) {
            send(other, frame);
        }
    }
    if (observer_ != nullptr) {
        observer_->moved(client.session, client.x, client.y, client.z);
    }
}

bool WorldServer::hears(const Client& listener, const Client& speaker) const {
    return listener.hearAll || (within(listener.x, speaker.x, config_.hearingRange) &&
                                within(listener.y, speaker.y, config_.hearingRange) &&
                                within(listener.z, speaker.z, config_.hearingRange));
}

void WorldServer::handleChat(Client& client, const Message& message) {
    if (client.world.empty()) {
        refuse(client, message.type, SDK_RC_NOT_IN_WORLD);
        return;
    }
    if (message.text.empty() || !wire::isCleanText(message.text, false)) {
        refuse(client, message.type, SDK_RC_INVALID_TEXT);
        return;
    }
    Client* target = nullptr;
    if (message.type == MessageType::Whisper) {
        target = inWorld(message.session, client.world);
        if (target == nullptr || target == &client) {
            refuse(client, message.type, SDK_RC_NO_SUCH_SESSION);
            return;
        }
    }
    if (message.type == MessageType::Broadcast && client.citizen == 0 && !client.bot) {
        refuse(client, message.type, SDK_RC_NOT_ALLOWED);
        return;
    }
    // Only lines that would reach someone use up the allowance.
    if (!client.chatLines.take(clock_())) {
        refuse(client, message.type, SDK_RC_RATE_LIMITED);
        return;
    }
    Message chat;
    chat.type = MessageType::Chat;
    chat.session = client.session;
    chat.name = client.name;
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
    for (auto& [fd, other] : clients_) {
        if (&other != &client && other.world == client.world && !other.dropped &&
            (chat.chatType == 1 || hears(other, client))) {
            send(other, frame);
        }
    }
    if (observer_ != nullptr && chat.chatType == 0) {
        observer_->said(client.session, chat.text);
    }
}

void WorldServer::handleConsole(Client& client, const Message& message) {
    if (client.world.empty()) {
        refuse(client, message.type, SDK_RC_NOT_IN_WORLD);
        return;
    }
    if (!client.bot) {
        refuse(client, message.type, SDK_RC_NOT_ALLOWED);
        return;
    }
    if (!wire::isCleanConsoleText(message.text)) {
        refuse(client, message.type, SDK_RC_INVALID_TEXT);
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
        Client* target = inWorld(session, client.world);
        if (target != nullptr && target != &client) {
            send(*target, frame);
            if (observer_ != nullptr) {
                reached.push_back(session);
            }
        }
    }
    if (observer_ != nullptr && !reached.empty()) {
        observer_->consoleSent(client.session, message.red, message.green, message.blue,
                               message.text, reached);
    }
}

void WorldServer::send(Client& client, const Message& message) {
    frame_.clear();
    wire::encodeFrame(message, frame_);
    send(client, frame_);
}

void WorldServer::send(Client& client, const std::string& frame) {
    if (client.dropped) {
        return;
    }
    const std::size_t cost = client.output.costOf(frame.size());
    if (client.output.heldBytes() + cost > config_.maxOutputBytes) {
        log("connection " + std::to_string(client.fd) + " does not read its messages: dropped");
        drop(client);
        return;
    }
    while (heldOutput_ + cost > config_.maxTotalOutputBytes) {
        Client* biggest = biggestHolder();
        if (biggest == nullptr) {
            break;  // nothing to release: a budget smaller than one frame
        }
        log("connection " + std::to_string(biggest->fd) + " holds the most output (" +
            std::to_string(biggest->output.heldBytes()) + " bytes) of a full world: dropped");
        drop(*biggest);
        if (biggest == &client) {
            return;
        }
    }
    heldOutput_ += client.output.push(frame);
    // A client whose socket was full is written when the poller says it has
    // room, not tried again for every frame; one being closed gets its try.
    if ((client.interest & Poller::WRITE) == 0 || client.closing) {
        queueWrite(client);
    }
    peakHeldOutput_ = std::max(peakHeldOutput_, heldOutput_);
}

// Dropping the client furthest behind frees the most memory for one client
// lost, and it is the likeliest to be stuck: one that reads keeps little.
WorldServer::Client* WorldServer::biggestHolder() {
    Client* biggest = nullptr;
    for (auto& [fd, client] : clients_) {
        if (!client.dropped && !client.output.empty() &&
            (biggest == nullptr || client.output.heldBytes() > biggest->output.heldBytes())) {
            biggest = &client;
        }
    }
    return biggest;
}

void WorldServer::reply(Client& client, MessageType request, int code, int value) {
    Message m;
    m.type = MessageType::Reply;
    m.request = request;
    m.code = code;
    m.value = value;
    send(client, m);
}

void WorldServer::refuse(Client& client, MessageType request, int code) {
    Message m;
    m.type = MessageType::Error;
    m.request = request;
    m.code = code;
    send(client, m);
}

void WorldServer::refuseAndClose(Client& client, MessageType request, int code) {
    log("connection " + std::to_string(client.fd) + ": closing after error " +
            reasonWithWords(code));
    refuse(client, request, code);
    markClosing(client);
}

void WorldServer::leaveWorld(Client& client) {
    if (client.world.empty()) {
        return;
    }
    Message left;
    left.type = MessageType::AvatarLeft;
    left.session = client.session;
    left.name = client.name;
    std::string world;
    world.swap(client.world);
    std::string frame;
    wire::encodeFrame(left, frame);
    for (auto& [fd, other] : clients_) {
        if (&other != &client && other.world == world) {
            send(other, frame);
        }
    }
    if (observer_ != nullptr) {
        observer_->left(client.session);
    }
}

WorldServer::Client* WorldServer::inWorld(int session, const std::string& world) {
    auto found = sessions_.find(session);
    if (found == sessions_.end()) {
        return nullptr;
    }
    Client& client = clients_[found->second];
    return client.world == world && !client.dropped ? &client : nullptr;
}

void WorldServer::log(const std::string& line) const {
    if (config_.logToStderr) {
        logLine(line);
    }
}

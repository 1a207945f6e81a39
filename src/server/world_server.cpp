#include "server/world_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk/reason_codes.h"
#include "sdk/reason_text.h"
#include "protocol/monotonic_clock.h"
#include "server/server_log.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;
constexpr int ACCEPTS_PER_TURN = 64;
constexpr long long LINGER_MS = 2000;
constexpr int LINGER_CHECK_MS = 100;

bool within(int a, int b, int range) {
    std::int64_t difference = static_cast<std::int64_t>(a) - b;
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

WorldServer::WorldServer(ServerConfig config) : config_(std::move(config)) {
    if (config_.worlds.empty()) {
        config_.worlds.insert("welcome");
    }
}

WorldServer::~WorldServer() {
    for (auto& [fd, client] : clients_) {
        ::close(fd);
    }
    for (int fd : {listenFd_, wakeRead_, wakeWrite_, spareFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool WorldServer::start(std::string& error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(config_.port));
    if (::inet_pton(AF_INET, config_.address.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: " + config_.address;
        return false;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 512) != 0) {
        error = "cannot listen on " + config_.address + ":" + std::to_string(config_.port) + ": " +
                std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return true;
}

void WorldServer::stop() {
    stopRequested_ = true;
    char byte = 0;
    [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_, &byte, 1);
}

void WorldServer::run() {
    std::vector<pollfd> polled;
    while (!stopRequested_) {
        polled.clear();
        polled.push_back({wakeRead_, POLLIN, 0});
        polled.push_back({listenFd_, POLLIN, 0});
        if (guest_ != nullptr) {
            polled.push_back({guest_->fd(), POLLIN, 0});  // polled[2]
        }
        const std::size_t firstClient = polled.size();
        bool lingering = false;
        for (auto& [fd, client] : clients_) {
            short events = !client.closing || client.lingerUntilMs != 0 ? POLLIN : 0;
            if (!client.output.empty()) {
                events |= POLLOUT;
            }
            lingering = lingering || client.lingerUntilMs != 0;
            polled.push_back({fd, events, 0});
        }
        int timeout = lingering ? LINGER_CHECK_MS : -1;
        if (guest_ != nullptr) {
            const int guestTimeout = guest_->timeoutMs();
            timeout = timeout < 0 || (guestTimeout >= 0 && guestTimeout < timeout) ? guestTimeout
                                                                                   : timeout;
        }
        if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
            logLine(std::string("poll: ") + std::strerror(errno));
            return;
        }
        if (polled[0].revents != 0) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        if (polled[1].revents != 0) {
            acceptClients();
        }
        for (std::size_t i = firstClient; i < polled.size(); ++i) {
            auto found = clients_.find(polled[i].fd);
            if (found == clients_.end() || polled[i].revents == 0) {
                continue;
            }
            Client& client = found->second;
            if (client.lingerUntilMs != 0) {
                discardInput(client);
            } else if (!client.closing && !client.dropped &&
                       (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                readFrom(client);
            }
        }
        for (auto& [fd, client] : clients_) {
            if (!client.output.empty() && !client.dropped) {
                writeTo(client);
            }
        }
        removeClosedClients();
        if (guest_ != nullptr) {
            guest_->turn(polled[2].revents != 0);
        }
    }
}

void WorldServer::acceptClients() {
    for (int i = 0; i < ACCEPTS_PER_TURN; ++i) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE) && spareFd_ >= 0) {
            // Out of descriptors: take the waiting connection with the spare
            // one and close it, so the listener does not stay readable forever.
            ::close(spareFd_);
            fd = ::accept(listenFd_, nullptr, nullptr);
            ::close(fd);
            spareFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            logLine("out of file descriptors: refused a connection");
            continue;
        }
        if (fd < 0) {
            return;
        }
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char text[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        Client& client = clients_[fd];
        client.fd = fd;
        if (clients_.size() > config_.maxClients && activeClients() > config_.maxClients) {
            logLine("connection from " + std::string(text) + " refused: server full");
            refuseAndClose(client, MessageType::Hello, SDK_RC_SERVER_FULL);
            continue;
        }
        logLine("connection " + std::to_string(fd) + " from " + text + ":" +
                std::to_string(ntohs(peer.sin_port)));
    }
}

std::size_t WorldServer::activeClients() const {
    std::size_t active = 0;
    for (const auto& [fd, client] : clients_) {
        active += client.closing || client.dropped ? 0 : 1;
    }
    return active;
}

void WorldServer::readFrom(Client& client) {
    char buffer[READ_CHUNK];
    ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        client.dropped = true;
        return;
    }
    client.reader.append(buffer, static_cast<std::size_t>(n));
    std::string body;
    while (!client.closing && !client.dropped) {
        wire::FrameReader::Status status = client.reader.next(body);
        if (status == wire::FrameReader::Status::NeedMore) {
            return;
        }
        std::optional<Message> message;
        if (status == wire::FrameReader::Status::Frame) {
            message = wire::decodeBody(body);
        }
        if (!message) {
            logLine("connection " + std::to_string(client.fd) + ": malformed message, closing");
            refuseAndClose(client, MessageType::Hello, SDK_RC_PROTOCOL_ERROR);
            return;
        }
        handle(client, *message);
    }
}

void WorldServer::writeTo(Client& client) {
    while (!client.output.empty()) {
        ssize_t n = ::send(client.fd, client.output.data(), client.output.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            // A client being closed gets one try: it must not hold its
            // socket by never reading its last message.
            client.dropped = client.closing;
            return;
        }
        if (n <= 0) {
            client.dropped = true;
            return;
        }
        client.output.erase(0, static_cast<std::size_t>(n));
    }
}

void WorldServer::discardInput(Client& client) {
    char buffer[READ_CHUNK];
    ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        client.dropped = true;
    }
}

void WorldServer::removeClosedClients() {
    const long long now = nowMs();
    for (auto& [fd, client] : clients_) {
        if (client.closing && client.output.empty() && client.lingerUntilMs == 0 &&
            !client.dropped) {
            leaveWorld(client);
            ::shutdown(fd, SHUT_WR);
            client.lingerUntilMs = now + LINGER_MS;
        } else if (client.lingerUntilMs != 0 && now >= client.lingerUntilMs) {
            client.dropped = true;
        }
    }
    // Closing one client sends departures to others, which may drop them in
    // turn; repeat until no client is left to close.
    bool closedAny = true;
    while (closedAny) {
        closedAny = false;
        for (auto& [fd, client] : clients_) {
            if (client.dropped) {
                closeClient(fd);
                closedAny = true;
                break;
            }
        }
    }
}

void WorldServer::closeClient(int fd) {
    Client& client = clients_[fd];
    logLine("connection " + std::to_string(fd) + " closed" +
            (client.session != 0 ? " (session " + std::to_string(client.session) + ")" : ""));
    leaveWorld(client);
    sessions_.erase(client.session);
    ::close(fd);
    clients_.erase(fd);
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
        client.closing = true;
        return;
    }
    client.greeted = true;
    reply(client, MessageType::Hello, SDK_OK, wire::PROTOCOL_VERSION);
}

int WorldServer::loginCode(const Message& message) const {
    const std::size_t nameLimit =
        wire::MAX_NAME_BYTES - (message.kind == wire::LoginKind::Bot ? 2 : 0);
    if (message.name.empty() || !wire::isCleanText(message.name, false) ||
        (message.kind == wire::LoginKind::Avatar && message.name[0] == '[')) {
        return SDK_RC_INVALID_TEXT;
    }
    if (message.name.size() > nameLimit) {
        return SDK_RC_TEXT_TOO_LONG;
    }
    if (message.kind == wire::LoginKind::Avatar && message.citizen == 0) {
        return message.password.empty() ? SDK_OK : SDK_RC_BAD_CREDENTIALS;
    }
    auto citizen = config_.citizens.find(message.citizen);
    if (citizen == config_.citizens.end() || citizen->second != message.password) {
        return SDK_RC_BAD_CREDENTIALS;
    }
    return SDK_OK;
}

void WorldServer::handleLogin(Client& client, const Message& message) {
    int code = client.session != 0 ? SDK_RC_ALREADY_LOGGED_IN : loginCode(message);
    if (code != SDK_OK) {
        logLine("connection " + std::to_string(client.fd) + ": login as citizen " +
                std::to_string(message.citizen) + " refused: " + reasonWithWords(code));
        reply(client, MessageType::Login, code);
        return;
    }
    client.session = nextSession_++;
    sessions_[client.session] = client.fd;
    client.citizen = message.citizen;
    client.bot = message.kind == wire::LoginKind::Bot;
    client.hearAll = message.hearAll != 0;
    client.name = client.bot ? "[" + message.name + "]" : message.name;
    logLine("connection " + std::to_string(client.fd) + " logged in: session " +
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
    for (auto& [fd, other] : clients_) {
        if (&other == &client || other.world != client.world || other.dropped) {
            continue;
        }
        send(client,
             avatarArrived(other.session, other.citizen, other.name, other.x, other.y, other.z));
        send(other, avatarArrived(client.session, client.citizen, client.name, 0, 0, 0));
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
    for (auto& [fd, other] : clients_) {
        if (&other != &client && other.world == client.world && !other.dropped) {
            send(other, moved);
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
    Message chat;
    chat.type = MessageType::Chat;
    chat.session = client.session;
    chat.name = client.name;
    chat.text = message.text;
    if (message.type == MessageType::Whisper) {
        Client* target = inWorld(message.session, client.world);
        if (target == nullptr || target == &client) {
            refuse(client, message.type, SDK_RC_NO_SUCH_SESSION);
            return;
        }
        chat.chatType = 2;
        send(*target, chat);
        return;
    }
    if (message.type == MessageType::Broadcast && client.citizen == 0 && !client.bot) {
        refuse(client, message.type, SDK_RC_NOT_ALLOWED);
        return;
    }
    chat.chatType = message.type == MessageType::Broadcast ? 1 : 0;
    for (auto& [fd, other] : clients_) {
        if (&other != &client && other.world == client.world && !other.dropped &&
            (chat.chatType == 1 || hears(other, client))) {
            send(other, chat);
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
    // Sessions that have left meanwhile are passed over: the sender could not
    // have known, and nothing is lost that anyone could still receive.
    std::vector<int> reached;
    for (std::int32_t session : message.targets) {
        Client* target = inWorld(session, client.world);
        if (target != nullptr && target != &client) {
            send(*target, console);
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
    if (client.dropped) {
        return;
    }
    wire::encodeFrame(message, client.output);
    if (client.output.size() > config_.maxOutputBytes) {
        logLine("connection " + std::to_string(client.fd) + " does not read its messages: dropped");
        client.output.clear();
        client.dropped = true;
    }
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
    logLine("connection " + std::to_string(client.fd) + ": closing after error " +
            reasonWithWords(code));
    refuse(client, request, code);
    client.closing = true;
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
    for (auto& [fd, other] : clients_) {
        if (&other != &client && other.world == world) {
            send(other, left);
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

#include "support/pair_client.h"

#include "platform/net.h"
#include "support/test_avatar.h"

using wire::Message;
using wire::MessageType;

void serveTurns(WorldServer& server, int turns) {
    for (int i = 0; i < turns; ++i) {
        server.serveOnce(0);
    }
}

PairClient::PairClient(WorldServer& server, int serverSendBuffer, std::uint32_t address)
    : server_(server) {
    // Over TCP (the socket pair on Windows) the receiver's buffer holds
    // output too: both ends are kept as small, so that output still waits
    // in the server soon.
    int ends[2];
    if (!net::socketPair(ends, serverSendBuffer)) {
        closed_ = true;
        return;
    }
    net::setNonBlocking(ends[0]);
    fd_ = ends[0];
    server_.adoptClient(ends[1], address);
}

PairClient::~PairClient() {
    net::close(fd_);
}

void PairClient::send(const Message& message) {
    queue(message);
    flush();
}

void PairClient::queue(const Message& message) {
    wire::encodeFrame(message, unsent_);
}

bool PairClient::flush() {
    while (!unsent_.empty()) {
        const long n = net::send(fd_, unsent_.data(), unsent_.size());
        if (n <= 0) {
            return false;
        }
        unsent_.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

int PairClient::request(const Message& message, int* value) {
    const std::size_t before = received().size();
    send(message);
    serveTurns(server_);
    const std::vector<Message>& all = received();
    for (std::size_t i = before; i < all.size(); ++i) {
        if ((all[i].type == MessageType::Reply || all[i].type == MessageType::Error) &&
            all[i].request == message.type) {
            if (value != nullptr) {
                *value = all[i].value;
            }
            return all[i].code;
        }
    }
    return -1;
}

int PairClient::join(const std::string& name, int citizen, const std::string& password, bool bot,
                     const std::string& world, std::uint16_t version) {
    Message hello;
    hello.type = MessageType::Hello;
    hello.version = version;
    int rc = request(hello);
    if (rc != 0) {
        return rc;
    }
    Message login;
    login.type = MessageType::Login;
    login.kind = bot ? wire::LoginKind::Bot : wire::LoginKind::Avatar;
    login.citizen = citizen;
    login.password = password;
    login.name = name;
    rc = request(login, &session_);
    if (rc != 0 || world.empty()) {
        return rc;
    }
    Message enter;
    enter.type = MessageType::Enter;
    enter.name = world;
    return request(enter);
}

void PairClient::receive() {
    char buffer[4096];
    long n = -1;
    while (fd_ >= 0 && (n = net::receive(fd_, buffer, sizeof buffer)) > 0) {
        reader_.append(buffer, static_cast<std::size_t>(n));
        std::string body;
        while (reader_.next(body) == wire::FrameReader::Status::Frame) {
            received_.push_back(wire::decodeBody(body).value_or(Message{}));
        }
    }
    closed_ = closed_ || n == 0;
}

const std::vector<Message>& PairClient::received() {
    receive();
    return received_;
}

std::vector<Message> PairClient::receivedOfType(MessageType type) {
    return messagesOfType(received(), type);
}

bool PairClient::closed() {
    receive();
    return closed_;
}

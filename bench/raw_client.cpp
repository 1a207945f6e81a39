#include "raw_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

using wire::Message;
using wire::MessageType;

std::uint32_t loopbackAddress(int a, int b, int c) {
    return (127u << 24) | (static_cast<std::uint32_t>(a) << 16) |
           (static_cast<std::uint32_t>(b) << 8) | static_cast<std::uint32_t>(c);
}

bool RawClient::open(std::uint32_t local, int port, int receiveBuffer) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(local);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(0x7f000001);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Closed with a reset: a flood of connections leaves no port waiting
    // out TIME_WAIT, and the ports of one address last.
    const linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close();
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return true;
}

void RawClient::close() {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
    closed = true;
}

void RawClient::send(const Message& message) {
    wire::encodeFrame(message, unsent);
    flush();
}

bool RawClient::flush() {
    while (!unsent.empty() && fd >= 0) {
        const ssize_t n = ::send(fd, unsent.data(), unsent.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                close();
            }
            return false;
        }
        unsent.erase(0, static_cast<std::size_t>(n));
    }
    return unsent.empty();
}

void RawClient::receive(std::vector<Message>* into, MessageType only) {
    char buffer[65536];
    while (fd >= 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            close();
            return;
        }
        if (n < 0) {
            return;
        }
        reader.append(buffer, static_cast<std::size_t>(n));
        std::string body;
        while (reader.next(body) == wire::FrameReader::Status::Frame) {
            if (into != nullptr &&
                (only == static_cast<MessageType>(0) ||
                 static_cast<MessageType>(static_cast<unsigned char>(body[0])) == only)) {
                into->push_back(wire::decodeBody(body).value_or(Message{}));
            }
        }
    }
}

void sendJoin(RawClient& client, const std::string& name, int x, int z, int citizen,
              const std::string& password) {
    Message hello;
    hello.type = MessageType::Hello;
    client.send(hello);
    Message login;
    login.type = MessageType::Login;
    login.citizen = citizen;
    login.password = password;
    login.name = name;
    client.send(login);
    Message enter;
    enter.type = MessageType::Enter;
    enter.name = "welcome";
    client.send(enter);
    Message state;
    state.type = MessageType::State;
    state.x = x;
    state.z = z;
    client.send(state);
}

Message sayMessage(const std::string& text) {
    Message m;
    m.type = MessageType::Say;
    m.text = text;
    return m;
}

// The floor under the world's fan-out: a process of its own that accepts TCP
// connections on loopback and writes encoded frames to them as fast as the
// kernel takes them, with nothing in between: no protocol, no lookups, the
// same bytes copied into every socket, one write per socket for what is due.
// The benchmarks time the same message to the same number of sockets through
// it and through the real world, and give the ratio.
//
//   tintbeacon_raw_fanout --connections N [--console TEXT] [--chat NAME TEXT]...
//       Frames in the order given: a console message of the text (as the bot
//       relays a line), a broadcast of NAME (as the world delivers one). Once
//       N connections are in it prints "ready"; then for every byte K that a
//       connection sends, the K-th frame is written to all the others.
//   tintbeacon_raw_fanout --join NAME
//       The bytes of a join: every connection accepted is sent three replies,
//       an arrival (of NAME) for each connection accepted before it and a
//       fourth reply, and each one before it is sent a move and an arrival.
//
// It prints "listening on 127.0.0.1:PORT" first and runs until it is stopped.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/poller.h"
#include "protocol/wire_message.h"

using wire::Message;
using wire::MessageType;

namespace {

// Frames of a join written by one call, at most.
constexpr std::size_t FRAMES_PER_WRITE = 1024;

struct Peer {
    int fd = -1;
    long long index = 0;       // in the order of acceptance
    std::string pending;       // bytes its socket has not taken yet, first out
    long long rosterLeft = 0;  // join: arrivals of those before it still to write
    bool lastReplySent = false;
    long long laterWritten = 0;  // join: moves and arrivals of later ones written
    bool blocked = false;        // its socket is full: not written until it is writable
    bool watching = false;       // watched for room to write
};

struct Settings {
    long long connections = 0;
    std::vector<std::string> frames;
    bool join = false;
    std::string joinName;
};

std::string frameOf(const Message& message) {
    std::string frame;
    if (!wire::encodeFrame(message, frame)) {
        std::fprintf(stderr, "a frame's text is too long\n");
        std::exit(2);
    }
    return frame;
}

Message reply(MessageType request, int value) {
    Message m;
    m.type = MessageType::Reply;
    m.request = request;
    m.value = value;
    return m;
}

bool parse(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const int left = argc - i - 1;
        if (arg == "--connections" && left >= 1) {
            settings.connections = std::atoll(argv[++i]);
        } else if (arg == "--console" && left >= 1) {
            Message m;
            m.type = MessageType::ConsoleMessage;
            m.text = argv[++i];
            settings.frames.push_back(frameOf(m));
        } else if (arg == "--chat" && left >= 2) {
            Message m;
            m.type = MessageType::Chat;
            m.session = 1;
            m.name = argv[++i];
            m.text = argv[++i];
            m.chatType = 1;
            settings.frames.push_back(frameOf(m));
        } else if (arg == "--join" && left >= 1) {
            settings.join = true;
            settings.joinName = argv[++i];
        } else {
            return false;
        }
    }
    return settings.join != (settings.connections > 0 && !settings.frames.empty());
}

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    port = ntohs(address.sin_port);
    return fd;
}

class Fanout {
  public:
    explicit Fanout(const Settings& settings) : settings_(settings) {
        Message arrival;
        arrival.type = MessageType::AvatarArrived;
        arrival.session = 1;
        arrival.name = settings.joinName;
        Message moved;
        moved.type = MessageType::AvatarMoved;
        moved.session = 1;
        moved.x = 50000;
        arrivalBytes_ = frameOf(arrival).size();
        laterBytes_ = frameOf(moved).size() + arrivalBytes_;
        for (std::size_t i = 0; i < FRAMES_PER_WRITE; ++i) {
            arrivals_ += frameOf(arrival);
            laters_ += frameOf(moved) + frameOf(arrival);
        }
        firstReplies_ = frameOf(reply(MessageType::Hello, 1)) +
                        frameOf(reply(MessageType::Login, 1)) +
                        frameOf(reply(MessageType::Enter, 0));
        lastReply_ = frameOf(reply(MessageType::State, 0));
    }

    int run() {
        int port = 0;
        listener_ = listenOnLoopback(port);
        std::printf("listening on 127.0.0.1:%d\n", port);
        std::fflush(stdout);
        if (!poller_.ok() || !poller_.add(listener_, Poller::READ)) {
            std::fprintf(stderr, "poller: %s\n", poller_.error().c_str());
            return 1;
        }
        std::vector<Poller::Event> ready;
        while (poller_.wait(-1, ready)) {
            for (const Poller::Event& event : ready) {
                if (event.fd == listener_) {
                    acceptAll();
                    continue;
                }
                if (event.writable && event.fd < static_cast<int>(peers_.size())) {
                    peers_[static_cast<std::size_t>(event.fd)].blocked = false;
                }
                std::string batch;
                if (event.readable && readTriggers(event.fd, batch) && !batch.empty()) {
                    fanOut(batch, event.fd);
                }
            }
            writeAll();
        }
        return 1;
    }

  private:
    void acceptAll() {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
            if (fd < 0) {
                return;
            }
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (static_cast<std::size_t>(fd) >= peers_.size()) {
                peers_.resize(static_cast<std::size_t>(fd) + 1);
            }
            Peer& peer = peers_[static_cast<std::size_t>(fd)];
            peer = Peer{};
            peer.fd = fd;
            peer.index = static_cast<long long>(order_.size());
            if (settings_.join) {
                peer.pending = firstReplies_;
                peer.rosterLeft = peer.index;
            }
            order_.push_back(fd);
            poller_.add(fd, Poller::READ);
            if (!settings_.join && static_cast<long long>(order_.size()) == settings_.connections) {
                std::printf("ready\n");
                std::fflush(stdout);
            }
        }
    }

    // Reads what the connection sent: each byte names a frame to fan out,
    // added to `batch`. False when the connection is gone.
    bool readTriggers(int fd, std::string& batch) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                drop(fd);
                return false;
            }
            if (n < 0) {
                return true;
            }
            for (ssize_t i = 0; i < n; ++i) {
                const auto k = static_cast<unsigned char>(buffer[i]);
                if (k < settings_.frames.size()) {
                    batch += settings_.frames[k];
                }
            }
        }
    }

    void fanOut(const std::string& batch, int sender) {
        for (int fd : order_) {
            if (fd != sender && fd >= 0) {
                peers_[static_cast<std::size_t>(fd)].pending += batch;
            }
        }
    }

    // Writes what each connection that is not blocked is owed.
    void writeAll() {
        const long long accepted = static_cast<long long>(order_.size());
        for (int fd : order_) {
            if (fd < 0) {
                continue;
            }
            Peer& peer = peers_[static_cast<std::size_t>(fd)];
            if (peer.blocked) {
                continue;
            }
            bool room = writePending(peer);
            if (settings_.join) {
                while (room && peer.rosterLeft > 0) {
                    room = writeRepeated(peer, arrivals_, arrivalBytes_, peer.rosterLeft);
                }
                if (room && !peer.lastReplySent) {
                    peer.lastReplySent = true;
                    peer.pending += lastReply_;
                    room = writePending(peer);
                }
                long long later = accepted - 1 - peer.index - peer.laterWritten;
                while (room && later > 0) {
                    const long long before = later;
                    room = writeRepeated(peer, laters_, laterBytes_, later);
                    peer.laterWritten += before - later;
                }
            }
            peer.blocked = !room;
            if (peer.watching != !room) {
                peer.watching = !room;
                poller_.modify(fd, room ? Poller::READ : Poller::READ | Poller::WRITE);
            }
        }
    }

    // False when the socket took less than all.
    bool writePending(Peer& peer) {
        while (!peer.pending.empty()) {
            const ssize_t n =
                ::send(peer.fd, peer.pending.data(), peer.pending.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            peer.pending.erase(0, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Writes up to `owed` units of `unit` bytes from `block` in one call; a
    // unit the socket took in part is finished through `pending`. False when
    // the socket took less than was offered.
    bool writeRepeated(Peer& peer, const std::string& block, std::size_t unit, long long& owed) {
        const std::size_t units = static_cast<std::size_t>(
            std::min<long long>(owed, static_cast<long long>(block.size() / unit)));
        const ssize_t n = ::send(peer.fd, block.data(), units * unit, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        const std::size_t sent = static_cast<std::size_t>(n);
        const std::size_t begun = (sent + unit - 1) / unit;
        owed -= static_cast<long long>(begun);
        if (sent % unit != 0) {
            peer.pending.assign(block, sent, begun * unit - sent);
            return false;
        }
        return sent == units * unit;
    }

    void drop(int fd) {
        poller_.remove(fd);
        ::close(fd);
        Peer& peer = peers_[static_cast<std::size_t>(fd)];
        order_[static_cast<std::size_t>(peer.index)] = -1;
        peer = Peer{};
    }

    const Settings& settings_;
    Poller poller_;
    int listener_ = -1;
    std::vector<Peer> peers_;  // by descriptor
    std::vector<int> order_;   // descriptors in the order of acceptance; -1 once gone
    std::string arrivals_, laters_, firstReplies_, lastReply_;
    std::size_t arrivalBytes_ = 0, laterBytes_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: tintbeacon_raw_fanout --connections N [--console TEXT] "
                     "[--chat NAME TEXT]...\n"
                     "       tintbeacon_raw_fanout --join NAME\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    Fanout fanout(settings);
    return fanout.run();
}

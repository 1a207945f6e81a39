#include "support/freezing_proxy.h"

#include "platform/net.h"

namespace {

// Bytes held per direction before the proxy stops reading that side.
constexpr std::size_t HOLD_BYTES = 1024 * 1024;

// Writes what the socket takes now; false when it failed.
bool writeSome(int fd, std::string& bytes) {
    while (!bytes.empty()) {
        const long n = net::send(fd, bytes.data(), bytes.size());
        if (n == net::AGAIN) {
            return true;
        }
        if (n <= 0) {
            return false;
        }
        bytes.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

// Reads what the socket has into `into`; false at its end or failure.
bool readSome(int fd, std::string& into) {
    char buffer[64 * 1024];
    while (into.size() < HOLD_BYTES) {
        const long n = net::receive(fd, buffer, sizeof buffer);
        if (n == net::AGAIN) {
            return true;
        }
        if (n <= 0) {
            return false;
        }
        into.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

FreezingProxy::FreezingProxy(int targetPort) : targetPort_(targetPort) {
    int ends[2];
    // A backlog deep enough that a client connecting while frozen is
    // connected at once, as far as it can tell, and never refused.
    listener_ = net::listenOn(net::LOOPBACK, 0, 64);
    port_ = listener_ >= 0 ? net::localPort(listener_) : 0;
    if (port_ == 0 || !net::socketPair(ends) || !net::setNonBlocking(ends[0])) {
        port_ = 0;
        return;
    }
    wakeRead_ = ends[0];
    wakeWrite_ = ends[1];
    net::setNonBlocking(listener_);
    thread_ = std::thread([this] { run(); });
}

FreezingProxy::~FreezingProxy() {
    stop_ = true;
    wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    for (Pair& pair : pairs_) {
        net::close(pair.client);
        net::close(pair.upstream);
    }
    for (int fd : {listener_, wakeRead_, wakeWrite_}) {
        net::close(fd);
    }
}

void FreezingProxy::freeze() {
    frozen_ = true;
    wake();
}

void FreezingProxy::thaw() {
    frozen_ = false;
    wake();
}

void FreezingProxy::wake() {
    if (wakeWrite_ >= 0) {
        char byte = 0;
        net::send(wakeWrite_, &byte, 1);
    }
}

void FreezingProxy::acceptOne() {
    const int client = net::accept(listener_, true);
    if (client < 0) {
        return;
    }
    const int upstream = net::connectBlocking(net::LOOPBACK, targetPort_);
    if (upstream < 0 || !net::setNonBlocking(upstream)) {
        net::close(client);
        net::close(upstream);
        return;
    }
    ++accepted_;
    pairs_.push_back(Pair{client, upstream, {}, {}});
}

bool FreezingProxy::serve(Pair& pair, bool clientReadable, bool upstreamReadable) {
    if (clientReadable && !readSome(pair.client, pair.toUpstream)) {
        writeSome(pair.upstream, pair.toUpstream);  // what came before the end still goes
        return false;
    }
    if (upstreamReadable && !readSome(pair.upstream, pair.toClient)) {
        writeSome(pair.client, pair.toClient);
        return false;
    }
    return writeSome(pair.upstream, pair.toUpstream) && writeSome(pair.client, pair.toClient);
}

void FreezingProxy::run() {
    while (!stop_) {
        const bool frozen = frozen_;
        net::PollEntry entries[net::MAX_POLL_ENTRIES];
        int count = 0;
        entries[count].fd = wakeRead_;
        entries[count++].wantRead = true;
        if (!frozen) {
            entries[count].fd = listener_;
            entries[count++].wantRead = true;
            for (const Pair& pair : pairs_) {
                if (count + 2 > net::MAX_POLL_ENTRIES) {
                    break;
                }
                entries[count].fd = pair.client;
                entries[count].wantRead = pair.toUpstream.size() < HOLD_BYTES;
                entries[count++].wantWrite = !pair.toClient.empty();
                entries[count].fd = pair.upstream;
                entries[count].wantRead = pair.toClient.size() < HOLD_BYTES;
                entries[count++].wantWrite = !pair.toUpstream.empty();
            }
        }
        if (net::poll(entries, count, 1000) < 0) {
            return;
        }
        char drain[64];
        while (net::receive(wakeRead_, drain, sizeof drain) > 0) {
        }
        if (frozen || frozen_) {
            continue;
        }
        if (entries[1].readable) {
            acceptOne();
        }
        for (std::size_t i = 0, at = 2; i < pairs_.size(); ++i, at += 2) {
            Pair& pair = pairs_[i];
            const bool watched = static_cast<int>(at) + 1 < count;
            if (!serve(pair, watched && entries[at].readable,
                       watched && entries[at + 1].readable)) {
                net::close(pair.client);
                net::close(pair.upstream);
                pair.client = pair.upstream = -1;
            }
        }
        std::erase_if(pairs_, [](const Pair& pair) { return pair.client < 0; });
    }
}

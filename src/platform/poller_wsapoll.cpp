// winsock2.h must come before windows.h.
// clang-format off
#include <winsock2.h>

#include <windows.h>
// clang-format on

#include <unordered_map>

#include "platform/net.h"
#include "platform/poller.h"

// The watched sockets in one array for WSAPoll, with where each one sits; a
// removed one's place is taken by the last, so the array stays dense.
struct Poller::State {
    bool started = false;
    std::vector<WSAPOLLFD> watched;
    std::unordered_map<int, std::size_t> places;
};

namespace {

SHORT pollEvents(unsigned interest) {
    SHORT events = 0;
    if ((interest & Poller::READ) != 0) {
        events |= POLLRDNORM;
    }
    if ((interest & Poller::WRITE) != 0) {
        events |= POLLWRNORM;
    }
    return events;
}

}  // namespace

Poller::Poller() : state_(std::make_unique<State>()) {
    state_->started = net::start();
    if (!state_->started) {
        error_ = "WSAStartup: " + net::lastError();
    }
}

Poller::~Poller() = default;

bool Poller::ok() const {
    return state_->started;
}

bool Poller::add(int fd, unsigned interest) {
    if (fd < 0 || state_->places.count(fd) != 0) {
        error_ =
            "poller add: socket " + std::to_string(fd) + (fd < 0 ? " invalid" : " watched already");
        return false;
    }
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(fd);
    entry.events = pollEvents(interest);
    state_->places[fd] = state_->watched.size();
    state_->watched.push_back(entry);
    return true;
}

bool Poller::modify(int fd, unsigned interest) {
    const auto found = state_->places.find(fd);
    if (found == state_->places.end()) {
        error_ = "poller modify: socket " + std::to_string(fd) + " not watched";
        return false;
    }
    state_->watched[found->second].events = pollEvents(interest);
    return true;
}

void Poller::remove(int fd) {
    const auto found = state_->places.find(fd);
    if (found == state_->places.end()) {
        return;
    }
    const std::size_t place = found->second;
    state_->places.erase(found);
    if (place + 1 != state_->watched.size()) {
        state_->watched[place] = state_->watched.back();
        state_->places[static_cast<int>(state_->watched[place].fd)] = place;
    }
    state_->watched.pop_back();
}

bool Poller::wait(int timeoutMs, std::vector<Event>& ready) {
    ready.clear();
    std::vector<WSAPOLLFD>& watched = state_->watched;
    if (watched.empty()) {
        net::poll(nullptr, 0, timeoutMs);  // WSAPoll refuses an empty set
        return true;
    }
    for (WSAPOLLFD& entry : watched) {
        entry.revents = 0;
    }
    const int count = ::WSAPoll(watched.data(), static_cast<ULONG>(watched.size()), timeoutMs);
    if (count == SOCKET_ERROR) {
        if (::WSAGetLastError() == WSAEINTR) {
            return true;
        }
        error_ = "WSAPoll: " + net::lastError();
        return false;
    }
    for (const WSAPOLLFD& entry : watched) {
        if (ready.size() == static_cast<std::size_t>(count)) {
            break;
        }
        if (entry.revents == 0) {
            continue;
        }
        Event event;
        event.fd = static_cast<int>(entry.fd);
        event.readable = (entry.revents & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
        event.writable = (entry.revents & (POLLWRNORM | POLLERR)) != 0;
        ready.push_back(event);
    }
    return true;
}

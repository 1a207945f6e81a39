#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/poller.h"

struct Poller::State {
    int handle = -1;
    int watched = 0;  // descriptors added and not removed
    std::vector<epoll_event> events;
};

namespace {

std::uint32_t epollEvents(unsigned interest) {
    // Level-triggered: a descriptor not fully served in one turn is reported
    // again in the next, so a turn may stop reading at any budget.
    std::uint32_t events = 0;
    if ((interest & Poller::READ) != 0) {
        events |= EPOLLIN | EPOLLRDHUP;
    }
    if ((interest & Poller::WRITE) != 0) {
        events |= EPOLLOUT;
    }
    return events;
}

}  // namespace

Poller::Poller() : state_(std::make_unique<State>()) {
    state_->handle = ::epoll_create1(EPOLL_CLOEXEC);
    if (state_->handle < 0) {
        error_ = std::string("epoll_create1: ") + std::strerror(errno);
    }
}

Poller::~Poller() {
    if (state_->handle >= 0) {
        ::close(state_->handle);
    }
}

bool Poller::ok() const {
    return state_->handle >= 0;
}

bool Poller::add(int fd, unsigned interest) {
    epoll_event event{};
    event.events = epollEvents(interest);
    event.data.fd = fd;
    if (::epoll_ctl(state_->handle, EPOLL_CTL_ADD, fd, &event) != 0) {
        error_ = std::string("epoll_ctl add: ") + std::strerror(errno);
        return false;
    }
    ++state_->watched;
    return true;
}

bool Poller::modify(int fd, unsigned interest) {
    epoll_event event{};
    event.events = epollEvents(interest);
    event.data.fd = fd;
    if (::epoll_ctl(state_->handle, EPOLL_CTL_MOD, fd, &event) != 0) {
        error_ = std::string("epoll_ctl modify: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void Poller::remove(int fd) {
    if (::epoll_ctl(state_->handle, EPOLL_CTL_DEL, fd, nullptr) == 0) {
        --state_->watched;
    }
}

bool Poller::wait(int timeoutMs, std::vector<Event>& ready) {
    // Room for every watched descriptor, so that all that are ready are
    // served in one turn.
    const int maxEvents = std::max(state_->watched, 1);
    std::vector<epoll_event>& events = state_->events;
    events.resize(static_cast<std::size_t>(maxEvents));
    ready.clear();
    const int count = ::epoll_wait(state_->handle, events.data(), maxEvents, timeoutMs);
    if (count < 0) {
        if (errno == EINTR) {
            return true;
        }
        error_ = std::string("epoll_wait: ") + std::strerror(errno);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const std::uint32_t got = events[static_cast<std::size_t>(i)].events;
        Event event;
        event.fd = events[static_cast<std::size_t>(i)].data.fd;
        event.readable = (got & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
        event.writable = (got & (EPOLLOUT | EPOLLERR)) != 0;
        ready.push_back(event);
    }
    return true;
}

#pragma once

// Readiness of many descriptors at once, for the world server's one thread
// and the avatar fleet's. Descriptors are registered once with the events
// they are wanted for and changed only when that interest changes; on Linux
// (poller_epoll.cpp) a wait then costs in proportion to the descriptors that
// are ready, not to all that are open. On Windows (poller_wsapoll.cpp) it
// watches sockets only, and a wait looks at every one watched.

#include <memory>
#include <string>
#include <vector>

class Poller {
  public:
    // What a descriptor is watched for (bits).
    static constexpr unsigned READ = 1;
    static constexpr unsigned WRITE = 2;

    struct Event {
        int fd = -1;
        bool readable = false;  // input, end of input, or an error to read
        bool writable = false;  // room to write, or an error to find by writing
    };

    // Opens the poller; ok() tells whether that worked.
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    bool ok() const;
    // Why opening or the last failed call failed.
    const std::string& error() const { return error_; }

    // Starts watching `fd` for `interest` (0 is allowed: hang-ups and errors
    // are reported anyway, as readable). False when the system refuses.
    bool add(int fd, unsigned interest);
    // Changes what a watched `fd` is watched for.
    bool modify(int fd, unsigned interest);
    // Stops watching `fd`; call before closing it.
    void remove(int fd);
    // Waits up to `timeoutMs` (-1: without end) for watched descriptors to be
    // ready and replaces `ready` with all of them. An interrupted wait returns
    // true with nothing ready; false when waiting failed.
    bool wait(int timeoutMs, std::vector<Event>& ready);

  private:
    struct State;  // the system's side, defined by each implementation
    std::unique_ptr<State> state_;
    std::string error_;
};

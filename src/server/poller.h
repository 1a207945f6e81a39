#pragma once

// Readiness of many descriptors at once, for the world server's one thread.
// Descriptors are registered once with the events they are wanted for and
// changed only when that interest changes, so that a wait costs in proportion
// to the descriptors that are ready, not to all that are open. The Linux
// implementation is poller_epoll.cpp; another system can put its own behind
// this header.

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

    bool ok() const { return handle_ >= 0; }
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
    int handle_ = -1;
    int watched_ = 0;  // descriptors added and not removed
    std::string error_;
};

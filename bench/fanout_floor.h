#pragma once

// The floor beside a benchmark's time: the same message, or the same bytes
// of a join, written to as many sockets by `tintbeacon_raw_fanout` (a child
// process, with no world in between), and timed at its receivers here, over
// loopback TCP, read the way the avatar fleet reads them.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "avatar/frame_scan.h"
#include "e2e/child_process.h"
#include "latency_histogram.h"
#include "platform/poller.h"

// The tool as a child process, in a scratch directory of its own that goes
// with it.
class RawFanoutTool {
  public:
    RawFanoutTool() = default;
    ~RawFanoutTool();
    RawFanoutTool(const RawFanoutTool&) = delete;
    RawFanoutTool& operator=(const RawFanoutTool&) = delete;

    // Starts it with the arguments; its port, or 0 (with a message on
    // standard error) when it does not start listening.
    int start(const std::vector<std::string>& args);
    // Waits for it to print "ready"; false when it does not in timeoutMs.
    bool awaitReady(int timeoutMs) const;
    pid_t pid() const { return child_.pid(); }

  private:
    std::filesystem::path dir_;
    ChildProcess child_;
};

class FanoutFloor {
  public:
    FanoutFloor() = default;
    ~FanoutFloor();
    FanoutFloor(const FanoutFloor&) = delete;
    FanoutFloor& operator=(const FanoutFloor&) = delete;

    // Starts the tool with its frame options (e.g. {"--console", TEXT},
    // numbered in their order) and connects a sender and `receivers`
    // receivers to it. False with a message on standard error when that fails.
    bool start(std::size_t receivers, const std::vector<std::string>& frameOptions);
    // Has the tool write frame `frame` to every receiver once; the
    // milliseconds until the last one has all of it, or -1 after timeoutMs.
    double fanOutMs(int frame, int timeoutMs);

    struct Stream {
        long long lines = 0;
        long long copies = 0;      // received, of lines * receivers
        LatencyHistogram latency;  // of every copy, from its line's sending
    };
    // Has the tool write frame `frame` at `rate` a second for `seconds`, then
    // reads for at most drainMs more.
    Stream stream(int frame, int rate, double seconds, int drainMs);

    pid_t toolPid() const { return tool_.pid(); }
    std::size_t receivers() const { return receivers_.size(); }

  private:
    struct Receiver {
        int fd = -1;
        long long frames = 0;
        FrameScanner scanner;
    };
    // Reads every receiver that is ready within timeoutMs; `onFrame` gets the
    // receiver and the number of its frame, from 0.
    template <typename OnFrame>
    bool readReady(int timeoutMs, OnFrame&& onFrame);
    bool trigger(const std::string& frames);

    RawFanoutTool tool_;
    Poller poller_;
    int sender_ = -1;
    std::vector<Receiver> receivers_;
    std::vector<std::size_t> byFd_;
    std::vector<char> buffer_;
    std::vector<Poller::Event> ready_;  // scratch for the poller, kept as the fleet keeps it
    long long rounds_ = 0;  // frames written to every receiver so far
};

// The bytes of a join of `avatars`, sent raw (see `tintbeacon_raw_fanout
// --join`), taken by as many connections here, at most as many joining at
// once as the avatar fleet lets; the seconds until every one has its fourth
// reply, as the fleet counts a join, or -1 after timeoutMs.
double rawJoinSeconds(std::size_t avatars, const std::string& name, int timeoutMs);

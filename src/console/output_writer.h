#pragma once

// Text written by a thread of its own, so that a reader that stalls or goes
// away never holds up the writer's caller. Lines are handed over whole and
// leave in the order given, byte for byte. What the reader does not take is
// held up to a bound; a line that would pass it is skipped whole and
// counted. A failed write loses what it held and is told once; a later write
// that works again is told too.
//
// Lines come in bursts (a busy world says thousands a second), so the thread,
// once woken, gathers what follows for GATHER_MS before it writes: a burst
// costs one wake-up and one write, not one per line. Whoever waits for the
// text to be written (drain) ends the gathering at once.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class OutputWriter {
  public:
    // Writes all the bytes, waiting as long as the reader takes; false when
    // they cannot be written.
    using Sink = std::function<bool(const char* data, std::size_t size)>;
    static constexpr int GATHER_MS = 5;
    // Gathered text past this leaves without waiting for the rest of the window.
    static constexpr std::size_t GATHER_BYTES = 64 * 1024;
    // What the writer tells, from its own thread; none may hand text to it.
    struct Notices {
        std::function<void()> failed;                       // the first failure of a run
        std::function<void(long long lines)> workingAgain;  // lines lost meanwhile
        std::function<void(long long lines)> skipped;       // when the reader takes text again
    };

    OutputWriter(Sink sink, std::size_t holdBytes, Notices notices);
    // Waits for the thread, which must not be stuck in the sink.
    ~OutputWriter();
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;

    // Hands over one whole line (its line end included). False when it would
    // pass the bound: the line is skipped, and counted.
    bool write(const std::string& line);
    // Waits until everything handed over has been written (or failed), at
    // most `timeoutMs`; true when nothing is left.
    bool drain(int timeoutMs);

  private:
    void run();

    Sink sink_;
    const std::size_t holdBytes_;
    Notices notices_;
    std::mutex mutex_;
    std::condition_variable work_;     // text waits, or the writer is to stop
    std::condition_variable drained_;  // nothing is held any more
    std::string pending_;              // handed over, not yet taken by the thread
    std::size_t held_ = 0;             // pending_ and what the thread writes now
    long long skipped_ = 0;            // lines skipped since the last report
    long long lost_ = 0;               // lines of failed writes since the first failure
    bool failing_ = false;
    bool idle_ = false;   // the thread waits for text and nobody woke it yet
    bool hurry_ = false;  // somebody waits for the text: write it now
    bool stop_ = false;
    std::thread thread_;
};

#include "console/output_writer.h"

#include <algorithm>
#include <chrono>

OutputWriter::OutputWriter(Sink sink, std::size_t holdBytes, Notices notices)
    : sink_(std::move(sink)), holdBytes_(holdBytes), notices_(std::move(notices)) {
    thread_ = std::thread([this] { run(); });
}

OutputWriter::~OutputWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_one();
    thread_.join();
}

bool OutputWriter::write(const std::string& line) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (held_ + line.size() > holdBytes_) {
            ++skipped_;
            return false;
        }
        const bool wasBelow = pending_.size() < GATHER_BYTES;
        pending_ += line;
        held_ += line.size();
        // Only the first line of a burst wakes the thread, and the one that
        // fills the gathering; the rest wait in pending_ for the same write.
        wake = idle_ || (wasBelow && pending_.size() >= GATHER_BYTES);
        idle_ = false;
    }
    if (wake) {
        work_.notify_one();
    }
    return true;
}

bool OutputWriter::drain(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (held_ != 0) {
        hurry_ = true;
        work_.notify_one();
    }
    return drained_.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                             [this] { return held_ == 0; });
}

void OutputWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        idle_ = pending_.empty();
        work_.wait(lock, [this] { return stop_ || !pending_.empty(); });
        idle_ = false;
        if (pending_.empty()) {
            return;  // asked to stop, and everything is written
        }
        work_.wait_for(lock, std::chrono::milliseconds(GATHER_MS), [this] {
            return stop_ || hurry_ || pending_.size() >= GATHER_BYTES;
        });
        hurry_ = false;
        std::string chunk;
        chunk.swap(pending_);
        lock.unlock();
        const bool written = sink_(chunk.data(), chunk.size());
        lock.lock();
        long long tellSkipped = 0, tellWorking = -1;
        bool tellFailed = false;
        if (!written) {
            tellFailed = !failing_;
            failing_ = true;
            lost_ += std::count(chunk.begin(), chunk.end(), '\n');
        } else {
            if (failing_) {
                tellWorking = lost_;
                failing_ = false;
                lost_ = 0;
            }
            tellSkipped = skipped_;
            skipped_ = 0;
        }
        // Told without the lock, so that the caller may hand over more
        // meanwhile; and before the chunk counts as done, so that whoever
        // waits for the writer to drain finds it told.
        lock.unlock();
        if (tellFailed && notices_.failed) {
            notices_.failed();
        }
        if (tellWorking >= 0 && notices_.workingAgain) {
            notices_.workingAgain(tellWorking);
        }
        if (tellSkipped > 0 && notices_.skipped) {
            notices_.skipped(tellSkipped);
        }
        lock.lock();
        held_ -= chunk.size();
        if (held_ == 0) {
            drained_.notify_all();
        }
    }
}

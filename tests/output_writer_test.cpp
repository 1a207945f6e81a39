#include "console/output_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

// A reader the test controls: it takes everything, or stalls until let go,
// or refuses; and it records what the writer told.
class Reader {
  public:
    enum class Mode { Take, Stall, Refuse };

    OutputWriter::Sink sink() {
        return [this](const char* data, std::size_t size) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++calls_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return mode_ != Mode::Stall; });
            if (mode_ == Mode::Refuse) {
                return false;
            }
            taken_.append(data, size);
            return true;
        };
    }
    OutputWriter::Notices notices() {
        OutputWriter::Notices notices;
        notices.failed = [this] { tell("failed"); };
        notices.workingAgain = [this](long long lines) {
            tell("working, lost " + std::to_string(lines));
        };
        notices.skipped = [this](long long lines) { tell("skipped " + std::to_string(lines)); };
        return notices;
    }
    void set(Mode mode) {
        std::lock_guard<std::mutex> lock(mutex_);
        mode_ = mode;
        changed_.notify_all();
    }
    // Waits until the writer is inside the sink (a stalled write under way).
    void awaitCall(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return calls_ >= count; });
    }
    int calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::string taken() {
        std::lock_guard<std::mutex> lock(mutex_);
        return taken_;
    }
    std::vector<std::string> told() {
        std::lock_guard<std::mutex> lock(mutex_);
        return told_;
    }

  private:
    void tell(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        told_.push_back(what);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Mode mode_ = Mode::Take;
    int calls_ = 0;
    std::string taken_;
    std::vector<std::string> told_;
};

std::string lineNumbered(int i) {
    // Every byte value but the line end, so that nothing is rewritten on the way.
    return "line " + std::to_string(i) + " \x01\xFF\xC0\t\r" + std::string(40, 'a' + i % 26) + "\n";
}

}  // namespace

TEST(OutputWriter, ALiveReaderGetsEveryByteInOrderABurstInAFewWrites) {
    Reader reader;
    OutputWriter writer(reader.sink(), 1 << 20, reader.notices());
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        EXPECT_TRUE(writer.write(lineNumbered(i)));
        expected += lineNumbered(i);
    }
    ASSERT_TRUE(writer.drain(10000));
    EXPECT_EQ(reader.taken(), expected);
    EXPECT_TRUE(reader.told().empty());
    // 2000 lines handed over at once are gathered, not written one by one
    // (about 110 KiB: a few writes of up to GATHER_BYTES, whatever the timing).
    EXPECT_LT(reader.calls(), 100);
    // A line on its own is not held back for the gathering by whoever waits.
    EXPECT_TRUE(writer.write(lineNumbered(1)));
    ASSERT_TRUE(writer.drain(10000));
    EXPECT_EQ(reader.taken(), expected + lineNumbered(1));
}

TEST(OutputWriter, AStalledReaderCostsOnlyWhatPassesTheBoundAndIsToldWhenItReadsAgain) {
    Reader reader;
    const std::size_t bound = 10 * lineNumbered(0).size();
    OutputWriter writer(reader.sink(), bound, reader.notices());
    reader.set(Reader::Mode::Stall);
    ASSERT_TRUE(writer.write(lineNumbered(0)));
    reader.awaitCall(1);  // the first line is in the reader's hands, stuck
    std::string expected = lineNumbered(0);
    int accepted = 1;
    for (int i = 1; i < 30; ++i) {
        // Handing over never waits for the reader.
        if (writer.write(lineNumbered(i))) {
            expected += lineNumbered(i);
            ++accepted;
        }
    }
    EXPECT_EQ(accepted, 10);
    EXPECT_FALSE(writer.drain(50));
    reader.set(Reader::Mode::Take);
    ASSERT_TRUE(writer.drain(10000));
    EXPECT_EQ(reader.taken(), expected);
    EXPECT_EQ(reader.told(), std::vector<std::string>{"skipped 20"});
    // Room again once read: later lines go as before.
    EXPECT_TRUE(writer.write(lineNumbered(99)));
    ASSERT_TRUE(writer.drain(10000));
    EXPECT_EQ(reader.taken(), expected + lineNumbered(99));
}

TEST(OutputWriter, AFailingReaderIsToldOnceAndAgainWhenItWorks) {
    Reader reader;
    OutputWriter writer(reader.sink(), 1 << 20, reader.notices());
    reader.set(Reader::Mode::Refuse);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(writer.write(lineNumbered(i)));
        ASSERT_TRUE(writer.drain(10000));
    }
    EXPECT_EQ(reader.told(), std::vector<std::string>{"failed"});
    reader.set(Reader::Mode::Take);
    EXPECT_TRUE(writer.write(lineNumbered(5)));
    ASSERT_TRUE(writer.drain(10000));
    EXPECT_EQ(reader.taken(), lineNumbered(5));
    EXPECT_EQ(reader.told(), (std::vector<std::string>{"failed", "working, lost 5"}));
}

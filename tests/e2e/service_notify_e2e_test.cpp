// The real bot tells a service manager of its own (a datagram socket of the
// test's, named in NOTIFY_SOCKET) that it is ready, how it is, and that it
// is still alive.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e/bot_world_fixture.h"
#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"

namespace {

// A datagram socket bound to a path, as a service manager listens.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 &&
                 ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        timeval patience{0, 100 * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    ~NotifySocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }
    // Takes the datagrams that have come so far.
    void take() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) {
            received.emplace_back(buffer, static_cast<std::size_t>(n));
            arrivedMs.push_back(nowMs());
        }
    }
    std::vector<std::string> received;
    std::vector<long long> arrivedMs;

  private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

int countOf(const std::vector<std::string>& datagrams, const std::string& text) {
    int count = 0;
    for (const std::string& datagram : datagrams) {
        count += datagram == text ? 1 : 0;
    }
    return count;
}

}  // namespace

TEST_F(BotWorldTest, TheServiceManagerHearsReadyStatusAndTheWatchdog) {
    port_ = startServer();
    NotifySocket manager((dir_ / "notify.sock").string());
    ASSERT_TRUE(manager.bound());
    writeBotFiles(port_);
    startBot({"NOTIFY_SOCKET=" + (dir_ / "notify.sock").string(), "WATCHDOG_USEC=400000"});
    ASSERT_TRUE(botPrinted("Успешно."));
    const std::string ready =
        "READY=1\nSTATUS=В мире welcome; аватаров: 0; строк услышано: 0, передано: 0; "
        "переподключений не было";
    ASSERT_TRUE(eventually([&] {
        manager.take();
        return !manager.received.empty();
    }));
    EXPECT_EQ(manager.received.front(), ready);
    EXPECT_EQ(countOf(manager.received, ready), 1);

    TestAvatar speaker, far;
    join(speaker, "Speaker", 0, 0);
    join(far, "Far", 0, 40000);
    speaker.say("hello");
    waitConsole(far, "Speaker:\thello");
    const std::string status =
        "STATUS=В мире welcome; аватаров: 2; строк услышано: 1, передано: 1; "
        "переподключений не было";
    ASSERT_TRUE(eventually([&] {
        manager.take();
        return countOf(manager.received, status) == 1;
    })) << manager.received.back();
    // Still alive, twice as often as asked, from the main loop.
    const std::size_t before = manager.received.size();
    ASSERT_TRUE(eventually([&] {
        manager.take();
        return countOf(manager.received, "WATCHDOG=1") >= 6;
    }));
    std::vector<long long> petted;
    for (std::size_t i = 0; i < manager.received.size(); ++i) {
        if (manager.received[i] == "WATCHDOG=1") {
            petted.push_back(manager.arrivedMs[i]);
        }
    }
    EXPECT_GT(manager.received.size(), before);
    for (std::size_t i = 1; i < petted.size(); ++i) {
        EXPECT_LT(petted[i] - petted[i - 1], 400) << i;
    }
    // Nothing of it on standard output.
    EXPECT_EQ(botOutput().find("STATUS"), std::string::npos);
}

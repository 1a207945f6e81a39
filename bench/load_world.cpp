#include "load_world.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "process_figures.h"
#include "protocol/monotonic_clock.h"
#include "sdk/reason_codes.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr int TIMEOUT_MS = 30000;

bool joinAt(WorldConnection& connection, int port, const std::string& name, int x) {
    if (connection.open("127.0.0.1", port, TIMEOUT_MS) != SDK_OK) {
        return false;
    }
    Message login;
    login.type = MessageType::Login;
    login.name = name;
    Message enter;
    enter.type = MessageType::Enter;
    enter.name = "welcome";
    Message state;
    state.type = MessageType::State;
    state.x = x;
    return connection.request(login, TIMEOUT_MS) == SDK_OK &&
           connection.request(enter, TIMEOUT_MS) == SDK_OK &&
           connection.request(state, TIMEOUT_MS) == SDK_OK;
}

}  // namespace

LoadWorld::~LoadWorld() {
    bot_.stop(SIGTERM);
    listeners_.clear();
    speaker_.close();
    if (server_) {
        server_->stop();
        serverThread_.join();
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool LoadWorld::start(int listeners, ServerConfig config) {
    raiseFileLimit();
    ::signal(SIGPIPE, SIG_IGN);
    config.port = 0;
    config.citizens = {{1, "load"}};
    config.bots = {1};
    config.exempt = {net::LOOPBACK};  // every avatar comes from one address
    // Every listener fits, beside 16 places kept for citizens.
    config.maxClients =
        std::max<std::size_t>(config.maxClients, static_cast<std::size_t>(listeners) + 32);
    config.reservedPlaces = 16;
    config.chatRate = 0;        // the speaker says lines as fast as the relay takes them
    config.logToStderr = false;  // a thousand connections would bury the figures
    server_ = std::make_unique<WorldServer>(config);
    std::string error;
    if (!server_->start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        server_.reset();
        return false;
    }
    serverThread_ = std::thread([this] { server_->run(); });

    char pattern[] = "/tmp/tintbeacon-load-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    std::ofstream(dir_ / "address.txt") << "127.0.0.1\n" << server_->port() << "\n";
    std::ofstream(dir_ / "home.txt") << "welcome\n0N 0W\n";
    std::ofstream(dir_ / "account.txt") << "1\nload\nyes\n0.4\n";
    if (!bot_.start(std::string(TINTBEACON_BIN_DIR) + "/tintbeacon", {}, dir_.string(),
                    (dir_ / "bot.out").string(), (dir_ / "bot.err").string(),
                    {"LC_ALL=C.UTF-8"})) {
        std::fprintf(stderr, "the bot did not start\n");
        return false;
    }
    if (!joinAt(speaker_, server_->port(), "Speaker", 0)) {
        std::fprintf(stderr, "the speaker could not join\n");
        return false;
    }
    for (int i = 0; i < listeners; ++i) {
        listeners_.push_back(std::make_unique<WorldConnection>());
        if (!joinAt(*listeners_.back(), server_->port(), "Listener" + std::to_string(i), 50000)) {
            std::fprintf(stderr, "listener %d could not join\n", i);
            return false;
        }
    }
    // Once a warm-up line reaches everyone, the bot knows every listener.
    for (int attempt = 0; attempt < 50; ++attempt) {
        say("warm up");
        if (awaitRelay(relayedText("warm up"), 1000)) {
            return true;
        }
    }
    std::fprintf(stderr, "the warm-up line did not reach every listener\n");
    return false;
}

void LoadWorld::say(const std::string& text) {
    Message m;
    m.type = MessageType::Say;
    m.text = text;
    speaker_.post(m);
    speaker_.flush();
}

bool LoadWorld::awaitRelay(const std::string& text, int timeoutMs) {
    std::vector<bool> done(listeners_.size(), false);
    std::size_t remaining = listeners_.size();
    std::vector<pollfd> polled;
    const long long deadline = nowMs() + timeoutMs;
    while (remaining > 0 && nowMs() < deadline) {
        polled.clear();
        for (auto& listener : listeners_) {
            polled.push_back({listener->fd(), POLLIN, 0});
        }
        ::poll(polled.data(), polled.size(), 100);
        for (std::size_t i = 0; i < listeners_.size(); ++i) {
            if (polled[i].revents == 0) {
                continue;
            }
            listeners_[i]->receive();
            auto& events = listeners_[i]->events();
            for (const Message& m : events) {
                if (!done[i] && m.type == MessageType::ConsoleMessage && m.text == text) {
                    done[i] = true;
                    --remaining;
                }
            }
            events.clear();
        }
    }
    return remaining == 0;
}

long long LoadWorld::botCpuNs() const {
    return onCpuNanoseconds(bot_.pid());
}

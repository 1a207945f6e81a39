// Load tool: the time from one said line to its relay reaching every one of
// many distant avatars. Runs the world server in this process, the real bot
// as a child process, a speaker next to the bot and N listeners far away.
//
//   tintbeacon_relay_load [LISTENERS] [LINES]      (defaults 1000 and 20)

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/child_process.h"
#include "protocol/wire_message.h"
#include "sdk/reason_codes.h"
#include "sdk/world_connection.h"
#include "server/world_server.h"

using wire::Message;
using wire::MessageType;

namespace {

constexpr int TIMEOUT_MS = 30000;
using Clock = std::chrono::steady_clock;

int request(WorldConnection& connection, Message message) {
    return connection.request(message, TIMEOUT_MS);
}

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
    return request(connection, login) == SDK_OK && request(connection, enter) == SDK_OK &&
           request(connection, state) == SDK_OK;
}

// Waits until every listener has received a console message with the text;
// false at the timeout.
bool awaitRelay(std::vector<std::unique_ptr<WorldConnection>>& listeners, const std::string& text) {
    std::vector<bool> done(listeners.size(), false);
    std::size_t remaining = listeners.size();
    std::vector<pollfd> polled;
    const auto deadline = Clock::now() + std::chrono::milliseconds(TIMEOUT_MS);
    while (remaining > 0 && Clock::now() < deadline) {
        polled.clear();
        for (auto& listener : listeners) {
            polled.push_back({listener->fd(), POLLIN, 0});
        }
        ::poll(polled.data(), polled.size(), 100);
        for (std::size_t i = 0; i < listeners.size(); ++i) {
            if (polled[i].revents == 0) {
                continue;
            }
            listeners[i]->receive();
            auto& events = listeners[i]->events();
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

void raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int listenerCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 20;
    raiseFileLimit();
    ::signal(SIGPIPE, SIG_IGN);

    ServerConfig config;
    config.port = 0;
    config.citizens = {{1, "load"}};
    config.chatRate = 0;  // the speaker says lines as fast as the relay takes them
    WorldServer server(config);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::thread serverThread([&] { server.run(); });

    char pattern[] = "/tmp/tintbeacon-load-XXXXXX";
    std::filesystem::path dir = ::mkdtemp(pattern);
    std::ofstream(dir / "address.txt") << "127.0.0.1\n" << server.port() << "\n";
    std::ofstream(dir / "home.txt") << "welcome\n0N 0W\n";
    std::ofstream(dir / "account.txt") << "1\nload\nyes\n0.4\n";
    ChildProcess bot;
    bot.start(std::string(TINTBEACON_BIN_DIR) + "/tintbeacon", {}, dir.string(),
              (dir / "bot.out").string(), (dir / "bot.err").string(), {"LC_ALL=C.UTF-8"});

    WorldConnection speaker;
    bool ready = joinAt(speaker, server.port(), "Speaker", 0);
    std::vector<std::unique_ptr<WorldConnection>> listeners;
    for (int i = 0; ready && i < listenerCount; ++i) {
        listeners.push_back(std::make_unique<WorldConnection>());
        std::string name = "Listener";
        name += std::to_string(i);
        ready = joinAt(*listeners.back(), server.port(), name, 50000);
    }
    // Once the warm-up line reaches everyone, the bot knows every listener.
    auto say = [&](const std::string& text) {
        Message m;
        m.type = MessageType::Say;
        m.text = text;
        speaker.post(m);
        speaker.flush();
    };
    std::vector<double> millis;
    for (int attempt = 0; ready && attempt < 50; ++attempt) {
        say("warm up");
        if (awaitRelay(listeners, "Speaker:\twarm up")) {
            break;
        }
    }
    for (int i = 0; ready && i < lines; ++i) {
        const std::string text = "line " + std::to_string(i);
        const auto start = Clock::now();
        say(text);
        if (!awaitRelay(listeners, "Speaker:\t" + text)) {
            std::fprintf(stderr, "line %d did not reach every listener\n", i);
            ready = false;
            break;
        }
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    bot.stop(SIGTERM);
    server.stop();
    serverThread.join();
    std::filesystem::remove_all(dir);
    if (!ready || millis.empty()) {
        std::fprintf(stderr, "load run failed\n");
        return 1;
    }
    std::sort(millis.begin(), millis.end());
    std::printf(
        "one relayed line to %d distant avatars, %zu lines: min %.2f ms, median %.2f ms, "
        "max %.2f ms\n",
        listenerCount, millis.size(), millis.front(), millis[millis.size() / 2], millis.back());
    return 0;
}

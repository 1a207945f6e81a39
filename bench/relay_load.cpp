// Load tool: the time from one said line to its relay reaching every one of
// many distant avatars. Runs the world server in this process, the real bot
// as a child process, a speaker next to the bot and N listeners far away.
//
//   tintbeacon_relay_load [LISTENERS] [LINES]      (defaults 1000 and 20)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "load_world.h"

int main(int argc, char** argv) {
    const int listenerCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 20;
    LoadWorld world;
    if (!world.start(listenerCount)) {
        return 1;
    }
    std::vector<double> millis;
    for (int i = 0; i < lines; ++i) {
        const std::string text = "line " + std::to_string(i);
        const auto start = std::chrono::steady_clock::now();
        world.say(text);
        if (!world.awaitRelay(relayedText(text), 30000)) {
            std::fprintf(stderr, "line %d did not reach every listener\n", i);
            return 1;
        }
        millis.push_back(std::chrono::duration<double, std::milli>(
                             std::chrono::steady_clock::now() - start)
                             .count());
    }
    if (millis.empty()) {
        return 1;
    }
    std::sort(millis.begin(), millis.end());
    std::printf("| listeners | lines | min ms | median ms | max ms |\n");
    std::printf("|---|---|---|---|---|\n");
    std::printf("| %d | %zu | %.2f | %.2f | %.2f |\n", listenerCount, millis.size(), millis.front(),
                millis[millis.size() / 2], millis.back());
    std::printf("\nrepeat: tintbeacon_relay_load %d %d\n", listenerCount, lines);
    return 0;
}

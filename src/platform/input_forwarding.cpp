#include <thread>
#include <utility>

#include "platform/net.h"
#include "platform/standard_input.h"

int forwardInput(std::function<long(char* buffer, std::size_t size)> source) {
    int ends[2];
    if (!net::socketPair(ends)) {
        return -1;
    }
    // The thread may block in `source` for the rest of the process (a
    // terminal nobody types on), so nothing waits for it to end.
    std::thread([source = std::move(source), end = ends[1]] {
        char buffer[4096];
        for (;;) {
            const long n = source(buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            long sent = 0;
            while (sent < n) {
                const long more = net::send(end, buffer + sent, static_cast<std::size_t>(n - sent));
                if (more <= 0) {
                    net::close(end);  // the reader has gone
                    return;
                }
                sent += more;
            }
        }
        net::close(end);
    }).detach();
    return ends[0];
}

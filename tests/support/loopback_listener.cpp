#include "support/loopback_listener.h"

#include "platform/net.h"

int listenOnLoopback(int& port, int receiveBufferBytes) {
    const int listener = net::listenOn(net::LOOPBACK, 0, 1, receiveBufferBytes);
    if (listener < 0) {
        return -1;
    }
    port = net::localPort(listener);
    if (port == 0) {
        net::close(listener);
        return -1;
    }
    return listener;
}

#pragma once

// A listening TCP socket on 127.0.0.1 at a free port, for the scripted worlds
// of the tests.

// Returns the socket (or -1) and its port in `port`. A receive buffer size
// above 0 is set before listening, so accepted sockets inherit it.
int listenOnLoopback(int& port, int receiveBufferBytes = 0);

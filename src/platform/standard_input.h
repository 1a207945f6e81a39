#pragma once

// Standard input as something to poll with net::poll beside sockets:
// readable when it has bytes or has ended. On POSIX that is descriptor 0
// itself. A Windows wait cannot take standard input, so there a thread reads
// it and forwards what it reads into one end of a socket pair; the end of
// input closes that end.

#include <cstddef>
#include <functional>

// What to poll for standard input, or -1 when it cannot be had (no socket
// pair for it on Windows). Call once.
int openStandardInput();

// Reads up to `size` bytes of what `fd` has: standard input as opened above,
// or a socket (a test's socket pair). Returns the count, 0 at the end of the
// input, or net::AGAIN or net::FAILED.
long readInput(int fd, char* buffer, std::size_t size);

// Reads with `source` in a thread of its own and forwards everything into a
// socket pair, whose other end it returns (or -1). `source` fills up to
// `size` bytes and returns the count; 0 or less ends the input, and the
// forwarding end is then closed, so the returned end reads the end of the
// stream. Forwarding stops too once the returned end is closed.
int forwardInput(std::function<long(char* buffer, std::size_t size)> source);

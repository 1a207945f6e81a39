#pragma once

// Where the avatar client's typed lines come from: plain standard input (a
// script, a pipe), or a terminal with line editing and history, which keeps
// the half-typed line intact while the client prints what arrives.

#include <memory>
#include <string>
#include <vector>

struct InputChunk {
    std::vector<std::string> lines;  // complete lines, without their line ends
    bool tooLong = false;            // a line passed the limit and was dropped
    bool ended = false;              // nothing more will come
};

class LineInput {
  public:
    virtual ~LineInput() = default;
    // The descriptor to poll for input.
    virtual int fd() const = 0;
    // Reads what is ready (call when fd() is readable; it does not block
    // further).
    virtual InputChunk read() = 0;
    // Bracket every output, so that a line being edited is taken off the
    // screen before it and shown again, as typed so far, after it.
    virtual void beforeOutput() {}
    virtual void afterOutput() {}
    // Whether Ctrl-C (or SIGTERM, SIGHUP) asked to leave.
    virtual bool interrupted() const { return false; }
};

// Lines of at most MAX_INPUT_LINE bytes from standard input as
// openStandardInput gives it (or a socket), as they come; a last line
// without its line end counts when input ends.
inline constexpr std::size_t MAX_INPUT_LINE = 4096;
std::unique_ptr<LineInput> makePlainLineInput(int fd);

// Line editing and history on the terminal of standard input and output,
// with the prompt given. Only one may exist at a time; while it does, SIGINT,
// SIGTERM and SIGHUP set interrupted() instead of ending the process.
std::unique_ptr<LineInput> makeEditedLineInput(const char* prompt);

#include "avatar/line_input.h"
#include "platform/net.h"
#include "platform/standard_input.h"

namespace {

class PlainLineInput : public LineInput {
  public:
    explicit PlainLineInput(int fd) : fd_(fd) {}
    int fd() const override { return fd_; }
    InputChunk read() override;

  private:
    int fd_;
    std::string pending_;
};

InputChunk PlainLineInput::read() {
    InputChunk chunk;
    char buffer[4096];
    const long n = readInput(fd_, buffer, sizeof buffer);
    if (n == net::AGAIN) {
        return chunk;
    }
    if (n > 0) {
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
        chunk.lines.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
    if (pending_.size() > MAX_INPUT_LINE) {
        chunk.tooLong = true;
        pending_.clear();
    }
    if (n <= 0) {
        if (!pending_.empty()) {
            chunk.lines.push_back(pending_);
            pending_.clear();
        }
        chunk.ended = true;
    }
    return chunk;
}

}  // namespace

std::unique_ptr<LineInput> makePlainLineInput(int fd) {
    return std::make_unique<PlainLineInput>(fd);
}

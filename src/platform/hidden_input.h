#pragma once

// Typing without echo, for the operator's password.

// While one lives, what is typed on the process's standard input is not
// shown, when that input is a terminal (the line end still is, so the next
// line starts afresh); otherwise it does nothing. An interrupt meanwhile
// restores the echo before the process ends.
class HiddenInput {
  public:
    HiddenInput();
    ~HiddenInput();
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

  private:
    bool hidden_ = false;
};

// Line editing and history through the readline library's callback
// interface: the client's poll loop hands it each readable moment, so lines
// from the world are printed while a line is being typed, and the typed part
// comes back after them.

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "avatar/line_input.h"

namespace {

// The callback has no context pointer: the lines it completes wait here for
// the one EditedLineInput to collect them.
InputChunk* completed = nullptr;

volatile std::sig_atomic_t interruptedBySignal = 0;
volatile std::sig_atomic_t terminalResized = 0;

void onInterrupt(int) {
    interruptedBySignal = 1;
}

void onResize(int) {
    terminalResized = 1;
}

// The library learns a new terminal width only inside its own calls: tell
// it before it reads or redraws.
void followResize() {
    if (terminalResized != 0) {
        terminalResized = 0;
        rl_resize_terminal();
    }
}

void onLine(char* line) {
    if (completed == nullptr) {
        std::free(line);
        return;
    }
    if (line == nullptr) {  // end of input: Ctrl-D on an empty line
        completed->ended = true;
        return;
    }
    if (*line != '\0') {
        add_history(line);
    }
    completed->lines.emplace_back(line);
    std::free(line);
}

class EditedLineInput : public LineInput {
  public:
    explicit EditedLineInput(const char* prompt) {
        // Multibyte (UTF-8) editing follows the character type of the
        // environment; numbers and messages keep the C locale.
        std::setlocale(LC_CTYPE, "");
        // The terminal stays in the library's mode between reads, so a signal
        // must not end the process there: it ends the input instead, and the
        // destructor gives the terminal back as it was.
        rl_catch_signals = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            ::sigaction(signal, &action, nullptr);
        }
        rl_catch_sigwinch = 0;
        action.sa_handler = onResize;
        ::sigaction(SIGWINCH, &action, nullptr);
        rl_callback_handler_install(prompt, onLine);
    }
    ~EditedLineInput() override {
        rl_callback_handler_remove();
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    int fd() const override { return STDIN_FILENO; }

    InputChunk read() override {
        InputChunk chunk;
        followResize();
        completed = &chunk;
        rl_callback_read_char();
        completed = nullptr;
        return chunk;
    }

    bool interrupted() const override { return interruptedBySignal != 0; }

    void beforeOutput() override {
        followResize();
        savedPoint_ = rl_point;
        savedLine_ = rl_copy_text(0, rl_end);
        rl_save_prompt();
        rl_replace_line("", 0);
        rl_redisplay();
    }
    void afterOutput() override {
        std::fflush(stdout);
        rl_restore_prompt();
        rl_replace_line(savedLine_ != nullptr ? savedLine_ : "", 0);
        rl_point = savedPoint_;
        rl_redisplay();
        std::free(savedLine_);
        savedLine_ = nullptr;
    }

  private:
    char* savedLine_ = nullptr;
    int savedPoint_ = 0;
};

}  // namespace

std::unique_ptr<LineInput> makeEditedLineInput(const char* prompt) {
    return std::make_unique<EditedLineInput>(prompt);
}

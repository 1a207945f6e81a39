#include "avatar/avatar_client.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <ostream>
#include <sstream>

#include "avatar/avatar_command.h"
#include "avatar/json_line.h"
#include "avatar/line_input.h"
#include "avatar/terminal_text.h"
#include "avatar/who_list.h"
#include "app/number_text.h"
#include "platform/net.h"
#include "sdk/reason_codes.h"
#include "sdk/reason_text.h"
#include "text/cp1251.h"
#include "protocol/monotonic_clock.h"

namespace {

using Kind = AvatarCommand::Kind;
constexpr int IDLE_POLL_MS = 1000;

class Client {
public:
    Client(const ClientSettings& settings, int input, std::ostream& out)
        : settings_(settings),
          input_(settings.lineEditing ? makeEditedLineInput("> ") : makePlainLineInput(input)),
          out_(out) {}

    int run();

private:
    void showEvents();
    bool readInput();  // queues what was typed; false once input has ended
    void runQueued();  // runs queued lines until one is /wait
    // Everything the client prints is gathered in text_ and written here, so
    // that a line being edited moves out of its way.
    void flushText();
    void execute(const std::string& typed);
    void report(const std::string& what, const std::string& utf8Detail, int reason = 0);
    void listPresent();
    std::optional<int> whisperTarget(const std::string& target);

    const ClientSettings& settings_;
    std::unique_ptr<LineInput> input_;
    std::ostream& out_;
    std::ostringstream text_;
    std::deque<std::string> queued_;  // lines read, not yet run
    AvatarSession session_;
    long long waitUntil_ = 0;
    bool inputOpen_ = true;
    bool quit_ = false;
};

int Client::run() {
    int rc = session_.join(settings_.login);
    if (rc != SDK_OK) {
        report("join", "cannot join the world", rc);
        return 1;
    }
    if (settings_.scripted) {
        text_ << JsonLine().field("event", "ready").field("session", session_.session()).str()
              << '\n';
    } else {
        text_ << "Joined " << terminalText(settings_.login.world, settings_.style.encoding, false)
              << " as " << terminalText(settings_.login.name, settings_.style.encoding, false)
              << " (session " << session_.session() << "). Type /help for commands.\n";
    }
    flushText();
    while (!quit_ && !input_->interrupted()) {
        runQueued();
        // Lines still queued wait behind a /wait: input is read again once
        // they have run.
        const bool waiting = nowMs() < waitUntil_;
        if (quit_ || (!inputOpen_ && !waiting)) {
            break;
        }
        net::PollEntry fds[2];
        fds[0].fd = session_.connection().fd();
        fds[0].wantRead = true;
        fds[0].wantWrite = session_.connection().wantsWrite();
        fds[1].fd = input_->fd();
        fds[1].wantRead = true;
        const int count = inputOpen_ && !waiting ? 2 : 1;
        // Never longer than a second, so that the heartbeat is kept in a long /wait too.
        const int timeout =
            waiting ? static_cast<int>(std::min<long long>(waitUntil_ - nowMs(), IDLE_POLL_MS))
                    : IDLE_POLL_MS;
        net::poll(fds, count, timeout < 0 ? 0 : timeout);
        showEvents();
        if (!session_.connection().isOpen()) {
            report("connection", "the connection to the world was lost", SDK_RC_CONNECTION_LOST);
            return 1;
        }
        if (count == 2 && fds[1].readable) {
            inputOpen_ = readInput();
        }
    }
    session_.connection().flush();
    flushText();
    return 0;
}

void Client::showEvents() {
    auto& events = session_.poll();
    for (const wire::Message& event : events) {
        if (settings_.scripted) {
            text_ << jsonEventLine(event) << '\n';
        } else if (auto line = humanEventLine(event, settings_.style)) {
            text_ << *line << '\n';
        }
    }
    events.clear();
    flushText();
}

void Client::flushText() {
    const std::string text = text_.str();
    if (text.empty()) {
        return;
    }
    text_.str("");
    input_->beforeOutput();
    out_ << text;
    out_.flush();
    input_->afterOutput();
}

bool Client::readInput() {
    InputChunk chunk = input_->read();
    for (std::string& line : chunk.lines) {
        queued_.push_back(std::move(line));
    }
    if (chunk.tooLong) {
        report("input", "line too long: ignored");
    }
    return !chunk.ended;
}

void Client::runQueued() {
    while (!queued_.empty() && !quit_ && nowMs() >= waitUntil_) {
        const std::string line = std::move(queued_.front());
        queued_.pop_front();
        execute(line);
    }
}

void Client::execute(const std::string& typed) {
    std::string line = typed;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (settings_.style.encoding == TerminalEncoding::Utf8) {
        line = utf8ToCp1251(line);
    }
    const AvatarCommand command = parseAvatarCommand(line);
    int rc = SDK_OK;
    switch (command.kind) {
        case Kind::Say: rc = session_.say(command.text); break;
        case Kind::Broadcast: rc = session_.broadcast(command.text); break;
        case Kind::Move: rc = session_.moveTo(command.position); break;
        case Kind::Whisper:
            if (auto target = whisperTarget(command.target)) {
                rc = session_.whisper(*target, command.text);
            } else {
                report("whisper", "nobody of that name or session is here");
            }
            break;
        case Kind::Who: listPresent(); break;
        case Kind::Wait: waitUntil_ = nowMs() + command.waitMs; break;
        case Kind::Help:
            if (!settings_.scripted) text_ << avatarCommandHelp() << '\n';
            break;
        case Kind::Quit: quit_ = true; break;
        case Kind::Invalid: report("command", cp1251ToUtf8(command.text)); break;
        case Kind::Nothing: break;
    }
    if (rc != SDK_OK) {
        report("command", "the world refused it", rc);
    }
    session_.connection().flush();
    flushText();
}

std::optional<int> Client::whisperTarget(const std::string& target) {
    if (target.size() > 1 && target[0] == '#') {
        const int session = textToInt(target.substr(1));
        if (session > 0 && session_.present().count(session) != 0) {
            return session;
        }
        return std::nullopt;
    }
    return session_.sessionNamed(target);
}

void Client::listPresent() {
    if (!settings_.scripted) {
        for (const std::string& line : whoLines(session_.present(), session_.position(),
                                                settings_.hearingRange, settings_.style.encoding)) {
            text_ << line << '\n';
        }
        return;
    }
    for (const auto& [session, avatar] : session_.present()) {
        text_ << JsonLine()
                     .field("event", "present")
                     .field("session", session)
                     .field("name", avatar.name)
                     .field("citizen", avatar.citizen)
                     .field("x", avatar.x)
                     .field("y", avatar.y)
                     .field("z", avatar.z)
                     .str()
              << '\n';
    }
}

void Client::report(const std::string& what, const std::string& utf8Detail, int reason) {
    if (settings_.scripted) {
        JsonLine line;
        line.field("event", "error").field("what", what).field("message", utf8ToCp1251(utf8Detail));
        if (reason != 0) {
            line.field("reason", reason);
        }
        text_ << line.str() << '\n';
    } else {
        text_ << "! " << utf8Detail;
        if (reason != 0) {
            text_ << ": reason " << reasonWithWords(reason);
        }
        text_ << '\n';
    }
    flushText();
}

}  // namespace

int runAvatarClient(const ClientSettings& settings, int input, std::ostream& out) {
    Client client(settings, input, out);
    return client.run();
}

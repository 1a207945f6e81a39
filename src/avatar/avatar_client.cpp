#include "avatar/avatar_client.h"

#include <poll.h>
#include <unistd.h>

#include <ostream>

#include "avatar/avatar_command.h"
#include "avatar/json_line.h"
#include "avatar/terminal_text.h"
#include "app/number_text.h"
#include "sdk/reason_codes.h"
#include "text/cp1251.h"
#include "protocol/monotonic_clock.h"

namespace {

using Kind = AvatarCommand::Kind;
constexpr std::size_t MAX_INPUT_LINE = 4096;
constexpr int IDLE_POLL_MS = 1000;

class Client {
public:
    Client(const ClientSettings& settings, int input, std::ostream& out)
        : settings_(settings), input_(input), out_(out) {}

    int run();

private:
    void showEvents();
    bool readInput();  // false once input has ended
    void execute(const std::string& typed);
    void report(const std::string& what, const std::string& utf8Detail, int reason = 0);
    void listPresent();
    std::optional<int> whisperTarget(const std::string& target);

    const ClientSettings& settings_;
    int input_;
    std::ostream& out_;
    AvatarSession session_;
    std::string pending_;
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
        out_ << JsonLine().field("event", "ready").field("session", session_.session()).str() << '\n';
    } else {
        out_ << "Joined " << terminalText(settings_.login.world, settings_.style.encoding, false)
             << " as " << terminalText(settings_.login.name, settings_.style.encoding, false)
             << " (session " << session_.session() << "). Type /help for commands.\n";
    }
    out_.flush();
    while (!quit_) {
        const bool waiting = nowMs() < waitUntil_;
        if (!inputOpen_ && !waiting) {
            break;
        }
        pollfd fds[2] = {{session_.connection().fd(), POLLIN, 0}, {input_, POLLIN, 0}};
        if (session_.connection().wantsWrite()) {
            fds[0].events |= POLLOUT;
        }
        const int count = inputOpen_ && !waiting ? 2 : 1;
        const int timeout = waiting ? static_cast<int>(waitUntil_ - nowMs()) : IDLE_POLL_MS;
        ::poll(fds, count, timeout < 0 ? 0 : timeout);
        showEvents();
        if (!session_.connection().isOpen()) {
            report("connection", "the connection to the world was lost", SDK_RC_CONNECTION_LOST);
            return 1;
        }
        if (count == 2 && fds[1].revents != 0) {
            inputOpen_ = readInput();
        }
    }
    session_.connection().flush();
    return 0;
}

void Client::showEvents() {
    auto& events = session_.poll();
    for (const wire::Message& event : events) {
        if (settings_.scripted) {
            out_ << jsonEventLine(event) << '\n';
        } else if (auto line = humanEventLine(event, settings_.style)) {
            out_ << *line << '\n';
        }
    }
    events.clear();
    out_.flush();
}

bool Client::readInput() {
    char buffer[4096];
    const ssize_t n = ::read(input_, buffer, sizeof buffer);
    if (n > 0) {
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t end;
    while (!quit_ && (end = pending_.find('\n')) != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        execute(line);
    }
    if (pending_.size() > MAX_INPUT_LINE) {
        report("input", "line too long: ignored");
        pending_.clear();
    }
    if (n <= 0) {
        if (!pending_.empty() && !quit_) {
            execute(pending_);  // a last line without its line end
            pending_.clear();
        }
        return false;
    }
    return true;
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
            if (!settings_.scripted) out_ << avatarCommandHelp() << '\n';
            break;
        case Kind::Quit: quit_ = true; break;
        case Kind::Invalid: report("command", cp1251ToUtf8(command.text)); break;
        case Kind::Nothing: break;
    }
    if (rc != SDK_OK) {
        report("command", "the world refused it", rc);
    }
    session_.connection().flush();
    out_.flush();
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
    for (const auto& [session, avatar] : session_.present()) {
        if (settings_.scripted) {
            out_ << JsonLine().field("event", "present").field("session", session)
                        .field("name", avatar.name).field("citizen", avatar.citizen)
                        .field("x", avatar.x).field("y", avatar.y).field("z", avatar.z).str()
                 << '\n';
        } else {
            out_ << "  #" << session << ' '
                 << terminalText(avatar.name, settings_.style.encoding, false) << " at "
                 << avatar.x << ' ' << avatar.y << ' ' << avatar.z << '\n';
        }
    }
    if (!settings_.scripted && session_.present().empty()) {
        out_ << "  nobody else is here\n";
    }
}

void Client::report(const std::string& what, const std::string& utf8Detail, int reason) {
    if (settings_.scripted) {
        JsonLine line;
        line.field("event", "error").field("what", what).field("message", utf8ToCp1251(utf8Detail));
        if (reason != 0) {
            line.field("reason", reason);
        }
        out_ << line.str() << '\n';
    } else {
        out_ << "! " << utf8Detail;
        if (reason != 0) {
            out_ << " (reason " << reason << ")";
        }
        out_ << '\n';
    }
    out_.flush();
}

}  // namespace

int runAvatarClient(const ClientSettings& settings, int input, std::ostream& out) {
    Client client(settings, input, out);
    return client.run();
}

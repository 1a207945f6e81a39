#include "server/map/map_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <unordered_map>

#include "platform/net.h"
#include "protocol/monotonic_clock.h"
#include "server/log_throttle.h"
#include "server/map/map_listener.h"
#include "server/map/map_page.h"
#include "server/server_log.h"

namespace {

// The kernel's share of a page's backlog is kept small, so that the stream
// bound is what a stuck page can cost.
constexpr int MAP_SOCKET_SEND_BUFFER = 64 * 1024;
// The map's log: one line of a kind as it comes, then one line per period
// that counts the rest.
constexpr int MAP_LOG_BURST = 1;

// What an event of the map's own epoll descriptor is about, besides a
// stream's hang-up (whose event carries the stream).
char listenerTag;
char libraryTag;
// The library's context of a request for the stream.
char streamTag;

struct StreamRequest;

}  // namespace

// The server's state that the library's callbacks reach: the open streams (a
// shutting-down server resumes the suspended ones: the library must not be
// stopped with any suspended), who is connected from where, and the log.
struct MapStreams {
    explicit MapStreams(const MapLimits& limits)
        : log(logLine, LogThrottle::DEFAULT_PERIOD_MS, MAP_LOG_BURST),
          listener(limits.perAddress, limits.total, log) {}
    LiveMap* map = nullptr;
    MHD_Response* page = nullptr;
    std::set<StreamRequest*> open;
    bool shuttingDown = false;
    bool resumed = false;  // a stream was resumed: the library must run this turn
    int epollFd = -1;      // the map's own, where idle streams' hang-ups are watched
    LogThrottle log;
    MapListener listener;
    // Each connection the library holds: its client's address, and whether
    // its page was logged as one that does not read.
    struct Viewer {
        std::uint32_t address = 0;
        bool droppedLogged = false;
    };
    std::unordered_map<MHD_Connection*, Viewer> viewers;
};

namespace {

// One page reading /events.
struct StreamRequest {
    MapStreams* owner = nullptr;
    MapStream* stream = nullptr;
    MHD_Connection* connection = nullptr;
    int fd = -1;
    bool suspended = false;
    bool overflowSeen = false;  // told once: its timeout shortened, the drop logged
    bool hungUp = false;        // the page closed its end
};

void resume(StreamRequest& request) {
    if (request.suspended) {
        request.suspended = false;
        request.owner->resumed = true;
        MHD_resume_connection(request.connection);
    }
}

void logDropped(MapStreams& streams, MHD_Connection* connection) {
    auto found = streams.viewers.find(connection);
    if (found != streams.viewers.end() && !found->second.droppedLogged) {
        found->second.droppedLogged = true;
        streams.log.log("map drop", "map page does not read its stream: dropped", nowMs());
    }
}

void wake(StreamRequest& request) {
    if (request.stream->buffer.overflowed() && !request.overflowSeen) {
        request.overflowSeen = true;
        logDropped(*request.owner, request.connection);
        // A page whose socket is full is never asked for more bytes;
        // one second without progress closes it.
        MHD_set_connection_option(request.connection, MHD_CONNECTION_OPTION_TIMEOUT, 1u);
    }
    resume(request);
}

ssize_t readStream(void* cls, std::uint64_t, char* buffer, std::size_t max) {
    auto& request = *static_cast<StreamRequest*>(cls);
    if (request.stream->buffer.overflowed()) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (request.owner->shuttingDown || request.hungUp) {
        return MHD_CONTENT_READER_END_OF_STREAM;
    }
    const std::size_t count = request.owner->map->read(request.stream, buffer, max);
    if (request.stream->buffer.overflowed()) {
        wake(request);
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (count == 0) {
        // Nothing to send: wait, out of the library's loop, until wake().
        request.suspended = true;
        MHD_suspend_connection(request.connection);
    }
    return static_cast<ssize_t>(count);
}

void closeStream(void* cls) {
    auto* request = static_cast<StreamRequest*>(cls);
    if (request->fd >= 0) {
        ::epoll_ctl(request->owner->epollFd, EPOLL_CTL_DEL, request->fd, nullptr);
    }
    request->owner->open.erase(request);
    request->owner->map->close(request->stream);
    delete request;
}

MHD_Result queueText(MHD_Connection* connection, unsigned status, const char* text) {
    MHD_Response* response = MHD_create_response_from_buffer(
        std::strlen(text), const_cast<char*>(text), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

// Watches the stream's socket for the page closing its end, which the
// library does not see while the stream is suspended; so a closed page
// gives back its place at once, not at the next heartbeat.
void watchHangUp(StreamRequest& request) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(request.connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) {
        return;
    }
    epoll_event event{};
    event.events = EPOLLRDHUP | EPOLLET;
    event.data.ptr = &request;
    if (::epoll_ctl(request.owner->epollFd, EPOLL_CTL_ADD, info->connect_fd, &event) == 0) {
        request.fd = info->connect_fd;
    }
}

MHD_Result queueStream(MapStreams& streams, MHD_Connection* connection) {
    auto* request = new StreamRequest;
    request->owner = &streams;
    request->connection = connection;
    request->stream = streams.map->open();
    request->stream->wake = [request] { wake(*request); };
    MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024,
                                                               readStream, request, closeStream);
    if (response == nullptr) {
        closeStream(request);
        return MHD_NO;
    }
    streams.open.insert(request);
    watchHangUp(*request);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, std::size_t*, void** context) {
    auto& streams = *static_cast<MapStreams*>(cls);
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 &&
        std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
        return queueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "read-only: GET or HEAD\n");
    }
    if (std::strcmp(url, "/") == 0) {
        return MHD_queue_response(connection, MHD_HTTP_OK, streams.page);
    }
    if (std::strcmp(url, "/events") == 0) {
        *context = &streamTag;
        return queueStream(streams, connection);
    }
    return queueText(connection, MHD_HTTP_NOT_FOUND, "not found\n");
}

// Counts each connection against its client's address while the library
// holds it.
void onConnection(void* cls, MHD_Connection* connection, void**,
                  MHD_ConnectionNotificationCode code) {
    auto& streams = *static_cast<MapStreams*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        const auto* client = reinterpret_cast<const sockaddr_in*>(info->client_addr);
        const std::uint32_t address = ntohl(client->sin_addr.s_addr);
        streams.viewers[connection].address = address;
        streams.listener.opened(address);
        return;
    }
    auto found = streams.viewers.find(connection);
    if (found != streams.viewers.end()) {
        streams.listener.closed(found->second.address);
        streams.viewers.erase(found);
    }
}

// A stream that timed out moved no byte for the idle timeout: its page does
// not read it (an idle stream waits suspended, where it does not time out).
void onRequestEnded(void* cls, MHD_Connection* connection, void** context,
                    MHD_RequestTerminationCode code) {
    if (code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED && *context == &streamTag) {
        logDropped(*static_cast<MapStreams*>(cls), connection);
    }
}

void logFromLibrary(void* cls, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line = std::string("map: ") + text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    static_cast<MapStreams*>(cls)->log.log("map library", line, nowMs());
}

bool watch(int epollFd, int fd, void* tag) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = tag;
    return ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

}  // namespace

MapServer::MapServer(std::vector<std::string> worlds, int hearingRange, MapLimits limits)
    : limits_(limits),
      map_(std::move(worlds), hearingRange, limits.streamBound),
      streams_(std::make_unique<MapStreams>(limits)) {
    streams_->map = &map_;
}

MapServer::~MapServer() {
    if (daemon_ != nullptr) {
        streams_->shuttingDown = true;
        for (StreamRequest* request : streams_->open) {
            resume(*request);
        }
        MHD_run(daemon_);
        MHD_stop_daemon(daemon_);
    }
    if (streams_->page != nullptr) {
        MHD_destroy_response(streams_->page);
    }
    if (epollFd_ >= 0) {
        ::close(epollFd_);
    }
    streams_->log.flush(nowMs() + LogThrottle::DEFAULT_PERIOD_MS);
}

bool MapServer::start(const std::string& address, int port, std::string& error) {
    std::uint32_t bindAddress = 0;
    if (!net::parseIpv4(address, bindAddress)) {
        error = "not an IPv4 address for the map: " + address;
        return false;
    }
    const std::string where = address + ":" + std::to_string(port);
    if (!streams_->listener.start(bindAddress, port, error)) {
        error = "cannot serve the map on " + where + ": " + error;
        return false;
    }
    const std::string_view html = mapPageHtml();
    streams_->page = MHD_create_response_from_buffer(html.size(), const_cast<char*>(html.data()),
                                                     MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(streams_->page, MHD_HTTP_HEADER_CONTENT_TYPE,
                            "text/html; charset=utf-8");
    MHD_add_response_header(streams_->page, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    // The page loads nothing from elsewhere and talks only to its own server.
    MHD_add_response_header(streams_->page, "Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; "
                            "style-src 'unsafe-inline'; connect-src 'self'; img-src data:");
    MHD_add_response_header(streams_->page, "X-Content-Type-Options", "nosniff");
    // The listener admits no more than the total; the library's own limit
    // is a backstop at the same number.
    daemon_ = MHD_start_daemon(
        MHD_USE_NO_LISTEN_SOCKET | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG, 0,
        nullptr, nullptr, answer, streams_.get(), MHD_OPTION_EXTERNAL_LOGGER, logFromLibrary,
        streams_.get(), MHD_OPTION_CONNECTION_LIMIT, limits_.total, MHD_OPTION_CONNECTION_TIMEOUT,
        limits_.idleTimeoutS, MHD_OPTION_NOTIFY_CONNECTION, onConnection, streams_.get(),
        MHD_OPTION_NOTIFY_COMPLETED, onRequestEnded, streams_.get(), MHD_OPTION_END);
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    streams_->epollFd = epollFd_;
    if (daemon_ == nullptr || epollFd_ < 0 ||
        !watch(epollFd_, MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd,
               &libraryTag)) {
        error = "cannot serve the map on " + where + ": " + std::strerror(errno);
        return false;
    }
    watchListener(nowMs());
    port_ = streams_->listener.port();
    nextHeartbeatMs_ = nowMs() + limits_.heartbeatMs;
    return true;
}

void MapServer::watchListener(long long nowMs) {
    const bool wanted = streams_->listener.listening(nowMs);
    if (wanted && !listenerWatched_) {
        listenerWatched_ = watch(epollFd_, streams_->listener.fd(), &listenerTag);
    } else if (!wanted && listenerWatched_) {
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, streams_->listener.fd(), nullptr);
        listenerWatched_ = false;
    }
}

int MapServer::timeoutMs() {
    const long long now = nowMs();
    long long wait = nextHeartbeatMs_ - now;
    MHD_UNSIGNED_LONG_LONG library = 0;
    libraryDueMs_ = now + wait;
    if (MHD_get_timeout(daemon_, &library) == MHD_YES && static_cast<long long>(library) < wait) {
        wait = static_cast<long long>(library);
        libraryDueMs_ = now + wait;
    }
    // A summary of the log, or the end of a pause in listening, is due.
    for (const long long due : {streams_->log.nextDueMs(), streams_->listener.resumeAtMs()}) {
        if (due > now && due - now < wait) {
            wait = due - now;
        }
    }
    return wait < 0 ? 0 : static_cast<int>(wait);
}

void MapServer::serveReady(long long nowMs) {
    epoll_event events[64];
    const int count = ::epoll_wait(epollFd_, events, 64, 0);
    bool connectionsWait = false;
    for (int i = 0; i < count; ++i) {
        void* tag = events[i].data.ptr;
        if (tag == &libraryTag) {
            streams_->resumed = true;  // the library has work: run it
        } else if (tag == &listenerTag) {
            connectionsWait = true;
        } else {
            auto& request = *static_cast<StreamRequest*>(tag);
            request.hungUp = true;
            resume(request);
        }
    }
    if (!connectionsWait) {
        return;
    }
    streams_->listener.acceptWaiting(nowMs, [this](int fd, std::uint32_t address, int port) {
        net::setSendBuffer(fd, MAP_SOCKET_SEND_BUFFER);
        sockaddr_in client{};
        client.sin_family = AF_INET;
        client.sin_addr.s_addr = htonl(address);
        client.sin_port = htons(static_cast<std::uint16_t>(port));
        // The library closes the socket when it cannot take it.
        MHD_add_connection(daemon_, fd, reinterpret_cast<sockaddr*>(&client), sizeof client);
        streams_->resumed = true;
    });
}

void MapServer::turn(bool ready) {
    const long long now = nowMs();
    if (now >= nextHeartbeatMs_) {
        map_.heartbeat();
        nextHeartbeatMs_ = now + limits_.heartbeatMs;
    }
    if (ready) {
        serveReady(now);
    }
    watchListener(now);
    // A busy world turns often; the library runs only when it has something
    // to do: its descriptor is ready, a stream has news, a connection came,
    // or its time is due.
    if (streams_->resumed || now >= libraryDueMs_) {
        streams_->resumed = false;
        MHD_run(daemon_);
    }
    streams_->log.flush(now);
}

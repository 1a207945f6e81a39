#include "server/map/map_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/net.h"
#include "protocol/monotonic_clock.h"
#include "server/map/map_page.h"
#include "server/server_log.h"

namespace {

// The kernel's share of a page's backlog is kept small, so that the stream
// bound is what a stuck page can cost.
constexpr int MAP_SOCKET_SEND_BUFFER = 64 * 1024;
// A connection that sends no complete request, or a stream that makes no
// progress, is closed after this long; streams have a heartbeat well inside it.
constexpr unsigned MAP_IDLE_TIMEOUT_S = 30;

struct StreamRequest;

}  // namespace

// The server's open streams, so that a shutting-down server resumes the
// suspended ones (the library must not be stopped with any suspended).
struct MapStreams {
    LiveMap* map = nullptr;
    MHD_Response* page = nullptr;
    std::set<StreamRequest*> open;
    bool shuttingDown = false;
    bool resumed = false;  // a stream was resumed: the library must run this turn
};

namespace {

// One page reading /events.
struct StreamRequest {
    MapStreams* owner = nullptr;
    MapStream* stream = nullptr;
    MHD_Connection* connection = nullptr;
    bool suspended = false;
    bool dropLogged = false;
};

void wake(StreamRequest& request) {
    if (request.stream->buffer.overflowed()) {
        if (!request.dropLogged) {
            request.dropLogged = true;
            logLine("map page does not read its stream: dropped");
            // A page whose socket is full is never asked for more bytes;
            // one second without progress closes it.
            MHD_set_connection_option(request.connection, MHD_CONNECTION_OPTION_TIMEOUT, 1u);
        }
    }
    if (request.suspended) {
        request.suspended = false;
        request.owner->resumed = true;
        MHD_resume_connection(request.connection);
    }
}

ssize_t readStream(void* cls, std::uint64_t, char* buffer, std::size_t max) {
    auto& request = *static_cast<StreamRequest*>(cls);
    if (request.stream->buffer.overflowed()) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (request.owner->shuttingDown) {
        return MHD_CONTENT_READER_END_OF_STREAM;
    }
    const std::size_t count = request.owner->map->read(request.stream, buffer, max);
    if (request.stream->buffer.overflowed()) {
        wake(request);  // a first event larger than the bound: dropped
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
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, std::size_t*, void**) {
    auto& streams = *static_cast<MapStreams*>(cls);
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 &&
        std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
        return queueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "read-only: GET or HEAD\n");
    }
    if (std::strcmp(url, "/") == 0) {
        return MHD_queue_response(connection, MHD_HTTP_OK, streams.page);
    }
    if (std::strcmp(url, "/events") == 0) {
        return queueStream(streams, connection);
    }
    return queueText(connection, MHD_HTTP_NOT_FOUND, "not found\n");
}

void onConnection(void*, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
    if (code != MHD_CONNECTION_NOTIFY_STARTED) {
        return;
    }
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info != nullptr) {
        net::setSendBuffer(info->connect_fd, MAP_SOCKET_SEND_BUFFER);
    }
}

void logFromLibrary(void*, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line = std::string("map: ") + text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    logLine(line);
}

}  // namespace

MapServer::MapServer(std::vector<std::string> worlds, int hearingRange, std::size_t streamBound)
    : map_(std::move(worlds), hearingRange, streamBound), streams_(std::make_unique<MapStreams>()) {
    streams_->map = &map_;
}

MapServer::~MapServer() {
    if (streams_->page != nullptr) {
        MHD_destroy_response(streams_->page);
    }
    if (daemon_ == nullptr) {
        return;
    }
    streams_->shuttingDown = true;
    for (StreamRequest* request : streams_->open) {
        if (request->suspended) {
            request->suspended = false;
            MHD_resume_connection(request->connection);
        }
    }
    MHD_run(daemon_);
    MHD_stop_daemon(daemon_);
}

bool MapServer::start(const std::string& address, int port, std::string& error) {
    sockaddr_in bind{};
    bind.sin_family = AF_INET;
    bind.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &bind.sin_addr) != 1) {
        error = "not an IPv4 address for the map: " + address;
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
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG, 0, nullptr, nullptr, answer,
        streams_.get(), MHD_OPTION_EXTERNAL_LOGGER, logFromLibrary, nullptr, MHD_OPTION_SOCK_ADDR,
        &bind, MHD_OPTION_CONNECTION_LIMIT, MAP_MAX_CONNECTIONS, MHD_OPTION_CONNECTION_TIMEOUT,
        MAP_IDLE_TIMEOUT_S, MHD_OPTION_NOTIFY_CONNECTION, onConnection, nullptr, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        error = "cannot serve the map on " + address + ":" + std::to_string(port) + ": " +
                std::strerror(errno);
        return false;
    }
    epollFd_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
    nextHeartbeatMs_ = nowMs() + MAP_HEARTBEAT_MS;
    return true;
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
    return wait < 0 ? 0 : static_cast<int>(wait);
}

void MapServer::turn(bool ready) {
    const long long now = nowMs();
    if (now >= nextHeartbeatMs_) {
        map_.heartbeat();
        nextHeartbeatMs_ = now + MAP_HEARTBEAT_MS;
    }
    // A busy world turns often; the library runs only when it has something
    // to do: its descriptor is ready, a stream has news, or its time is due.
    if (ready || streams_->resumed || now >= libraryDueMs_) {
        streams_->resumed = false;
        MHD_run(daemon_);
    }
}

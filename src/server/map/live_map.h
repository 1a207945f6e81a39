#pragma once

// The live map's view of the world: a copy of every avatar's presence and
// position, kept from the server's observer calls, and the pages' streams
// that each change is published to as one Server-Sent Event.
//
// A console message is paired with the said line it relays: the bot sends
// "NAME:\tTEXT" for a line TEXT said by NAME, so the map remembers the
// latest speaker of each such text among the last RECENT_SAID_LINES said
// lines, and names that speaker in the console event (0 when none matches).
//
// A new stream's first events (an `arrived` for every avatar present) are
// not written out at once: a world of thousands with long escaped names
// makes more than a page's whole backlog bound. They are made from the map
// as the page reads, a few kilobytes at a time, by session number; news about
// an avatar the stream has not been told of yet is left out, since its
// `arrived` will carry it as it is then. So a stream costs at most its bound,
// however large the world.

#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/map/stream_buffer.h"
#include "server/world_observer.h"

inline constexpr std::size_t RECENT_SAID_LINES = 1024;

// One page's stream. `wake` is called after bytes are appended or the buffer
// overflowed, so that the HTTP side sends them or drops the page.
struct MapStream {
    explicit MapStream(std::size_t bound) : buffer(bound) {}
    StreamBuffer buffer;
    std::function<void()> wake;
    // The stream has been told of every avatar whose session is at most this
    // (and of each one's news since); `ready` once all were told.
    int toldThrough = std::numeric_limits<int>::min();
    bool ready = false;
};

// At most this much of a stream's backlog is its first events, so that news
// still has room under the bound while they go out.
inline constexpr std::size_t MAP_FIRST_EVENTS_BYTES = 16 * 1024;

class LiveMap : public WorldObserver {
  public:
    LiveMap(std::vector<std::string> worlds, int hearingRange, std::size_t streamBound);

    // A new stream that begins with the hello event and then every avatar
    // present and the ready event, as it is read; it stays valid until
    // close() is called with it.
    MapStream* open();
    // Moves up to `max` bytes of the stream, oldest first, to `out`, making
    // more of its first events when they are due; their count (0: nothing to
    // send until the stream is woken).
    std::size_t read(MapStream* stream, char* out, std::size_t max);
    void close(MapStream* stream);
    std::size_t streamCount() const { return streams_.size(); }
    // Sends an SSE comment to every stream, so that dead pages are found and
    // idle ones are not timed out.
    void heartbeat();

    void arrived(const ObservedAvatar& avatar) override;
    void moved(int session, int x, int y, int z) override;
    void left(int session) override;
    void said(int session, const std::string& text) override;
    void consoleSent(int sender, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                     const std::string& text, const std::vector<int>& receivers) override;

  private:
    // Publishes to every stream; an event about one avatar's presence or
    // place skips the streams that have not been told of it yet.
    void publish(const std::string& json, std::optional<int> about = std::nullopt);
    void deliver(MapStream& stream, const std::string& bytes);
    void tellPresent(MapStream& stream);

    std::vector<std::string> worlds_;
    int hearingRange_;
    std::size_t streamBound_;
    std::map<int, ObservedAvatar> avatars_;  // by session
    std::map<MapStream*, std::unique_ptr<MapStream>> streams_;
    // "NAME:\tTEXT" -> (speaker session, said-line number), and the order in
    // which the lines were said, to forget the oldest.
    std::unordered_map<std::string, std::pair<int, unsigned long long>> recentSaid_;
    std::deque<std::pair<std::string, unsigned long long>> saidOrder_;
    unsigned long long saidCount_ = 0;
};

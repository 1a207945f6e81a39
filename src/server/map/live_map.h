#pragma once

// The live map's view of the world: a copy of every avatar's presence and
// position, kept from the server's observer calls, and the pages' streams
// that each change is published to as one Server-Sent Event.
//
// A console message is paired with the said line it relays: the bot sends
// "NAME:\tTEXT" for a line TEXT said by NAME, so the map remembers the
// latest speaker of each such text among the last RECENT_SAID_LINES said
// lines, and names that speaker in the console event (0 when none matches).

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
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
};

class LiveMap : public WorldObserver {
  public:
    LiveMap(std::vector<std::string> worlds, int hearingRange, std::size_t streamBound);

    // A new stream that begins with the hello event and every avatar present;
    // it stays valid until close() is called with it.
    MapStream* open();
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
    void publish(const std::string& json);
    void deliver(MapStream& stream, const std::string& bytes);

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

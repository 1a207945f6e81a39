#include "server/map/live_map.h"

#include <algorithm>

#include "server/map/map_events.h"

LiveMap::LiveMap(std::vector<std::string> worlds, int hearingRange, std::size_t streamBound)
    : worlds_(std::move(worlds)), hearingRange_(hearingRange), streamBound_(streamBound) {}

MapStream* LiveMap::open() {
    auto stream = std::make_unique<MapStream>(streamBound_);
    MapStream* handle = stream.get();
    streams_[handle] = std::move(stream);
    handle->buffer.append(sseFrame(helloEvent(worlds_, hearingRange_)));
    return handle;
}

std::size_t LiveMap::read(MapStream* stream, char* out, std::size_t max) {
    tellPresent(*stream);
    return stream->buffer.take(out, max);
}

void LiveMap::tellPresent(MapStream& stream) {
    // Up to half the bound, so that news still fits beside.
    const std::size_t room = std::min(MAP_FIRST_EVENTS_BYTES, streamBound_ / 2);
    while (!stream.ready && !stream.buffer.overflowed() && stream.buffer.size() < room) {
        auto next = avatars_.upper_bound(stream.toldThrough);
        if (next == avatars_.end()) {
            stream.ready = true;
            stream.buffer.append(sseFrame(readyEvent()));
            return;
        }
        const std::string frame = sseFrame(arrivedEvent(next->second));
        // An event that would pass the bound waits for the page to read,
        // unless nothing waits: then it can never fit, and the page is
        // dropped as one whose backlog passed the bound.
        if (stream.buffer.size() > 0 && frame.size() > streamBound_ - stream.buffer.size()) {
            return;
        }
        stream.buffer.append(frame);
        stream.toldThrough = next->first;
    }
}

void LiveMap::close(MapStream* stream) {
    streams_.erase(stream);
}

void LiveMap::heartbeat() {
    for (auto& [handle, stream] : streams_) {
        deliver(*stream, ":\n\n");
    }
}

void LiveMap::arrived(const ObservedAvatar& avatar) {
    avatars_[avatar.session] = avatar;
    if (!streams_.empty()) {
        publish(arrivedEvent(avatar), avatar.session);
    }
}

void LiveMap::moved(int session, int x, int y, int z) {
    auto found = avatars_.find(session);
    if (found == avatars_.end()) {
        return;
    }
    found->second.x = x;
    found->second.y = y;
    found->second.z = z;
    if (!streams_.empty()) {
        publish(movedEvent(session, x, y, z), session);
    }
}

void LiveMap::left(int session) {
    if (avatars_.erase(session) != 0 && !streams_.empty()) {
        publish(leftEvent(session), session);
    }
}

void LiveMap::said(int session, const std::string& text) {
    auto found = avatars_.find(session);
    if (found != avatars_.end()) {
        std::string key = found->second.name + ":\t" + text;
        ++saidCount_;
        recentSaid_[key] = {session, saidCount_};
        saidOrder_.emplace_back(std::move(key), saidCount_);
        if (saidOrder_.size() > RECENT_SAID_LINES) {
            auto oldest = recentSaid_.find(saidOrder_.front().first);
            // A text said again later is remembered under its later number.
            if (oldest != recentSaid_.end() && oldest->second.second == saidOrder_.front().second) {
                recentSaid_.erase(oldest);
            }
            saidOrder_.pop_front();
        }
    }
    if (!streams_.empty()) {
        publish(saidEvent(session, text));
    }
}

void LiveMap::consoleSent(int sender, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                          const std::string& text, const std::vector<int>& receivers) {
    if (streams_.empty()) {
        return;
    }
    auto line = recentSaid_.find(text);
    const int speaker = line == recentSaid_.end() ? 0 : line->second.first;
    publish(consoleEvent(sender, speaker, red, green, blue, text, receivers));
}

void LiveMap::publish(const std::string& json, std::optional<int> about) {
    const std::string frame = sseFrame(json);
    for (auto& [handle, stream] : streams_) {
        if (about && !stream->ready && *about > stream->toldThrough) {
            continue;  // its arrived event, still to come, tells it as it is then
        }
        deliver(*stream, frame);
    }
}

void LiveMap::deliver(MapStream& stream, const std::string& bytes) {
    if (stream.buffer.overflowed()) {
        return;  // already told; the HTTP side is dropping the page
    }
    stream.buffer.append(bytes);
    if (stream.wake) {
        stream.wake();
    }
}

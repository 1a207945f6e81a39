#include "server/place_news.h"

namespace {

// The room kept for the news of the next round: a mass arrival's is given
// back.
constexpr std::size_t KEPT_BYTES = 64 * 1024;

}  // namespace

void PlaceNews::join(NewsCursor& cursor) const {
    if (cursor.round != round_) {
        cursor.round = round_;
        cursor.told = 0;
        cursor.own.clear();
    }
}

void PlaceNews::add(std::string_view frame, NewsCursor* author) {
    const std::size_t begin = bytes_.size();
    bytes_ += frame;
    if (author != nullptr) {
        join(*author);
        author->own.emplace_back(begin, bytes_.size());
    }
}

void PlaceNews::addArrival(std::string_view frame, NewsCursor& newcomer) {
    bytes_ += frame;
    newcomer.round = round_;
    newcomer.told = bytes_.size();
    newcomer.own.clear();
}

void PlaceNews::endRound() {
    if (bytes_.empty()) {
        return;
    }
    ++round_;
    bytes_.clear();
    if (bytes_.capacity() > KEPT_BYTES) {
        std::string().swap(bytes_);
    }
}

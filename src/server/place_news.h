#pragma once

// What the members of one place are still to be told: the frames of
// arrivals, departures and moves, gathered over a turn and queued to each
// member in a piece or two at the turn's end, or before anything else is
// sent to it. A crowd's join then costs each member one append a turn
// rather than one per newcomer, and each member is still told everything in
// the order it happened. A member is never told its own moves, nor what
// happened before it arrived (its roster had that).

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// How far one member has been told.
struct NewsCursor {
    unsigned round = 0;   // the round `told` and `own` are of
    std::size_t told = 0;  // bytes of that round already told
    // The member's own frames of that round past `told`: [begin, end).
    std::vector<std::pair<std::size_t, std::size_t>> own;
};

class PlaceNews {
  public:
    bool empty() const { return bytes_.empty(); }
    std::size_t size() const { return bytes_.size(); }

    // A frame every member is to be told of, but its author (null: none).
    void add(std::string_view frame, NewsCursor* author);
    // A newcomer's arrival: every member is to be told of it; the newcomer
    // already knows all there is.
    void addArrival(std::string_view frame, NewsCursor& newcomer);

    // Calls tell(piece) for each piece the cursor's member has not been told,
    // in order, and marks it told.
    template <typename Tell>
    void catchUp(NewsCursor& cursor, Tell&& tell) {
        if (bytes_.empty()) {
            return;
        }
        std::size_t from = 0;
        if (cursor.round == round_) {
            from = cursor.told;
        } else {
            cursor.own.clear();
        }
        const std::string_view bytes = bytes_;
        for (const auto& [begin, end] : cursor.own) {
            if (begin > from) {
                tell(bytes.substr(from, begin - from));
            }
            from = end;
        }
        if (from < bytes.size()) {
            tell(bytes.substr(from));
        }
        cursor.round = round_;
        cursor.told = bytes.size();
        cursor.own.clear();
    }

    // Every member has been told all: the next frame begins a new round.
    void endRound();

  private:
    // Makes the cursor one of this round.
    void join(NewsCursor& cursor) const;

    std::string bytes_;
    unsigned round_ = 1;
};

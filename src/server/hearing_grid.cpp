#include "server/hearing_grid.h"

#include <algorithm>

namespace {

// Rounds towards minus infinity, so that the cells on both sides of 0 are
// as wide as the others.
std::int64_t floorDiv(std::int64_t value, std::int64_t size) {
    const std::int64_t quotient = value / size;
    return quotient * size > value ? quotient - 1 : quotient;
}

}  // namespace

HearingGrid::HearingGrid(int hearingRange) : cellSize_(std::max(1, hearingRange)) {}

HearingGrid::Key HearingGrid::keyOf(int x, int y, int z) const {
    return {floorDiv(x, cellSize_), floorDiv(y, cellSize_), floorDiv(z, cellSize_)};
}

std::size_t HearingGrid::KeyHash::operator()(const Key& key) const {
    std::uint64_t hash = 1469598103934665603ULL;
    for (std::int64_t part : {key.x, key.y, key.z}) {
        hash = (hash ^ static_cast<std::uint64_t>(part)) * 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash);
}

void HearingGrid::place(int avatar, int x, int y, int z) {
    const Key key = keyOf(x, y, z);
    const auto index = static_cast<std::size_t>(avatar);
    if (index >= where_.size()) {
        where_.resize(index + 1);
    }
    if (where_[index].placed && where_[index].key == key) {
        return;
    }
    remove(avatar);
    std::vector<int>& cell = cells_[key];
    where_[index] = {key, cell.size(), true};
    cell.push_back(avatar);
}

void HearingGrid::remove(int avatar) {
    const auto index = static_cast<std::size_t>(avatar);
    if (index >= where_.size() || !where_[index].placed) {
        return;
    }
    Where& where = where_[index];
    auto cell = cells_.find(where.key);
    std::vector<int>& avatars = cell->second;
    // The last of the cell takes the leaver's slot.
    avatars[where.index] = avatars.back();
    where_[static_cast<std::size_t>(avatars.back())].index = where.index;
    avatars.pop_back();
    if (avatars.empty()) {
        cells_.erase(cell);
    }
    where.placed = false;
}

#include "server/map/stream_buffer.h"

#include <cstring>

bool StreamBuffer::append(std::string_view bytes) {
    if (overflowed_) {
        return false;
    }
    if (bytes.size() > bound_ - size()) {
        overflowed_ = true;
        std::string().swap(data_);
        read_ = 0;
        return false;
    }
    // Taken bytes are let go only once they are most of the storage, so that
    // the copy costs no more than the appends that filled it.
    if (read_ > 0 && read_ >= data_.size() / 2) {
        data_.erase(0, read_);
        read_ = 0;
    }
    data_.append(bytes);
    return true;
}

std::size_t StreamBuffer::take(char* out, std::size_t max) {
    const std::size_t count = size() < max ? size() : max;
    std::memcpy(out, data_.data() + read_, count);
    read_ += count;
    if (read_ == data_.size()) {
        data_.clear();
        read_ = 0;
    }
    return count;
}

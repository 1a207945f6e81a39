#include "sdk/sdk_backend.h"

namespace {
const std::string EMPTY_TEXT;

}  // namespace

int SdkBackend::setEventHandler(int event, SdkEventHandler handler) {
    if (event < 0 || event >= EVENT_SLOTS) {
        return SDK_RC_NOT_ALLOWED;
    }
    handlers_[event] = handler;
    return SDK_OK;
}

int SdkBackend::setInt(int attribute, int value) {
    storeInt(attribute, value);
    return SDK_OK;
}

void SdkBackend::storeInt(int attribute, int value) {
    if (isDirect(attribute)) {
        directInts_[static_cast<std::size_t>(attribute)] = value;
    } else {
        otherInts_[attribute] = value;
    }
}

int SdkBackend::setString(int attribute, const std::string& value) {
    if (isDirect(attribute)) {
        directStrings_[static_cast<std::size_t>(attribute)] = value;
    } else {
        otherStrings_[attribute] = value;
    }
    return SDK_OK;
}

int SdkBackend::setBool(int attribute, int value) {
    storeInt(attribute, value != 0 ? 1 : 0);
    return SDK_OK;
}

int SdkBackend::getInt(int attribute) {
    if (current_ != nullptr) {
        auto found = current_->ints.find(attribute);
        if (found != current_->ints.end()) {
            return found->second;
        }
    }
    return attributeInt(attribute);
}

const char* SdkBackend::getString(int attribute) {
    if (current_ != nullptr) {
        auto found = current_->strings.find(attribute);
        if (found != current_->strings.end()) {
            return found->second.c_str();
        }
    }
    return attributeString(attribute).c_str();
}

void SdkBackend::deliver(SdkEvent event) {
    delivered_.push_back(std::move(event));
    const SdkEvent& stored = delivered_.back();
    if (stored.type < 0 || stored.type >= EVENT_SLOTS || handlers_[stored.type] == nullptr) {
        return;
    }
    current_ = &stored;
    handlers_[stored.type]();
    current_ = nullptr;
}

void SdkBackend::forgetDeliveredEvents() {
    delivered_.clear();
}

int SdkBackend::otherInt(int attribute) const {
    auto found = otherInts_.find(attribute);
    return found == otherInts_.end() ? 0 : found->second;
}

const std::string& SdkBackend::otherString(int attribute) const {
    auto found = otherStrings_.find(attribute);
    return found == otherStrings_.end() ? EMPTY_TEXT : found->second;
}

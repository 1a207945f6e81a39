#include "platform/local_time.h"

bool toLocalTime(std::time_t moment, LocalTime& local) {
    local = LocalTime{};
    if (::localtime_r(&moment, &local.fields) == nullptr) {
        local = LocalTime{};
        return false;
    }
    local.offsetMinutes = static_cast<int>(local.fields.tm_gmtoff / 60);
    return true;
}

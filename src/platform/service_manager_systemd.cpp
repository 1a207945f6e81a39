#include <systemd/sd-daemon.h>

#include <cstdint>

#include "platform/service_manager.h"

bool notifyServiceManager(const std::string& state) {
    return ::sd_notify(0, state.c_str()) > 0;
}

long long serviceWatchdogMicroseconds() {
    std::uint64_t interval = 0;
    return ::sd_watchdog_enabled(0, &interval) > 0 ? static_cast<long long>(interval) : 0;
}

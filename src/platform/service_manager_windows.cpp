#include "platform/service_manager.h"

// A Windows service speaks to its manager through the service control API,
// which a console program started by hand does not use: nothing to tell.

bool notifyServiceManager(const std::string&) {
    return false;
}

long long serviceWatchdogMicroseconds() {
    return 0;
}

#include "app/service_status.h"

#include <ctime>

#include "platform/console_window.h"
#include "platform/local_time.h"
#include "platform/service_manager.h"
#include "protocol/monotonic_clock.h"
#include "sdk/connection_notes.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"

ServiceStatusState ServiceStatus;

namespace {

std::string localTimeText(std::time_t moment) {
    LocalTime local;
    toLocalTime(moment, local);
    char buffer[32];
    const std::size_t length =
        std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H:%M:%S", &local.fields);
    return std::string(buffer, length);
}

// Sends the status line when it differs from the one shown.
void showStatus(const char* before) {
    std::string status = serviceStatusLine();
    if (status == ServiceStatus.shownStatus && *before == '\0') {
        return;
    }
    notifyServiceManager(before + ("STATUS=" + status));
    showInConsoleTitle(status);
    ServiceStatus.shownStatus = std::move(status);
}

}  // namespace

void resetServiceStatus() {
    ServiceStatus = ServiceStatusState{};
}

void noteWorldEntered(const std::string& world) {
    ServiceStatus.world = world;
}

void noteLineHeard() {
    ++ServiceStatus.linesHeard;
}

void noteLineRelayed() {
    ++ServiceStatus.linesRelayed;
}

std::string serviceStatusLine() {
    std::string line = "В мире " + cp1251ToUtf8(ServiceStatus.world);
    if (!ConnectionNotes.connected) {
        line += ": связь потеряна, переподключаюсь";
    }
    line += "; аватаров: " + std::to_string(AvatarRoster.size()) +
            "; строк услышано: " + std::to_string(ServiceStatus.linesHeard) +
            ", передано: " + std::to_string(ServiceStatus.linesRelayed) + "; ";
    if (ConnectionNotes.reconnections == 0) {
        line += "переподключений не было";
    } else {
        line += "переподключений: " + std::to_string(ConnectionNotes.reconnections) +
                ", последнее " + localTimeText(ConnectionNotes.lastReconnection);
    }
    return line;
}

void announceReady() {
    if (ServiceStatus.ready) {
        return;
    }
    ServiceStatus.ready = true;
    showStatus("READY=1\n");
    const long long now = nowMs();
    ServiceStatus.nextStatusMs = now + STATUS_REFRESH_MS;
    ServiceStatus.nextWatchdogMs = now;
}

void keepServiceInformed() {
    const long long now = nowMs();
    if (now >= ServiceStatus.nextWatchdogMs) {
        const long long intervalUs = serviceWatchdogMicroseconds();
        // Twice as often as asked, so that one slow turn does not miss it.
        ServiceStatus.nextWatchdogMs = now + (intervalUs > 0 ? intervalUs / 2000 : 60000);
        if (intervalUs > 0) {
            notifyServiceManager("WATCHDOG=1");
        }
    }
    if (now >= ServiceStatus.nextStatusMs) {
        ServiceStatus.nextStatusMs = now + STATUS_REFRESH_MS;
        showStatus("");
    }
}

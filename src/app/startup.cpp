#include "app/startup.h"

#include <clocale>

#include "app/config_files.h"
#include "app/service_status.h"
#include "app/startup_config.h"
#include "app/world_session.h"
#include "relay/personal_settings.h"
#include "world/chat_log.h"

void setRussianLocale() {
    for (const char* name : {"rus", "ru_RU.CP1251", "ru_RU.cp1251", "ru_RU.UTF-8", "ru_RU.utf8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            return;
        }
    }
}

void runStartup() {
    settleServerAddress();
    loadPersonalSettings();
    setRussianLocale();
    obtainEntryPoint();
    obtainAccount();
    openWorldSession();
    if (!StartupConfig.entryPointFromFile) {
        saveEntryPoint();
    }
    writeSessionBanner();
    announceReady();
}

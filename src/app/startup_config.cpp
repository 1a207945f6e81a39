#include "app/startup_config.h"

StartupValues StartupConfig;

void resetStartupConfig() { StartupConfig = StartupValues{}; }

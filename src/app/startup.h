#pragma once

// The start-up sequence: address, personal settings, locale, entry point,
// account, world session, entry point saved, session banner, and READY to the
// service manager (app/service_status.h). Runs once, before
// the main loop; ends the program when the instance cannot be created.
void runStartup();

// Switches the process to a Russian locale where one is installed. Nothing the
// bot does depends on which one is found: case folding and time formats are
// the program's own.
void setRussianLocale();

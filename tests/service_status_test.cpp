#include "app/service_status.h"

#include <gtest/gtest.h>

#include <ctime>

#include "platform/local_time.h"
#include "sdk/connection_notes.h"
#include "support/bot_fixture.h"
#include "text/cp1251.h"
#include "world/avatar_roster.h"

using ServiceStatusTest = BotTest;

TEST_F(ServiceStatusTest, TheStatusLineSaysWhereTheBotIsWhatItDidAndWhenItLastCameBack) {
    noteWorldEntered(ru("Мир-1"));
    EXPECT_EQ(serviceStatusLine(),
              "В мире Мир-1; аватаров: 0; строк услышано: 0, передано: 0; переподключений не было");

    AvatarRoster.sessions = {4, 9};
    AvatarRoster.names = {"A", "B"};
    AvatarRoster.x = AvatarRoster.y = AvatarRoster.z = AvatarRoster.citizens = {0, 0};
    for (int i = 0; i < 3; ++i) {
        noteLineHeard();
    }
    noteLineRelayed();
    ConnectionNotes.connected = false;
    EXPECT_EQ(serviceStatusLine(),
              "В мире Мир-1: связь потеряна, переподключаюсь; аватаров: 2; строк услышано: 3, "
              "передано: 1; переподключений не было");

    // 10.12.2026 11:40:02 local time.
    LocalTime local;
    local.fields.tm_year = 126;
    local.fields.tm_mon = 11;
    local.fields.tm_mday = 10;
    local.fields.tm_hour = 11;
    local.fields.tm_min = 40;
    local.fields.tm_sec = 2;
    local.fields.tm_isdst = -1;
    ConnectionNotes.connected = true;
    ConnectionNotes.reconnections = 2;
    ConnectionNotes.lastReconnection = std::mktime(&local.fields);
    EXPECT_EQ(serviceStatusLine(),
              "В мире Мир-1; аватаров: 2; строк услышано: 3, передано: 1; переподключений: 2, "
              "последнее 10.12.2026 11:40:02");
}

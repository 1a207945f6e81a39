#pragma once

// The world-client SDK as the bot sees it: free functions over one current bot
// instance. Every operation forwards to the installed backend: the network
// backend by default, a scripted backend in tests.
//
// Results are reason codes (sdk/reason_codes.h), 0 meaning success. Event
// handlers run only inside SdkProcessEvents and read the event being delivered
// with SdkGetInt and SdkGetString.

#include <string>

#include "sdk/reason_codes.h"

// The build number that SdkInitialise accepts.
inline constexpr int SDK_BUILD = 93;

// Attributes set before login.
inline constexpr int SDK_ATTR_LOGIN_NAME = 0;           // text: the bot's name
inline constexpr int SDK_ATTR_LOGIN_OWNER = 2;          // integer: owner's citizen number
inline constexpr int SDK_ATTR_LOGIN_PASSWORD = 3;       // text: privilege password
inline constexpr int SDK_ATTR_LOGIN_APPLICATION = 6;    // text: application name
inline constexpr int SDK_ATTR_LOGIN_HEAR_ALL = 328;     // bool: hear every said line of the world
// Attributes of the bot's own position, applied by SdkCommitState.
inline constexpr int SDK_ATTR_MY_EAST_WEST = 198;       // west positive
inline constexpr int SDK_ATTR_MY_ALTITUDE = 199;
inline constexpr int SDK_ATTR_MY_NORTH_SOUTH = 200;     // north positive
inline constexpr int SDK_ATTR_MY_HEADING = 201;
inline constexpr int SDK_ATTR_MY_GESTURE = 203;
// Attributes of avatar events.
inline constexpr int SDK_ATTR_AVATAR_SESSION = 206;
inline constexpr int SDK_ATTR_AVATAR_NAME = 207;        // also the speaker's name of a chat event
inline constexpr int SDK_ATTR_AVATAR_X = 208;
inline constexpr int SDK_ATTR_AVATAR_Y = 209;
inline constexpr int SDK_ATTR_AVATAR_Z = 210;
inline constexpr int SDK_ATTR_AVATAR_CITIZEN = 218;
// Attributes of chat events.
inline constexpr int SDK_ATTR_CHAT_SESSION = 222;
inline constexpr int SDK_ATTR_CHAT_MESSAGE = 223;
inline constexpr int SDK_ATTR_CHAT_TYPE = 251;
// Attributes of console messages, sent and received.
inline constexpr int SDK_ATTR_CONSOLE_RED = 329;
inline constexpr int SDK_ATTR_CONSOLE_GREEN = 330;
inline constexpr int SDK_ATTR_CONSOLE_BLUE = 331;
inline constexpr int SDK_ATTR_CONSOLE_MESSAGE = 334;

// Chat types (attribute 251).
inline constexpr int SDK_CHAT_SAID = 0;
inline constexpr int SDK_CHAT_BROADCAST = 1;
inline constexpr int SDK_CHAT_WHISPER = 2;

// Event numbers.
inline constexpr int SDK_EVENT_AVATAR_ARRIVED = 0;
inline constexpr int SDK_EVENT_AVATAR_MOVED = 1;
inline constexpr int SDK_EVENT_AVATAR_LEFT = 2;
inline constexpr int SDK_EVENT_CHAT = 6;
inline constexpr int SDK_EVENT_CONSOLE_MESSAGE = 29;

using SdkEventHandler = void (*)();

int SdkInitialise(int build);
int SdkSetEventHandler(int event, SdkEventHandler handler);
int SdkCreateInstance(const std::string& address, int port, int reserved);
int SdkSetInt(int attribute, int value);
int SdkSetString(int attribute, const std::string& value);
int SdkSetBool(int attribute, int value);
int SdkLogin();
int SdkEnterWorld(const std::string& world);
int SdkCommitState();
int SdkProcessEvents(int argument);
int SdkGetInt(int attribute);
// The text stays valid at least until the next SdkProcessEvents call.
const char* SdkGetString(int attribute);
int SdkSendConsoleMessage(int session);

class SdkBackend;
// Installs the backend that the operations forward to; nullptr restores the
// network backend. The backend must outlive its use.
void sdkUseBackend(SdkBackend* backend);

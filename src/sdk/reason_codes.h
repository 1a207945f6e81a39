#pragma once

// Reason codes returned by the SDK operations. 0 is success; every other value
// names one cause. The world server sends the same numbers on the wire, so a
// code means the same thing whether the client or the server found the fault.
enum SdkReason : int {
    SDK_OK = 0,
    SDK_RC_WRONG_BUILD = 1,           // SdkInitialise was given a build this layer does not speak
    SDK_RC_NOT_INITIALISED = 2,       // an operation came before a successful SdkInitialise
    SDK_RC_NO_INSTANCE = 3,           // an operation needs the instance that SdkCreateInstance makes
    SDK_RC_BAD_ADDRESS = 4,           // the server address is not a dotted IPv4 address, or bad port
    SDK_RC_CONNECT_FAILED = 5,        // the TCP connection could not be made (refused, unreachable)
    SDK_RC_TIMEOUT = 6,               // the server did not answer in time
    SDK_RC_CONNECTION_LOST = 7,       // the connection closed or failed while in use
    SDK_RC_PROTOCOL_ERROR = 8,        // a peer sent a message that breaks the wire protocol
    SDK_RC_VERSION_MISMATCH = 9,      // client and server speak different protocol versions
    SDK_RC_TEXT_TOO_LONG = 10,        // a name or text exceeds the protocol's limit
    SDK_RC_INVALID_TEXT = 11,         // a name or text holds a control byte, or is empty where not allowed
    SDK_RC_NOT_LOGGED_IN = 12,        // the operation needs a logged-in session
    SDK_RC_ALREADY_LOGGED_IN = 13,    // the instance has logged in already
    SDK_RC_BAD_CREDENTIALS = 14,      // unknown citizen or wrong privilege password
    SDK_RC_NO_SUCH_WORLD = 15,        // the server hosts no world of that name
    SDK_RC_NOT_IN_WORLD = 16,         // the operation needs the session to be in a world
    SDK_RC_NO_SUCH_SESSION = 17,      // no avatar with that session number is in the world
    SDK_RC_NOT_ALLOWED = 18,          // the session lacks the right (a tourist broadcasting, say)
    SDK_RC_SERVER_FULL = 19,          // the server refuses more connections
    SDK_RC_OUTPUT_FULL = 20,          // the client's unsent output has reached its bound
    SDK_RC_RATE_LIMITED = 21,         // the session or its address used up the world's allowance
    SDK_RC_NAME_IN_USE = 22,          // another avatar in that world has the name
};

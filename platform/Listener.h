// The settings of a TCP socket a server of the system listens on, for
// servers built on a library that leaves the socket to its caller
// (velmo-http on cpp-httplib). A Linux-only addition: docs/platform.md.
#pragma once

#include "platform/Types.h"

namespace velmo {

// For a socket before it is bound: its address may be bound again at once
// after the server ends (SO_REUSEADDR), and by one listener only (no
// SO_REUSEPORT: a second server on the same port fails instead of sharing
// its connections unnoticed). False when the system refuses the setting.
VELMO_PLATFORM_API bool PrepareListeningSocket(int socket);
// For a listening socket: the longest queue of connections not yet
// accepted the system allows (SOMAXCONN), so clients that connect at once
// are not left to the kernel's retry. False when the system refuses it.
VELMO_PLATFORM_API bool WidenListenBacklog(int socket);

}  // namespace velmo

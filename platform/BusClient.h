// A plain client connection to the bus the service is on, for programs
// that speak to its fixed objects (BusObject.h) directly rather than
// through automation proxies. It follows the same rules as the automation
// proxies (docs/platform.md): DBUS_SYSTEM_BUS_ADDRESS, else the system
// root's socket under VELMO_SYSROOT, else the machine's system bus; a host
// name reaches that machine's system bus over SSH.
#pragma once

#include "platform/Guid.h"
#include "platform/Types.h"

#include <sdbus-c++/sdbus-c++.h>

#include <memory>
#include <string>

namespace velmo {

// host: [USER@]HOST, or "" for the host that the AppID of serviceClass
// names (RemoteServerName, as CoCreateInstanceEx follows it for a remote
// server), or this machine when it names none or serviceClass is null.
// Null when the bus cannot be reached, with the reason in error (when
// error is not null).
VELMO_PLATFORM_API std::unique_ptr<sdbus::IConnection> ConnectServiceBus(const std::string& host,
                                                                         const CLSID* serviceClass, std::string* error);

// Waits until conn has something to process (call processPendingRequest
// then) or timeoutMs pass; a negative timeout waits as long as it takes.
// True after either; false, with the reason in error, when the wait
// itself failed.
VELMO_PLATFORM_API bool WaitForBusTraffic(sdbus::IConnection& conn, int timeoutMs, std::string* error);

}  // namespace velmo

// Which bus the automation bus uses. Internal to the platform library.
//
// The service, when D-Bus started it (DBUS_STARTER_BUS_TYPE set), connects
// to DBUS_STARTER_ADDRESS. Otherwise both ends take the system bus:
// DBUS_SYSTEM_BUS_ADDRESS when set; else, under a system root
// (VELMO_SYSROOT set), the socket run/dbus/system_bus_socket inside it, so
// that nothing outside the root is touched; else the machine's system bus.
// A host name reaches that machine's system bus over SSH instead.
// Throws sdbus::Error when the bus cannot be reached.
#pragma once

#include "platform/Guid.h"

#include <sdbus-c++/sdbus-c++.h>

#include <memory>
#include <string>

namespace velmo::detail {

enum class BusRole { Server, Client };

// The address the rules above choose for the local bus ("" for the
// machine's default system bus).
std::string LocalBusAddress(BusRole role);
std::unique_ptr<sdbus::IConnection> OpenBus(BusRole role, const std::string& host);
// The host a client machine's AppID names for the class ("RemoteServerName"),
// "" when the AppID says the service runs here ("LocalService") or names none.
std::string RemoteServerOf(REFCLSID clsid);

}  // namespace velmo::detail

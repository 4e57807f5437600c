// The files that make a service reachable on the D-Bus system bus: the
// activation file (a client's call starts the service) and the bus policy
// (who may own the name and who may call it). Both live under the system
// root, in the folders a system bus reads:
//   usr/share/dbus-1/system-services/<bus name>.service
//   etc/dbus-1/system.d/<bus name>.conf
// Each write replaces its file durably; removing a missing file succeeds.
#pragma once

#include "platform/Types.h"

#include <string>
#include <string_view>

namespace velmo {

VELMO_PLATFORM_API std::string BusActivationPath(std::string_view busName);
VELMO_PLATFORM_API std::string BusPolicyPath(std::string_view busName);

// Exec= the program (no arguments), User= the user it runs as,
// SystemdService= the unit, so a system bus under systemd asks systemd and
// a plain bus runs the program.
VELMO_PLATFORM_API bool WriteBusActivation(std::string_view busName, const std::string& program,
                                           std::string_view systemdUnit, std::string_view user);
// Who may use the name: root and the service's user may own it; root and
// the members of the callers' group may call it and receive its signals
// (which name messages and their parties); nobody else may send it
// anything or hear its signals. A user or group the machine does not know
// is skipped by the bus (root keeps its rights).
VELMO_PLATFORM_API bool WriteBusPolicy(std::string_view busName, std::string_view serviceUser,
                                       std::string_view callerGroup);
VELMO_PLATFORM_API bool RemoveBusPolicy(std::string_view busName);

}  // namespace velmo

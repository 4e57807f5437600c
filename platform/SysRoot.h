// The system root: VELMO_SYSROOT prefixes every fixed system path.
//
// Unset or empty means "/". Tests, the demo and packagers point it at a
// folder so the whole system runs there without touching the machine.
#pragma once

#include "platform/Types.h"

#include <string>
#include <string_view>

namespace velmo {
// The root, always ending in "/".
VELMO_PLATFORM_API std::string SysRoot();
// relative ("etc/velmo/system.reg") placed under the root.
VELMO_PLATFORM_API std::string SysRootPath(std::string_view relative);
// The installation's root folder: the registry value "root" of
// HKLM\Software\Norvane\Velmo, else (missing or empty) var/lib/velmo under
// the system root; always ending in "/".
VELMO_PLATFORM_API std::u16string InstallationRoot();
// Creates a folder and its parents (mode 0755); true when it exists afterwards.
VELMO_PLATFORM_API bool MakeDirectories(const std::string& path);
}  // namespace velmo

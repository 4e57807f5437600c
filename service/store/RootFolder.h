// The installation's root folder: the registry value "root" of
// HKLM\Software\Norvane\Velmo, else (missing or empty) the default
// $VELMO_SYSROOT/var/lib/velmo; always ending in "/".
#pragma once

#include <string>

namespace velmo::store {
std::u16string RootFolder();
} // namespace velmo::store

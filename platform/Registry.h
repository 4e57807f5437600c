// The registry: a file under the system root, read and changed whole
// (ReadRegistry, ModifyRegistry), with the Win32 calls the system makes.
//
// The file is etc/velmo/system.reg under VELMO_SYSROOT (RegistryTree.h
// describes its form). Every change takes an exclusive flock on
// system.reg.lock, reads the file afresh, applies the change and replaces
// the file atomically (temporary file, fsync, rename, fsync of the folder),
// so two processes never lose each other's updates and a reader never sees
// half a file. Readers take a shared lock and keep a cache that is refreshed
// whenever the file was replaced. A file that does not parse is never
// overwritten: reads and writes then fail with ERROR_BADDB.
//
// The calls return system error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
// ERROR_MORE_DATA, ...). The A forms take and give UTF-8, the encoding of
// Linux paths, since what they carry here is mostly file names. A key
// handle names its key by path: a key removed after it was opened gives
// ERROR_KEY_DELETED.
#pragma once

#include "platform/RegistryTree.h"

#include <functional>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

VELMO_PLATFORM_API LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
// data null: only the size (bytes, strings with their terminator) is given.
VELMO_PLATFORM_API LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                                         DWORD* cbData);
VELMO_PLATFORM_API LONG RegCloseKey(HKEY key);

namespace velmo {

// Reads the current tree under a shared lock.
VELMO_PLATFORM_API LONG ReadRegistry(const std::function<void(const RegistryTree&)>& reader);
// Changes the tree in one atomic rewrite under the exclusive lock. The
// change returns ERROR_SUCCESS to have the file written, anything else to
// leave it as it was (that code is returned).
VELMO_PLATFORM_API LONG ModifyRegistry(const std::function<LONG(RegistryTree&)>& change);
// A string value, or nullopt when the key or value is missing.
VELMO_PLATFORM_API std::optional<std::u16string> ReadRegistryString(Hive hive, std::u16string_view path,
                                                                    std::u16string_view name);
// Path of the registry file in force.
VELMO_PLATFORM_API std::string RegistryFilePath();

}  // namespace velmo

// The registry: a file under the system root with the Win32 calls.
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
// Linux paths, since what they carry here is mostly file names.
#pragma once

#include "platform/RegistryTree.h"

#include <functional>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

VELMO_PLATFORM_API LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
VELMO_PLATFORM_API LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result);
VELMO_PLATFORM_API LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
VELMO_PLATFORM_API LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                                        const void* security, PHKEY result, DWORD* disposition);
// data null: only the size (bytes, strings with their terminator) is given.
VELMO_PLATFORM_API LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                                         DWORD* cbData);
VELMO_PLATFORM_API LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                                         DWORD* cbData);
VELMO_PLATFORM_API LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                       DWORD cbData);
VELMO_PLATFORM_API LONG RegDeleteValueW(HKEY key, LPCWSTR name);
// Fails with ERROR_ACCESS_DENIED when the key has subkeys, as on Windows.
VELMO_PLATFORM_API LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// subKey null or empty: deletes what is under key, not key itself.
VELMO_PLATFORM_API LONG RegDeleteTreeW(HKEY key, LPCWSTR subKey);
VELMO_PLATFORM_API LONG RegCloseKey(HKEY key);

namespace velmo {

// Opens key handles as RAII.
class RegKeyHandle {
public:
    RegKeyHandle() = default;
    RegKeyHandle(const RegKeyHandle&) = delete;
    RegKeyHandle& operator=(const RegKeyHandle&) = delete;
    RegKeyHandle(RegKeyHandle&& o) noexcept : k_(o.k_) { o.k_ = nullptr; }
    ~RegKeyHandle()
    {
        if (k_)
            RegCloseKey(k_);
    }
    HKEY get() const { return k_; }
    PHKEY Receive()
    {
        if (k_)
            RegCloseKey(k_);
        k_ = nullptr;
        return &k_;
    }

private:
    HKEY k_ = nullptr;
};

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

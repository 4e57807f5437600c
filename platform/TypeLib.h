// Type libraries: the description of a module's automation interfaces,
// compiled into the module, and its registration.
//
// RegisterTypeLib writes HKEY_CLASSES_ROOT\TypeLib\{libid}\<major.minor>
// (default: help string; 0\linux64: the module's path; FLAGS; HELPDIR) and
// an Interface\{iid} key for each interface. A library with an
// introspection file name is also installed as D-Bus introspection XML in
// usr/share/dbus-1/interfaces/ under the system root. UnRegisterTypeLib
// removes all of it, and fails with TYPE_E_LIBNOTREGISTERED when the
// version is not registered.
#pragma once

#include "platform/Dispatch.h"

#include <span>
#include <string>

enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };

namespace velmo {

struct TypeLibDescription {
    GUID libid;
    WORD major;
    WORD minor;
    const char16_t* name;
    const char16_t* helpString;
    std::span<const DispInterface* const> interfaces;
    const char* introspectionFile;  // null: not published on the bus
};

// The D-Bus introspection XML of the library's interfaces: methods and
// properties with their bus types, and annotations carrying IID and DISPIDs.
VELMO_PLATFORM_API std::string IntrospectionXml(const TypeLibDescription& lib);
// The D-Bus type of an automation type ("s", "v", "i", "b", "d", "o").
VELMO_PLATFORM_API const char* BusType(VARTYPE vt);
VELMO_PLATFORM_API std::string IntrospectionPath(const TypeLibDescription& lib);

}  // namespace velmo

VELMO_PLATFORM_API HRESULT RegisterTypeLib(const velmo::TypeLibDescription* lib, LPCOLESTR fullPath, LPCOLESTR helpDir);
VELMO_PLATFORM_API HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

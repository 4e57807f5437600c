// Creating objects by class: in-process servers found through the registry.
//
// CoGetClassObject reads HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32
// (default value: the absolute path of a shared library), loads the module
// once per process (RTLD_NOW | RTLD_LOCAL, never unloaded) and asks its
// exported DllGetClassObject for the class factory. A class without that
// entry is REGDB_E_CLASSNOTREG. The COM initialisation calls keep
// bookkeeping only: there are no apartments, objects are called directly
// from any thread.
#pragma once

#include "platform/Unknown.h"

#include <string>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT = 4;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD EOAC_NONE = 0;

using HMODULE = void*;

VELMO_PLATFORM_API HRESULT CoInitialize(void* reserved);
VELMO_PLATFORM_API HRESULT CoInitializeEx(void* reserved, DWORD coInit);
VELMO_PLATFORM_API void CoUninitialize();
// Records the call; S_OK once per process, RPC_E_TOO_LATE afterwards.
VELMO_PLATFORM_API HRESULT CoInitializeSecurity(void* descriptor, LONG authServices, void* authList, void* reserved1,
                                                DWORD authLevel, DWORD impLevel, void* authInfo, DWORD capabilities,
                                                void* reserved3);
VELMO_PLATFORM_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** ppv);
VELMO_PLATFORM_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
// REGDB_E_CLASSNOTREG / CO_E_CLASSSTRING when no ProgID key names a class.
VELMO_PLATFORM_API HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// module null: the running program. Returns the characters written, 0 on failure.
VELMO_PLATFORM_API DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

namespace velmo {
// Loads a module (once per process) and gives its handle; null and an error
// text when it cannot be loaded.
VELMO_PLATFORM_API HMODULE LoadModule(const std::string& path, std::string* error);
VELMO_PLATFORM_API void* ModuleSymbol(HMODULE module, const char* name);
// The path of the module that holds this address (a module passes the
// address of one of its own functions).
VELMO_PLATFORM_API std::string ModulePathOf(const void* address);
VELMO_PLATFORM_API std::string ProgramPath();
}  // namespace velmo

using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();

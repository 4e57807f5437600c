// The automation bus: automation objects of one process used from others,
// as COM local and remote servers are on Windows, over the D-Bus system bus.
//
// Server side: CoRegisterClassObject with CLSCTX_LOCAL_SERVER publishes a
// class factory. The first registration connects to the bus (see
// docs/platform.md for which bus), takes the name org.norvane.Velmo and
// serves it from the registering thread's main loop (MainLoop.h). Clients call
// org.norvane.Velmo.Activator.CreateInstance with a CLSID or ProgID and get
// an object path; bus calls on it become GetIDsOfNames/Invoke on the
// object's IDispatch, driven by its interface's member table (the server
// registers the tables it serves with RegisterBusInterfaces). Method calls
// run on a small pool of worker threads; replies are sent from the loop's
// thread. The bridge holds one reference per client connection that got an
// object's path and drops it on Object.Release() or when that connection
// closes. Revoking the last class leaves the bus and releases every object.
//
// Client side: CoCreateInstance / CoCreateInstanceEx with
// CLSCTX_LOCAL_SERVER or CLSCTX_REMOTE_SERVER (COSERVERINFO naming a host
// reached over SSH) return an IDispatch proxy whose calls cross the bus;
// objects it returns are proxies too. The proxy speaks the interface it
// finds by introspection among those given to RegisterBusInterfaces.
#pragma once

#include "platform/Dispatch.h"

#include <cstddef>
#include <span>

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;

struct COSERVERINFO {
    DWORD dwReserved1;
    LPWSTR pwszName;  // host name, optionally USER@HOST; null: this machine
    void* pAuthInfo;
    DWORD dwReserved2;
};

struct MULTI_QI {
    const IID* pIID;
    IUnknown* pItf;
    HRESULT hr;
};

// A cookie for CoRevokeClassObject. Fails with CO_E_SERVER_EXEC_FAILURE
// (and publishes nothing) when the bus cannot be reached or the bus name
// is refused; the reason is left as the thread's error information.
VELMO_PLATFORM_API HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags,
                                                 DWORD* cookie);
// Must run on the thread that registered. CO_E_OBJNOTREG for an unknown cookie.
VELMO_PLATFORM_API HRESULT CoRevokeClassObject(DWORD cookie);

VELMO_PLATFORM_API HRESULT CoCreateInstanceEx(REFCLSID clsid, IUnknown* outer, DWORD context, COSERVERINFO* serverInfo,
                                              DWORD count, MULTI_QI* results);

namespace velmo {
// The interfaces the bus may carry, served or spoken by proxies. Kept for
// the life of the process; registering one twice is harmless.
VELMO_PLATFORM_API void RegisterBusInterfaces(std::span<const DispInterface* const> interfaces);
// Objects the bridge holds for clients now.
VELMO_PLATFORM_API std::size_t BusExportedObjects();
// The most objects one client connection may hold at a time. One more
// (created, or handed back by a call) is refused with an
// org.norvane.Velmo.Error.Exception naming the limit; the connection's
// other objects and every other client go on as before.
inline constexpr std::size_t kMaxObjectsPerClient = 1000;
// Whether the bus started this process (bus activation).
VELMO_PLATFORM_API bool StartedByBus();
}  // namespace velmo

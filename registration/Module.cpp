// velmops.so: registers, on a machine that only calls the service, the type
// library VelmoLib and the entries of NewSMS and MessageCenter, so clients
// there can create both classes by ProgID. It serves no class itself.
#include "interfaces/VelmoLib.h"
#include "interfaces/VelmoRegistration.h"
#include "platform/ClassFactory.h"
#include "platform/TypeLib.h"

namespace {

velmo::Registrar ModuleRegistrar() { return velmo::ModuleRegistrar(reinterpret_cast<const void*>(&ModuleRegistrar)); }

const char16_t* const kScripts[] = {velmo::velmolib::kClientAppIdScript, velmo::velmolib::kNewSmsScript,
                                    velmo::velmolib::kMessageCenterScript};

}  // namespace

VELMO_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv)
{
    if (ppv)
        *ppv = nullptr;
    return E_FAIL;
}

VELMO_MODULE_EXPORT HRESULT DllCanUnloadNow() { return S_OK; }

// Each step is tried whatever the one before returned, as registration
// does on Windows; the administrator sees the entries that are there.
VELMO_MODULE_EXPORT HRESULT DllRegisterServer()
{
    std::u16string path = velmo::Utf8ToUtf16(velmo::ModulePathOf(reinterpret_cast<const void*>(&ModuleRegistrar)));
    (void)RegisterTypeLib(&velmo::velmolib::kVelmoLib, path.c_str(), nullptr);
    velmo::Registrar registrar = ModuleRegistrar();
    for (const char16_t* script : kScripts)
        (void)registrar.StringRegister(script);
    return S_OK;
}

// The type library stays registered: other clients on the machine may use it.
VELMO_MODULE_EXPORT HRESULT DllUnregisterServer()
{
    velmo::Registrar registrar = ModuleRegistrar();
    for (const char16_t* script : kScripts)
        (void)registrar.StringUnregister(script);
    return S_OK;
}

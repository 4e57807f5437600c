// Loopback.so: the module's entry points and registration script.
#include "devices/loopback/LoopbackDevice.h"

#include "platform/Activation.h"
#include "platform/ClassFactory.h"
#include "platform/Registrar.h"
#include "platform/Text.h"

namespace {

const char16_t* kScript = uR"(
HKCR
{
    Loopback.Device.1 = s 'Loopback Device' { CLSID = s '{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}' }
    Loopback.Device = s 'Loopback Device'
    {
        CLSID = s '{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}'
        CurVer = s 'Loopback.Device.1'
    }
    NoRemove CLSID
    {
        ForceRemove {A12F36AA-5B02-4D44-AF51-8B3E6B864F17} = s 'Loopback Device'
        {
            ProgID = s 'Loopback.Device.1'
            VersionIndependentProgID = s 'Loopback.Device'
            InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
        }
    }
}
)";

velmo::ClassFactory<velmo::loopback::LoopbackDevice> g_factory;

velmo::Registrar MakeRegistrar() { return velmo::ModuleRegistrar(reinterpret_cast<const void*>(&MakeRegistrar)); }

} // namespace

VELMO_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return velmo::ServeClassObject(g_factory, CLSID_LoopbackDevice, clsid, riid, ppv);
}

VELMO_MODULE_EXPORT HRESULT DllCanUnloadNow() { return velmo::ModuleObjects() == 0 ? S_OK : S_FALSE; }

VELMO_MODULE_EXPORT HRESULT DllRegisterServer() { return MakeRegistrar().StringRegister(kScript); }

VELMO_MODULE_EXPORT HRESULT DllUnregisterServer() { return MakeRegistrar().StringUnregister(kScript); }

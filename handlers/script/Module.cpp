// ScriptHandler.so: the module's entry points and registration script.
#include "handlers/script/ScriptHandler.h"

namespace {

const char16_t* kScript = uR"(
HKCR
{
    Velmo.ScriptHandler.1 = s 'ScriptHandler Class' { CLSID = s '{6433DA4B-AC98-4EBD-B221-FD5B217DA8F6}' }
    Velmo.ScriptHandler = s 'ScriptHandler Class'
    {
        CLSID = s '{6433DA4B-AC98-4EBD-B221-FD5B217DA8F6}'
        CurVer = s 'Velmo.ScriptHandler.1'
    }
    NoRemove CLSID
    {
        ForceRemove {6433DA4B-AC98-4EBD-B221-FD5B217DA8F6} = s 'ScriptHandler Class'
        {
            ProgID = s 'Velmo.ScriptHandler.1'
            VersionIndependentProgID = s 'Velmo.ScriptHandler'
            InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
        }
    }
}
)";

velmo::ClassFactory<velmo::scripthandler::ScriptHandler> g_factory;

velmo::Registrar MakeRegistrar() { return velmo::ModuleRegistrar(reinterpret_cast<const void*>(&MakeRegistrar)); }

} // namespace

VELMO_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return velmo::ServeClassObject(g_factory, CLSID_ScriptHandler, clsid, riid, ppv);
}

VELMO_MODULE_EXPORT HRESULT DllCanUnloadNow() { return velmo::ModuleObjects() == 0 ? S_OK : S_FALSE; }

VELMO_MODULE_EXPORT HRESULT DllRegisterServer() { return MakeRegistrar().StringRegister(kScript); }

VELMO_MODULE_EXPORT HRESULT DllUnregisterServer() { return MakeRegistrar().StringUnregister(kScript); }

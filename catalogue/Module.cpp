// Rigstock.so: the module's entry points, its registration script and its
// type library RIGSTOCKLib.
#include "platform/ClassFactory.h"
#include "platform/TypeLib.h"
#include "catalogue/RegHelper.h"

namespace {

const char16_t* kScript = uR"(
HKCR
{
    Rigstock.RegHelper.1 = s 'RegHelper Class' { CLSID = s '{23B89E70-0EE8-473F-9669-C6CFEF9754B9}' }
    Rigstock.RegHelper = s 'RegHelper Class'
    {
        CLSID = s '{23B89E70-0EE8-473F-9669-C6CFEF9754B9}'
        CurVer = s 'Rigstock.RegHelper.1'
    }
    NoRemove CLSID
    {
        ForceRemove {23B89E70-0EE8-473F-9669-C6CFEF9754B9} = s 'RegHelper Class'
        {
            ProgID = s 'Rigstock.RegHelper.1'
            VersionIndependentProgID = s 'Rigstock.RegHelper'
            InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
            TypeLib = s '{FCCBD3DD-2E11-408A-BAE2-ED505253C246}'
        }
    }
}
)";

constexpr velmo::DispInterface kIRegHelper{u"IRegHelper", nullptr, IID_IRegHelper, u"IRegHelper Interface", {}};
constexpr const velmo::DispInterface* kInterfaces[] = {&kIRegHelper};
constexpr velmo::TypeLibDescription kRigstockLib{
    LIBID_RIGSTOCKLib, 1, 0, u"RIGSTOCKLib", u"Rigstock 1.0 Type Library", kInterfaces, nullptr};

velmo::ClassFactory<velmo::catalogue::RegHelper> g_factory;

const void* Anchor();
std::u16string ModulePath() { return velmo::Utf8ToUtf16(velmo::ModulePathOf(Anchor())); }
const void* Anchor() { return reinterpret_cast<const void*>(&ModulePath); }

}  // namespace

VELMO_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return velmo::ServeClassObject(g_factory, CLSID_RegHelper, clsid, riid, ppv);
}

VELMO_MODULE_EXPORT HRESULT DllCanUnloadNow() { return velmo::ModuleObjects() == 0 ? S_OK : S_FALSE; }

VELMO_MODULE_EXPORT HRESULT DllRegisterServer()
{
    HRESULT hr = velmo::ModuleRegistrar(Anchor()).StringRegister(kScript);
    if (FAILED(hr))
        return hr;
    return RegisterTypeLib(&kRigstockLib, ModulePath().c_str(), nullptr);
}

VELMO_MODULE_EXPORT HRESULT DllUnregisterServer()
{
    HRESULT hr = velmo::ModuleRegistrar(Anchor()).StringUnregister(kScript);
    // A library that is not registered any more is what removal wants.
    (void)UnRegisterTypeLib(LIBID_RIGSTOCKLib, 1, 0, 0, SYS_WIN64);
    return hr;
}

// Cellgate.so: the module's entry points, its registration script, its
// type library CellgateLib, and its entry in the installed-device catalogue.
#include "devices/cellgate/DeviceTemplate.h"
#include "devices/cellgate/PduDevice.h"
#include "interfaces/RegHelper.h"
#include "platform/ClassFactory.h"
#include "platform/MessageBox.h"
#include "platform/TypeLib.h"

namespace {

const char16_t* kScript = uR"(
HKCR
{
    Cellgate.PDU.1 = s 'PDU Class' { CLSID = s '{852F907B-3A8B-4CF5-B19D-8B813B2F7367}' }
    Cellgate.PDU = s 'PDU Class'
    {
        CLSID = s '{852F907B-3A8B-4CF5-B19D-8B813B2F7367}'
        CurVer = s 'Cellgate.PDU.1'
    }
    NoRemove CLSID
    {
        ForceRemove {852F907B-3A8B-4CF5-B19D-8B813B2F7367} = s 'PDU Class'
        {
            ProgID = s 'Cellgate.PDU.1'
            VersionIndependentProgID = s 'Cellgate.PDU'
            ForceRemove Programmable
            InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
            TypeLib = s '{9C70CEB0-A9ED-4B97-AD20-EEE3310986AC}'
        }
    }
}
)";

constexpr velmo::DispInterface kIPDU{u"IPDU", nullptr, IID_IPDU, u"IPDU Interface", {}};
constexpr velmo::DispInterface kICBS{u"ICBS", nullptr, IID_ICBS, u"ICBS Interface", {}};
constexpr const velmo::DispInterface* kInterfaces[] = {&kIPDU, &kICBS};
constexpr velmo::TypeLibDescription kCellgateLib{
    LIBID_CellgateLib, 1, 0, u"CellgateLib", u"Cellgate 1.0 Type Library", kInterfaces, nullptr};

velmo::ClassFactory<velmo::cellgate::PduDevice> g_factory;

const void* Anchor();
std::u16string ModulePath() { return velmo::Utf8ToUtf16(velmo::ModulePathOf(Anchor())); }
const void* Anchor() { return reinterpret_cast<const void*>(&ModulePath); }

}  // namespace

VELMO_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return velmo::ServeClassObject(g_factory, CLSID_PDU, clsid, riid, ppv);
}

VELMO_MODULE_EXPORT HRESULT DllCanUnloadNow() { return velmo::ModuleObjects() == 0 ? S_OK : S_FALSE; }

VELMO_MODULE_EXPORT HRESULT DllRegisterServer()
{
    // The class entries and the type library come first; their outcome
    // does not decide the result.
    (void)velmo::ModuleRegistrar(Anchor()).StringRegister(kScript);
    (void)RegisterTypeLib(&kCellgateLib, ModulePath().c_str(), nullptr);

    (void)CoInitialize(nullptr);  // bookkeeping only; cannot fail here
    velmo::ComPtr<IRegHelper> helper;
    HRESULT hr = CoCreateInstance(CLSID_RegHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IRegHelper, helper.ReceiveVoid());
    if (SUCCEEDED(hr)) {
        velmo::Bstr text(velmo::AnsiToUtf16(velmo::cellgate::kDeviceTemplate));
        hr = helper->Add(CLSID_PDU, text.get());
    }
    helper = nullptr;
    CoUninitialize();
    if (FAILED(hr)) {
        MessageBoxA(nullptr, "Velmo is not properly installed and/or configured on this system. Registration failed",
                    "Cellgate Registration Error", MB_OK | MB_ICONERROR);
        return hr;
    }
    return S_OK;
}

VELMO_MODULE_EXPORT HRESULT DllUnregisterServer()
{
    HRESULT hr = velmo::ModuleRegistrar(Anchor()).StringUnregister(kScript);
    HRESULT lib = UnRegisterTypeLib(LIBID_CellgateLib, 1, 0, 0, SYS_WIN64);
    if (SUCCEEDED(hr))
        hr = lib;
    (void)CoInitialize(nullptr);  // bookkeeping only; cannot fail here
    velmo::ComPtr<IRegHelper> helper;
    if (SUCCEEDED(
            CoCreateInstance(CLSID_RegHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IRegHelper, helper.ReceiveVoid())))
        (void)helper->Remove(CLSID_PDU);  // its outcome is ignored
    helper = nullptr;
    CoUninitialize();
    return hr;
}

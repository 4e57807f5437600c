// A component module for tests: one class, TestWidget, with its factory,
// registration script and the four exported entry points.
#include "TestWidget.h"

#include "platform/Activation.h"
#include "platform/ClassFactory.h"
#include "platform/ErrorInfo.h"
#include "platform/Registrar.h"
#include "platform/Text.h"

#include <atomic>
#include <new>

namespace {

const char16_t* kScript = uR"(
HKCR
{
    Test.Widget.1 = s 'TestWidget Class' { CLSID = s '{5A1E0C3D-7B42-4F0E-9C61-2D8E4B7A9F10}' }
    Test.Widget = s 'TestWidget Class'
    {
        CLSID = s '{5A1E0C3D-7B42-4F0E-9C61-2D8E4B7A9F10}'
        CurVer = s 'Test.Widget.1'
    }
    NoRemove CLSID
    {
        ForceRemove {5A1E0C3D-7B42-4F0E-9C61-2D8E4B7A9F10} = s 'TestWidget Class'
        {
            ProgID = s 'Test.Widget.1'
            InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
        }
    }
}
)";

class Widget final : public ITestWidget, public ISupportErrorInfo {
public:
    Widget() { ++velmo::ModuleObjects(); }
    ~Widget() { --velmo::ModuleObjects(); }
    Widget(const Widget&) = delete;
    Widget& operator=(const Widget&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITestWidget)
            *ppv = static_cast<ITestWidget*>(this);
        else if (riid == IID_ISupportErrorInfo)
            *ppv = static_cast<ISupportErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT Add(LONG a, LONG b, LONG* sum) override
    {
        if (!sum)
            return E_POINTER;
        *sum = a + b;
        return S_OK;
    }
    HRESULT Refuse() override { return velmo::ReportError(u"Test.Widget.1", u"widget refused"); }
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override { return riid == IID_ITestWidget ? S_OK : S_FALSE; }

private:
    std::atomic<ULONG> refs_{1};
};

} // namespace

VELMO_SINGLE_CLASS_MODULE(Widget, CLSID_TestWidget, kScript)

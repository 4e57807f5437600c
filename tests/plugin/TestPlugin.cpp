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

class Widget final : public velmo::ComObject<ITestWidget, ISupportErrorInfo> {
public:
    HRESULT Add(LONG a, LONG b, LONG* sum) override
    {
        if (!sum)
            return E_POINTER;
        *sum = a + b;
        return S_OK;
    }
    HRESULT Refuse() override { return velmo::ReportError(u"Test.Widget.1", u"widget refused"); }
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override { return riid == IID_ITestWidget ? S_OK : S_FALSE; }
};

}  // namespace

VELMO_SINGLE_CLASS_MODULE(Widget, CLSID_TestWidget, kScript)

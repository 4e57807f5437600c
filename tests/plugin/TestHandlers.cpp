// Event-handler components for the tests: five classes that differ in
// their answer. Each call appends one line to the file named by
// VELMO_TEST_HANDLER_LOG: "<handler> from=<From> body=<Body> to=<To> date=<Date>".
#include "interfaces/VelmoLib.h"
#include "platform/ClassFactory.h"
#include "platform/ErrorInfo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

enum class Answer { Continue, Break, Raise, NoMethod, SlowContinue };

constexpr CLSID kHandlerIds[] = {velmo::MakeGuid("{7E570001-0000-4000-8000-000000000001}"),
                                 velmo::MakeGuid("{7E570001-0000-4000-8000-000000000002}"),
                                 velmo::MakeGuid("{7E570001-0000-4000-8000-000000000003}"),
                                 velmo::MakeGuid("{7E570001-0000-4000-8000-000000000004}"),
                                 velmo::MakeGuid("{7E570001-0000-4000-8000-000000000005}"),
                                 velmo::MakeGuid("{7E570001-0000-4000-8000-000000000006}")};

std::string Get(IVelmo* m, HRESULT (IVelmo::*getter)(BSTR*))
{
    velmo::Bstr value;
    (m->*getter)(value.Receive());
    return value.Utf8();
}

template <int N, Answer A>
class Handler final : public velmo::ComObject<IDispatch> {
public:
    // IDispatch written by hand, as a handler from elsewhere would be.
    HRESULT GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override
    {
        if (A == Answer::NoMethod || std::u16string(names[0]) != u"OnIncoming")
            return DISP_E_UNKNOWNNAME;
        ids[0] = 1;
        return S_OK;
    }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        velmo::ComPtr<IVelmo> message;
        if (params->cArgs != 1 || params->rgvarg[0].vt != VT_DISPATCH ||
            FAILED(params->rgvarg[0].pdispVal->QueryInterface(IID_IVelmo, message.ReceiveVoid())))
            return DISP_E_TYPEMISMATCH;
        VARIANT date;
        VariantInit(&date);
        message->get_Date(&date);
        if (const char* log = std::getenv("VELMO_TEST_HANDLER_LOG")) {
            if (std::FILE* f = std::fopen(log, "a")) {
                std::fprintf(f, "H%d from=%s body=%s to=%s date=%.9f\n", N,
                             Get(message.get(), &IVelmo::get_From).c_str(),
                             Get(message.get(), &IVelmo::get_Body).c_str(), Get(message.get(), &IVelmo::get_To).c_str(),
                             date.vt == VT_DATE ? date.date : -1.0);
                std::fclose(f);
            }
        }
        if (A == Answer::SlowContinue)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (A == Answer::Raise)
            return velmo::ReportError(u"Test.Handler", u"handler refused");
        if (result) {
            result->vt = VT_I4;
            result->lVal = A == Answer::Break ? velmoBreak : velmoContinue;
        }
        return S_OK;
    }
};

velmo::ClassFactory<Handler<1, Answer::Continue>> g_h1;
velmo::ClassFactory<Handler<2, Answer::Break>> g_h2;
velmo::ClassFactory<Handler<3, Answer::Continue>> g_h3;
velmo::ClassFactory<Handler<4, Answer::Raise>> g_h4;
velmo::ClassFactory<Handler<5, Answer::NoMethod>> g_h5;
velmo::ClassFactory<Handler<6, Answer::SlowContinue>> g_h6;

}  // namespace

VELMO_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    IClassFactory* factories[] = {&g_h1, &g_h2, &g_h3, &g_h4, &g_h5, &g_h6};
    for (int i = 0; i < 6; ++i)
        if (clsid == kHandlerIds[i])
            return factories[i]->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

VELMO_MODULE_EXPORT HRESULT DllCanUnloadNow() { return velmo::ModuleObjects() == 0 ? S_OK : S_FALSE; }

VELMO_MODULE_EXPORT HRESULT DllRegisterServer()
{
    std::u16string script = u"HKCR { NoRemove CLSID {";
    for (int i = 1; i <= 6; ++i)
        script += u" ForceRemove {7E570001-0000-4000-8000-00000000000" +
                  std::u16string(1, static_cast<char16_t>(u'0' + i)) +
                  u"} = s 'Test Handler' { InprocServer32 = s '%MODULE%' }";
    script += u" } }";
    return velmo::ModuleRegistrar(reinterpret_cast<const void*>(&DllRegisterServer)).StringRegister(script);
}

VELMO_MODULE_EXPORT HRESULT DllUnregisterServer() { return S_OK; }

#include "tools/velmo/ServiceClient.h"

#include "gatewayclient/GatewayClient.h"
#include "interfaces/VelmoLib.h"
#include "platform/Activation.h"
#include "platform/Automation.h"
#include "platform/ErrorInfo.h"
#include "platform/Text.h"

#include <cstdio>

namespace velmo::cli {

namespace {

std::string Describe(HRESULT hr, const EXCEPINFO* excep)
{
    if (excep && excep->bstrDescription && SysStringLen(excep->bstrDescription) > 0)
        return Utf16ToUtf8({excep->bstrDescription, SysStringLen(excep->bstrDescription)});
    if (auto text = TakeErrorDescription(); text && !text->IsEmpty())
        return text->Utf8();
    // The system texts of the codes the service returns without a description.
    static const struct {
        HRESULT hr;
        const char* text;
    } kKnown[] = {
        {CO_E_CLASSSTRING, "invalid identifier (expected the braced form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})"},
        {REGDB_E_CLASSNOTREG, "class not registered"},
        {E_NOTIMPL, "not implemented"},
        {E_INVALIDARG, "the parameter is incorrect"},
        {E_OUTOFMEMORY, "out of memory"},
    };
    char code[160];
    for (const auto& k : kKnown)
        if (k.hr == hr) {
            std::snprintf(code, sizeof code, "%s (0x%08X)", k.text, static_cast<unsigned>(hr));
            return code;
        }
    std::snprintf(code, sizeof code, "the call failed with code 0x%08X", static_cast<unsigned>(hr));
    return code;
}

}  // namespace

ServiceObject::ServiceObject(const CLSID& clsid, const std::string& host)
{
    RegisterBusInterfaces(velmolib::kInterfaces);
    std::u16string name = Utf8ToUtf16(host);
    COSERVERINFO server{0, host.empty() ? nullptr : name.data(), nullptr, 0};
    MULTI_QI qi{&IID_IDispatch, nullptr, S_OK};
    HRESULT hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                    host.empty() ? nullptr : &server, 1, &qi);
    if (FAILED(hr) || FAILED(qi.hr)) {
        HRESULT why = FAILED(hr) ? hr : qi.hr;
        std::string detail = Describe(why, nullptr);
        if (why == E_ACCESSDENIED)
            detail = gatewayclient::kAccessDeniedText;
        error_ = "cannot reach the Velmo service: " + detail;
        return;
    }
    object_ = static_cast<IDispatch*>(qi.pItf);
}

ServiceObject::~ServiceObject()
{
    if (object_)
        object_->Release();
}

bool ServiceObject::Call(const char16_t* name, std::vector<VARIANT> args, VARIANT* result)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(hr)) {
        error_ = "the service has no member " + Utf16ToUtf8(name);
        return false;
    }
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO excep{};
    UINT argErr = 0;
    hr = object_->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, result, &excep, &argErr);
    if (FAILED(hr))
        error_ = Describe(hr, &excep);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return SUCCEEDED(hr);
}

bool TakeHostOption(std::vector<std::string>& args, std::string& host)
{
    while (!args.empty() && args[0] == "--host") {
        if (args.size() < 2 || args[1].empty())
            return false;
        host = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    return true;
}

}  // namespace velmo::cli

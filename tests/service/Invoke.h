// Calls on an automation object through IDispatch::Invoke, as the bus
// bridge and event handlers make them, with what the call reported.
#pragma once

#include "platform/Dispatch.h"
#include "platform/Text.h"
#include "platform/Variant.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using velmo::Bstr;
using velmo::Variant;

inline DISPID IdOf(IDispatch* d, const char16_t* name)
{
    DISPID id = -1;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0x800, &id), S_OK) << velmo::Utf16ToUtf8(name);
    return id;
}

struct Outcome {
    HRESULT hr;
    Variant result;
    std::string source, description;
};

// Invokes a member with positional arguments given in declared order.
inline Outcome Call(IDispatch* d, const char16_t* name, WORD flags, std::vector<Variant> args = {})
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                      static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    Outcome out;
    EXCEPINFO info{};
    UINT argErr = 0;
    out.hr = d->Invoke(IdOf(d, name), IID_NULL, 0x800, flags, &params, out.result.Receive(), &info, &argErr);
    if (out.hr == DISP_E_EXCEPTION) {
        out.source = Bstr::Attach(info.bstrSource).Utf8();
        out.description = Bstr::Attach(info.bstrDescription).Utf8();
        SysFreeString(info.bstrHelpFile);
    }
    return out;
}

inline Variant Omitted()
{
    Variant v;
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

#include "platform/BusInvoke.h"

#include "platform/Guid.h"

namespace velmo::detail {

InvokeOutcome InvokeMember(IDispatch* object, const DispMember& member, std::vector<Variant> in)
{
    InvokeOutcome out;
    std::vector<VARIANTARG> args;  // declared order; reversed below
    std::size_t nextIn = 0;
    std::size_t outCount = 0;
    for (const auto& a : member.args)
        if (a.dir == ArgDir::Out)
            ++outCount;
    out.outs.resize(outCount);
    std::size_t nextOut = 0;
    if (member.kind == DISPATCH_PROPERTYPUT) {
        if (!in.empty())
            args.push_back(in[0]);
    } else {
        for (const auto& a : member.args) {
            if (a.dir == ArgDir::In) {
                args.push_back(nextIn < in.size() ? static_cast<VARIANT&>(in[nextIn]) : VARIANT{});
                ++nextIn;
            } else if (a.dir == ArgDir::Out) {
                VARIANT ref;
                VariantInit(&ref);
                ref.vt = VT_BYREF | VT_VARIANT;
                ref.pvarVal = &out.outs[nextOut++];
                args.push_back(ref);
            }
        }
    }
    // The VARIANTs in args alias in and out.outs, which own their values.
    std::vector<VARIANTARG> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (member.kind == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    EXCEPINFO excep{};
    UINT argErr = 0;
    bool wantsResult = member.kind == DISPATCH_PROPERTYGET || member.result != VT_VOID;
    out.hr = object->Invoke(member.dispid, IID_NULL, LOCALE_SYSTEM_DEFAULT, member.kind, &params,
                            wantsResult ? out.result.Receive() : nullptr, &excep, &argErr);
    if (FAILED(out.hr))
        out.error = ErrorFromHResult(out.hr, &excep);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return out;
}

}  // namespace velmo::detail

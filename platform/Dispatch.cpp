#include "platform/Dispatch.h"

#include "platform/ErrorInfo.h"
#include "platform/Text.h"

#include <vector>

namespace velmo {

const DispMember* DispatchTable::Find(DISPID id, WORD flags) const
{
    for (const auto& m : iface_.members)
        if (m.dispid == id && (m.kind & flags))
            return &m;
    return nullptr;
}

const DispMember* DispatchTable::FindByName(std::u16string_view name, WORD kind) const
{
    for (const auto& m : iface_.members)
        if ((m.kind & kind) && EqualsNoCase(name, m.name))
            return &m;
    return nullptr;
}

HRESULT DispatchTable::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* dispids) const
{
    if (!names || !dispids || count == 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    const DispMember* member = nullptr;
    for (UINT i = 0; i < count; ++i) {
        dispids[i] = DISPID_UNKNOWN;
        if (!names[i]) {
            hr = DISP_E_UNKNOWNNAME;
            continue;
        }
        std::u16string_view name(names[i]);
        if (i == 0) {
            for (const auto& m : iface_.members)
                if (EqualsNoCase(name, m.name)) {
                    member = &m;
                    break;
                }
            if (!member) {
                hr = DISP_E_UNKNOWNNAME;
                continue;
            }
            dispids[0] = member->dispid;
            continue;
        }
        // Further names are argument names of the first.
        if (!member) {
            hr = DISP_E_UNKNOWNNAME;
            continue;
        }
        bool found = false;
        for (std::size_t a = 0; a < member->args.size(); ++a)
            if (EqualsNoCase(name, member->args[a].name)) {
                dispids[i] = static_cast<DISPID>(a);
                found = true;
            }
        if (!found)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

namespace {

// A member that raised an exception (DISP_E_EXCEPTION) left its error
// object on the thread: the caller's EXCEPINFO gets its fields.
void FillExcepInfo(HRESULT hr, EXCEPINFO* excepInfo)
{
    if (hr != DISP_E_EXCEPTION || !excepInfo)
        return;
    *excepInfo = EXCEPINFO{};
    excepInfo->scode = hr;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) == S_OK) {
        info->GetSource(&excepInfo->bstrSource);
        info->GetDescription(&excepInfo->bstrDescription);
        info->GetHelpFile(&excepInfo->bstrHelpFile);
        info->GetHelpContext(&excepInfo->dwHelpContext);
        // Put it back so callers that read GetErrorInfo still find it.
        SetErrorInfo(0, info.get());
    }
}

}  // namespace

HRESULT DispatchTable::Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                              UINT* argErr, const DispCall& call) const
{
    DISPPARAMS empty{nullptr, nullptr, 0, 0};
    if (!params)
        params = &empty;
    const DispMember* m = Find(id, flags);
    if (!m)
        return DISP_E_MEMBERNOTFOUND;

    std::vector<Variant> args;
    if (m->kind == DISPATCH_PROPERTYPUT || m->kind == DISPATCH_PROPERTYPUTREF) {
        if (params->cArgs != 1)
            return DISP_E_BADPARAMCOUNT;
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTFOUND;
        Variant v;
        if (m->result == VT_VARIANT) {
            HRESULT hr = VariantCopyInd(&v, &params->rgvarg[0]);
            if (FAILED(hr))
                return hr;
        } else {
            HRESULT hr = VariantChangeType(&v, &params->rgvarg[0], 0, m->result);
            if (FAILED(hr)) {
                if (argErr)
                    *argErr = 0;
                return DISP_E_TYPEMISMATCH;
            }
        }
        args.push_back(std::move(v));
        HRESULT hr = call(*m, std::span<Variant>(args.data(), args.size()), nullptr);
        FillExcepInfo(hr, excepInfo);
        return hr;
    }

    // Arguments in declared order; the retval (if any) is the result.
    std::size_t declared = 0;
    for (const auto& a : m->args)
        if (a.dir != ArgDir::Retval)
            ++declared;
    if (params->cArgs > declared)
        return DISP_E_BADPARAMCOUNT;
    for (UINT n = 0; n < params->cNamedArgs; ++n) {
        DISPID named = params->rgdispidNamedArgs[n];
        if (named < 0 || static_cast<std::size_t>(named) >= declared)
            return DISP_E_PARAMNOTFOUND;
    }

    args.resize(declared);
    std::vector<bool> given(declared, false);
    UINT positional = params->cArgs - params->cNamedArgs;
    for (UINT p = 0; p < params->cArgs; ++p) {
        // rgvarg is in reverse order; named arguments come first in it.
        std::size_t index;
        if (p < params->cNamedArgs)
            index = static_cast<std::size_t>(params->rgdispidNamedArgs[p]);
        else
            index = positional - 1 - (p - params->cNamedArgs);
        if (given[index])
            return DISP_E_PARAMNOTFOUND;
        given[index] = true;
        const VARIANT& src = params->rgvarg[p];
        const DispArg& decl = m->args[index];
        bool omitted = src.vt == VT_ERROR && src.scode == DISP_E_PARAMNOTFOUND;
        if (decl.dir == ArgDir::Out || decl.type == VT_VARIANT || omitted) {
            // Out-arguments keep the caller's by-reference variant; it is
            // copied bitwise and never cleared here.
            static_cast<VARIANT&>(args[index]) = src;
            if (decl.dir != ArgDir::Out && !(src.vt & VT_BYREF)) {
                VariantInit(&args[index]);
                VariantCopy(&args[index], &src);
            }
            continue;
        }
        HRESULT hr = VariantChangeType(&args[index], &src, 0, decl.type);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = p;
            return DISP_E_TYPEMISMATCH;
        }
    }
    for (std::size_t i = 0; i < declared; ++i) {
        if (given[i])
            continue;
        if (!m->args[i].optional)
            return DISP_E_PARAMNOTOPTIONAL;
        args[i].vt = VT_ERROR;
        args[i].scode = DISP_E_PARAMNOTFOUND;
    }

    Variant ret;
    bool wantsResult = m->kind == DISPATCH_PROPERTYGET || m->result != VT_VOID;
    HRESULT hr = call(*m, std::span<Variant>(args.data(), args.size()), wantsResult ? &ret : nullptr);
    // Out-arguments were borrowed from the caller: forget them before the
    // vector clears its elements.
    for (std::size_t i = 0; i < declared; ++i)
        if (m->args[i].dir == ArgDir::Out || (args[i].vt & VT_BYREF))
            VariantInit(&args[i]);
    FillExcepInfo(hr, excepInfo);
    if (SUCCEEDED(hr) && result && wantsResult)
        ret.Detach(result);
    return hr;
}

}  // namespace velmo

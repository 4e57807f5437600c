// IDispatch written once for a component class: DispatchObject<Dual,
// Others...> is a ComObject whose IDispatch (answered also for Dual, the
// interface that derives from it) comes from a member table. GetIDsOfNames
// and Invoke go through the table; each member ends in the class's Call
// with its typed arguments. There is no ITypeInfo.
#pragma once

#include "platform/ClassFactory.h"
#include "platform/Dispatch.h"

namespace velmo {

template <class Dual, class... Others>
class DispatchObject : public ComObject<Dual, Others...> {
public:
    explicit DispatchObject(const DispInterface& iface) : table_(iface) {}

    HRESULT GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* dispids) override
    {
        return table_.GetIDsOfNames(names, count, dispids);
    }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                   UINT* argErr) override
    {
        return table_.Invoke(
            member, flags, params, result, excepInfo, argErr,
            [this](const DispMember& m, std::span<Variant> args, VARIANT* out) { return Call(m, args, out); });
    }

protected:
    void* QueryAlias(REFIID riid) override { return riid == IID_IDispatch ? static_cast<Dual*>(this) : nullptr; }
    virtual HRESULT Call(const DispMember& member, std::span<Variant> args, VARIANT* result) = 0;
    const DispatchTable& Table() const { return table_; }

private:
    DispatchTable table_;
};

}  // namespace velmo

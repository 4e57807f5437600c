// The common body of the service's automation objects: reference count,
// QueryInterface for IUnknown, IDispatch, the dual interface and
// ISupportErrorInfo, and IDispatch from the type library's member table.
// A derived class maps each member to its typed method in Call.
#pragma once

#include "platform/ClassFactory.h"
#include "platform/Dispatch.h"
#include "platform/ErrorInfo.h"

#include <atomic>
#include <mutex>

namespace velmo::automation {

// Live automation objects of the process, for tests and the service's own
// bookkeeping.
std::atomic<long>& LiveObjects();

template <class Dual>
class DualObject : public Dual, public ISupportErrorInfo {
public:
    explicit DualObject(const DispInterface& iface) : table_(iface) { ++LiveObjects(); }
    virtual ~DualObject() { --LiveObjects(); }
    DualObject(const DualObject&) = delete;
    DualObject& operator=(const DualObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == table_.Interface().iid)
            *ppv = static_cast<Dual*>(this);
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
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return riid == table_.Interface().iid ? S_OK : S_FALSE;
    }

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
        return table_.Invoke(member, flags, params, result, excepInfo, argErr,
                             [this](const DispMember& m, std::span<Variant> args, VARIANT* out) {
                                 return Call(m, args, out);
                             });
    }

protected:
    virtual HRESULT Call(const DispMember& member, std::span<Variant> args, VARIANT* result) = 0;
    std::mutex lock_;

private:
    DispatchTable table_;
    std::atomic<ULONG> refs_{1};
};

// The out-argument slot a caller gave (a by-reference VARIANT), or null
// when the argument was omitted.
VARIANT* OutSlot(Variant& arg);

} // namespace velmo::automation

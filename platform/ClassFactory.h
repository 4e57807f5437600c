// The class factory of an in-process component module, written once.
//
// ClassFactory<T> creates T with new (T starts with a reference count of
// 1, which the factory gives up after QueryInterface) and refuses
// aggregation. It lives as a static object of the module and is never
// destroyed through Release. ModuleObjects counts the module's live objects
// for DllCanUnloadNow: an object adds itself in its constructor and removes
// itself in its destructor.
#pragma once

#include "platform/Unknown.h"

#include <atomic>
#include <new>

namespace velmo {

inline std::atomic<long>& ModuleObjects()
{
    static std::atomic<long> count{0};
    return count;
}

template <class T>
class ClassFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        T* object = new (std::nothrow) T();
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

} // namespace velmo

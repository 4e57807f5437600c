// The class factory of an in-process component module, written once.
//
// ClassFactory<T> creates T with new, or with the maker it was given (T
// starts with a reference count of 1, which the factory gives up after
// QueryInterface), and refuses aggregation. It lives as a static object of the module and is never
// destroyed through Release. ModuleObjects counts the module's live objects
// for DllCanUnloadNow: an object adds itself in its constructor and removes
// itself in its destructor; ComObject does that, the reference count and
// QueryInterface for a class. ServeClassObject and ModuleRegistrar are the
// rest of a one-class module's entry points.
#pragma once

#include "platform/Activation.h"
#include "platform/Registrar.h"
#include "platform/Text.h"
#include "platform/Unknown.h"

#include <atomic>
#include <functional>
#include <new>
#include <tuple>
#include <type_traits>

namespace velmo {

inline std::atomic<long>& ModuleObjects()
{
    static std::atomic<long> count{0};
    return count;
}

// The IUnknown of a component class that implements Interfaces: a
// reference count that starts at 1 and deletes the object at 0, the
// module's object count, and QueryInterface answering IUnknown (with the
// first interface, the object's identity) and each interface's IID.
// QueryAlias answers further IIDs, such as a base interface's.
template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    ComObject() { ++ModuleObjects(); }
    virtual ~ComObject() { --ModuleObjects(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = riid == IID_IUnknown ? static_cast<First*>(this) : nullptr;
        ((*ppv == nullptr && riid == InterfaceId<Interfaces>::value ? (*ppv = static_cast<Interfaces*>(this))
                                                                    : nullptr),
         ...);
        if (!*ppv)
            *ppv = QueryAlias(riid);
        if (!*ppv)
            return E_NOINTERFACE;
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

protected:
    virtual void* QueryAlias(REFIID) { return nullptr; }

private:
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
    std::atomic<ULONG> refs_{1};
};

template <class T>
class ClassFactory final : public IClassFactory {
public:
    // make gives a new object (null when out of memory); without one, T's
    // default constructor is used.
    using Make = std::function<T*()>;
    ClassFactory() = default;
    explicit ClassFactory(Make make) : make_(std::move(make)) {}

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
        T* object = Create();
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    T* Create()
    {
        if (make_)
            return make_();
        if constexpr (std::is_default_constructible_v<T>)
            return new (std::nothrow) T();
        return nullptr;
    }

    Make make_;
};

// DllGetClassObject of a module with one class.
template <class T>
HRESULT ServeClassObject(ClassFactory<T>& factory, REFCLSID offered, REFCLSID asked, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (asked != offered)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, ppv);
}

// A registrar whose %MODULE% is the path of the module that holds anchor
// (the address of one of the module's own functions).
inline Registrar ModuleRegistrar(const void* anchor)
{
    Registrar r;
    r.AddReplacement(u"MODULE", Utf8ToUtf16(ModulePathOf(anchor)));
    return r;
}

}  // namespace velmo

// The four entry points of a module that serves one class registered by
// one script: DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer. Use once, at namespace scope, in the module.
#define VELMO_SINGLE_CLASS_MODULE(Class, Clsid, Script)                                                                \
    namespace {                                                                                                        \
    velmo::ClassFactory<Class> g_velmoFactory;                                                                         \
    velmo::Registrar VelmoModuleRegistrar()                                                                            \
    {                                                                                                                  \
        return velmo::ModuleRegistrar(reinterpret_cast<const void*>(&VelmoModuleRegistrar));                           \
    }                                                                                                                  \
    }                                                                                                                  \
    VELMO_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)                             \
    {                                                                                                                  \
        return velmo::ServeClassObject(g_velmoFactory, Clsid, clsid, riid, ppv);                                       \
    }                                                                                                                  \
    VELMO_MODULE_EXPORT HRESULT DllCanUnloadNow() { return velmo::ModuleObjects() == 0 ? S_OK : S_FALSE; }             \
    VELMO_MODULE_EXPORT HRESULT DllRegisterServer() { return VelmoModuleRegistrar().StringRegister(Script); }          \
    VELMO_MODULE_EXPORT HRESULT DllUnregisterServer() { return VelmoModuleRegistrar().StringUnregister(Script); }

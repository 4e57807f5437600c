// IUnknown, IClassFactory, IPersist and the smart pointer ComPtr.
//
// Interfaces are abstract classes laid out in COM vtable order, IUnknown's
// three operations first; the Itanium C++ ABI of one compiler is the binary
// contract between the service and its plugin modules. An interface type is
// tied to its IID with VELMO_INTERFACE_ID so that ComPtr and QueryInterface
// helpers can find it. Interfaces have no virtual destructor: objects end in
// their own Release.
#pragma once

#include "platform/Guid.h"

#include <utility>

namespace velmo {
template <class T>
struct InterfaceId;
}

// Declares the IID of an interface type; use at namespace scope.
#define VELMO_INTERFACE_ID(Type, Iid)                                                                                  \
    template <>                                                                                                        \
    struct velmo::InterfaceId<Type> {                                                                                  \
        static constexpr const IID& value = Iid;                                                                       \
    }

inline constexpr IID IID_IUnknown = velmo::MakeGuid("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IClassFactory = velmo::MakeGuid("{00000001-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPersist = velmo::MakeGuid("{0000010C-0000-0000-C000-000000000046}");

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0;

protected:
    ~IPersist() = default;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

VELMO_INTERFACE_ID(IUnknown, IID_IUnknown);
VELMO_INTERFACE_ID(IClassFactory, IID_IClassFactory);
VELMO_INTERFACE_ID(IPersist, IID_IPersist);

namespace velmo {

// Holds one reference to an interface, or nothing.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adds a reference of its own.
    explicit ComPtr(T* p) : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already holds.
    [[nodiscard]] static ComPtr Attach(T* p)
    {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    void reset()
    {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases what is held and gives the slot, for out-parameters.
    T** Receive()
    {
        reset();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    // QueryInterface for another interface type.
    template <class U>
    HRESULT As(ComPtr<U>& out) const
    {
        if (!p_)
            return E_POINTER;
        return p_->QueryInterface(InterfaceId<U>::value, out.ReceiveVoid());
    }
    // A new reference for an out-parameter.
    HRESULT CopyTo(T** out) const
    {
        if (!out)
            return E_POINTER;
        *out = p_;
        if (p_)
            p_->AddRef();
        return S_OK;
    }

private:
    T* p_ = nullptr;
};

}  // namespace velmo
